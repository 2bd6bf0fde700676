// dialscope-acceptance-notice OUT.png TEXT: draws the program's notice (the
// message box with the application title, the exclamation icon, TEXT and an
// OK button) with the same toolkit on the X display it runs on ($DISPLAY),
// without putting it on the screen, and saves the picture. Same toolkit,
// style, fonts and display as the program under test, so a box the program
// shows with this text looks the same, and any other text does not.
#include <QApplication>
#include <QMessageBox>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 3)
        return 2;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Dialscope"), QString::fromUtf8(argv[2]),
                    QMessageBox::Ok);
    box.setAttribute(Qt::WA_DontShowOnScreen);
    box.show();
    QApplication::processEvents();
    return box.grab().toImage().save(QString::fromUtf8(argv[1]), "PNG") ? 0 : 1;
}
