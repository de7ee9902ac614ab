// A native Wayland window to paste into on KWin, where foot cannot start (it divides by the output's
// physical size, -1 on a virtual KWin output): its field's text goes to the file named at each change.
#include <QApplication>
#include <QFile>
#include <QLineEdit>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("snipjar-paste-target"));
    QFile file(QApplication::arguments().value(1));
    QLineEdit field;
    QObject::connect(&field, &QLineEdit::textChanged, [&file](const QString& text) {
        file.resize(0);
        file.write(text.toUtf8());
        file.flush();
    });
    field.show();
    return file.open(QIODevice::WriteOnly) ? application.exec() : 1;
}
