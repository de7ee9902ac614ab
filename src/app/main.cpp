#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/HistoryListing.h"
#include "app/SingleInstance.h"
#include "app/UnixSignalWatcher.h"
#include "model/HistoryReader.h"
#include "platform/AppIdentity.h"
#include "platform/x11/X11Platform.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

using namespace snipjar;

namespace {

void writeTo(FILE* stream, const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

int listHistory(const CommandLine& commandLine) {
    const HistoryReader reader;
    const HistoryListing listing(reader.items(), reader.devices());
    writeTo(stdout, commandLine.json ? listing.json(commandLine.limit) : listing.text(commandLine.limit));
    return 0;
}

int runApplication(QCoreApplication& application) {
    // The lock comes first: a second copy leaves before it opens any connection to the display.
    SingleInstance instance;
    if (!instance.acquire()) {
        // The running copy has been asked to show itself.
        return 0;
    }

    std::unique_ptr<X11Platform> platform = X11Platform::create();
    if (!platform) {
        const QByteArray display = qgetenv("DISPLAY");
        writeTo(stderr, "snipjar: cannot open the X display" +
                            (display.isEmpty() ? QByteArray(" (DISPLAY is not set)") : " " + display) + "\n");
        return 1;
    }
    QObject::connect(platform.get(), &X11Platform::displayLost, &application, [] {
        writeTo(stderr, "snipjar: the X display went away\n");
        QCoreApplication::exit(1);
    });

    AppDelegate delegate(*platform);
    QObject::connect(&instance, &SingleInstance::activationRequested, &delegate, &AppDelegate::togglePanel);
    UnixSignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &UnixSignalWatcher::terminationRequested, &application, [&delegate] {
        delegate.prepareForTermination();
        QCoreApplication::quit();
    });

    delegate.launch();
    return application.exec();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Snipjar"));
    QCoreApplication::setApplicationVersion(AppIdentity::version());

    const CommandLine commandLine = CommandLine::parse(application.arguments());
    if (commandLine.error) {
        writeTo(stderr,
                "snipjar: " + commandLine.error->toUtf8() + "\n" + CommandLine::usage().toUtf8() + "\n");
        return 2;
    }
    switch (commandLine.command) {
    case CommandLine::Command::version:
        writeTo(stdout, "snipjar " + AppIdentity::version().toUtf8() + "\n");
        return 0;
    case CommandLine::Command::help:
        writeTo(stdout, CommandLine::usage().toUtf8() + "\n");
        return 0;
    case CommandLine::Command::list:
        return listHistory(commandLine);
    case CommandLine::Command::run:
        break;
    }
    return runApplication(application);
}
