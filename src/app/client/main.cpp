#include "app/CommandLine.h"
#include "app/client/CommandClient.h"

#include <QStringList>

using namespace snipjar;

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    if (const std::optional<int> status = CommandClient::answer(CommandLine::parse(arguments), argc, argv)) {
        return *status;
    }
    return CommandClient::handOver(argv);
}
