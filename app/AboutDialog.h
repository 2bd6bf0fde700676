#pragma once

// "About Dialscope...": the program's icon, its name and version, and "&OK".

#include <QDialog>

class QLabel;

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
    QString text() const;

private:
    QLabel* m_text;
};
