#include "mainwnd/HelpWindow.h"

#include "res/StringTable.h"

#include <QFile>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

HelpWindow::HelpWindow(QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_browser(new QTextBrowser(this)) {
    setWindowTitle(loadString(IDS_HELP_TITLE));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
    m_browser->setOpenExternalLinks(false);
    resize(640, 520);
}

bool HelpWindow::showContents(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The file's name does not say HTML, so the text is set directly; links
    // inside it are anchors of the same page.
    m_browser->setHtml(QString::fromUtf8(file.readAll()));
    m_browser->scrollToAnchor(QStringLiteral("contents"));
    show();
    raise();
    activateWindow();
    return true;
}
