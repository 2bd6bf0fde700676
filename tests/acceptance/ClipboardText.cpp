// dialscope-acceptance-clipboard: prints the text on the clipboard of the X
// display it runs on ($DISPLAY), so a scenario can read what a message box
// said after pressing Ctrl+C in it (a message box copies its caption, text
// and buttons). Prints nothing when the clipboard holds no text.
#include <QClipboard>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    const QByteArray text = QGuiApplication::clipboard()->text().toUtf8();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    return 0;
}
