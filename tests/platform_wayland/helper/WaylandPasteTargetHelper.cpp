// A native Wayland window with a text field in front, for pasting on KWin, where foot cannot run
// (it divides by the output's physical size, which a virtual KWin output reports as -1). Whatever
// the field holds is written to the file named on the command line at each change.
#include <QApplication>
#include <QFile>
#include <QLineEdit>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("snipjar-paste-target"));
    const QString path = QApplication::arguments().value(1);
    QLineEdit field;
    QObject::connect(&field, &QLineEdit::textChanged, [&path](const QString& text) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write(text.toUtf8());
        }
    });
    field.show();
    // The file exists once the window is up, as foot's does once its shell runs.
    QFile(path).open(QIODevice::WriteOnly);
    return application.exec();
}
