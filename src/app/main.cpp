#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/SingleInstance.h"
#include "app/UnixSignalWatcher.h"
#include "app/cli/CommandHelp.h"
#include "app/cli/ScriptCommand.h"
#include "platform/AppIdentity.h"
#include "platform/LogCategories.h"
#include "platform/x11/X11Platform.h"
#include "platform/x11/XcbConnection.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <chrono>
#include <cstdio>
#include <sys/resource.h>

using namespace snipjar;

namespace {

void writeTo(FILE* stream, const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

void reportNoDisplay() {
    const QByteArray display = qgetenv("DISPLAY");
    writeTo(stderr, "snipjar: cannot open the X display" +
                        (display.isEmpty() ? QByteArray(" (DISPLAY is not set)") : " " + display) + "\n");
}

// Started as the process starts.
QElapsedTimer sinceStart;

int runApplication(int argc, char** argv) {
    // The lock comes first: a second copy leaves before it opens any connection to the display.
    SingleInstance instance;
    if (!instance.lock()) {
        QCoreApplication application(argc, argv);
        instance.notifyRunningInstance();
        return 0;
    }
    // Qt's GUI application cannot start without a display; look before it tries.
    if (!XcbConnection::open()) {
        reportNoDisplay();
        return 1;
    }
    QApplication application(argc, argv);
    // The panel and the tray are all there is; closing a window never ends the application.
    QApplication::setQuitOnLastWindowClosed(false);

    std::unique_ptr<X11Platform> platform = X11Platform::create();
    if (!platform) {
        reportNoDisplay();
        return 1;
    }
    QObject::connect(platform.get(), &X11Platform::displayLost, &application, [] {
        writeTo(stderr, "snipjar: the X display went away\n");
        QCoreApplication::exit(1);
    });

    AppDelegate delegate(*platform);
    QObject::connect(&instance, &SingleInstance::activationRequested, &delegate, &AppDelegate::togglePanel);
    instance.requestHandler = [&delegate](const QByteArray& request) { return delegate.answer(request); };
    UnixSignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &UnixSignalWatcher::terminationRequested, &application, [&delegate] {
        delegate.prepareForTermination();
        QCoreApplication::quit();
    });

    delegate.launch();
    // A second copy waits for the socket, so it reaches a first one that is ready: the hot key is
    // registered, and the panel is built when it is first asked for if it is not yet. Tests wait
    // for the socket for the same reason.
    instance.listen();
    // The tray icon is up and the hot key is registered: Snipjar is ready. Start-up benchmarks read
    // this line: the time since main began, the wall clock (so that they count from the moment they
    // spawned the process, the dynamic linker's work included) and the processor time used so far.
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto cpuMicroseconds = [](const timeval& time) {
        return qint64(time.tv_sec) * 1'000'000 + time.tv_usec;
    };
    qCDebug(lcApp).nospace() << "Ready after " << sinceStart.elapsed() << " ms, clock "
                             << std::chrono::duration_cast<std::chrono::microseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count()
                             << " us, processor "
                             << (cpuMicroseconds(usage.ru_utime) + cpuMicroseconds(usage.ru_stime)) / 1000
                             << " ms";
    return application.exec();
}

QStringList argumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    return arguments;
}

} // namespace

int main(int argc, char** argv) {
    sinceStart.start();
    QCoreApplication::setApplicationName(QStringLiteral("Snipjar"));
    QCoreApplication::setApplicationVersion(AppIdentity::version());

    // Read before any application object exists, since which one to make depends on the command.
    const CommandLine commandLine = CommandLine::parse(argumentsOf(argc, argv));
    if (commandLine.error) {
        writeTo(stderr, "snipjar: " + commandLine.error->toUtf8() + "; " +
                            CommandLine::usage(commandLine.command).toUtf8() + "\n");
        return 2;
    }
    switch (commandLine.command) {
    case CommandLine::Command::version:
        writeTo(stdout, "snipjar " + AppIdentity::version().toUtf8() + "\n");
        return 0;
    case CommandLine::Command::help: {
        const std::optional<CommandLine::Command> topic = CommandLine::commandNamed(commandLine.helpTopic);
        writeTo(stdout, (topic ? CommandHelp::of(*topic) : CommandHelp::overview()).toUtf8());
        return 0;
    }
    case CommandLine::Command::run:
        return runApplication(argc, argv);
    default:
        return ScriptCommand::run(commandLine, argc, argv);
    }
}
