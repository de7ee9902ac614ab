#include "app/CommandLine.h"
#include "app/client/CommandClient.h"
#include "app/client/CommandClientModule.h"

#include <QStringList>

extern "C" Q_DECL_EXPORT int snipjar_command_client(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    const std::optional<int> status =
        snipjar::CommandClient::answer(snipjar::CommandLine::parse(arguments), argc, argv);
    return status.value_or(snipjarCommandHandOver);
}
