#pragma once

// The online help: the help file (HTML) in a window of its own, opened at its
// contents page. One window is reused; opening it again brings it forward.

#include <QWidget>

class QTextBrowser;

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // Shows `path` at its contents page; false when the file cannot be read.
    bool showContents(const QString& path);
    QTextBrowser* browser() const { return m_browser; }

private:
    QTextBrowser* m_browser;
};
