#include "platform/AppIdentity.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QTextStream(stdout) << "snipjar " << snipjar::AppIdentity::version() << Qt::endl;
    return 0;
}
