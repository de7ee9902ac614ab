#include "app/AppDelegate.h"
#include "app/CommandLine.h"
#include "app/PlatformBackend.h"
#include "app/SingleInstance.h"
#include "app/UnixSignalWatcher.h"
#include "app/cli/CommandHelp.h"
#include "app/cli/CompletionScript.h"
#include "app/cli/InstanceClient.h"
#include "app/cli/ScriptCommand.h"
#include "app/cli/TerminalText.h"
#include "platform/ActivationToken.h"
#include "platform/AppIdentity.h"
#include "platform/LogCategories.h"
#include "platform/x11/QtDisplayWatch.h"
#include "store/ClipStore.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <optional>
#include <thread>
#include <utility>

#include <link.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace snipjar;

namespace {

void writeTo(FILE* stream, const QByteArray& bytes) {
    TerminalText::write(stream, bytes);
}

void reportNoDisplay() {
    writeTo(stderr, "snipjar: " + PlatformBackend::unavailableMessage().toUtf8() + "\n");
}

// Started as the process starts.
QElapsedTimer sinceStart;

// Said when the display's connection breaks; the Wayland backend says it of the compositor.
QByteArray displayWentAway = "snipjar: the X display went away\n";

// Qt's xcb plugin (and Xlib) end the process with exit(1) as soon as they find the X connection
// broken, mostly before the hot keys' own connection reports it, and no destructor runs then. The
// clips already captured are filed first: from a watch that mostly sees the broken connection
// before Qt does, else from the main thread's exit. The process then ends at once, since static
// destructors would run under threads still at work.
AppDelegate* runningDelegate = nullptr;

void fileQueuedClipsAndEnd() {
    if (AppDelegate* delegate = std::exchange(runningDelegate, nullptr)) {
        delegate->fileQueuedClips();
        writeTo(stderr, displayWentAway);
        ::_exit(1);
    }
}

// The process the delegate runs in; a child forked by QProcess that ends with _exit is not it.
std::atomic<pid_t> applicationPid{0};

} // namespace

// Qt's Wayland plugin (6.4) ends the process with _exit(1) from its own event thread the moment it
// finds the compositor gone, and offers no hook, while the clip being read then is still on its way
// to the store. Its call lands here instead of in the C library (the executable exports _exit):
// from another thread it asks the main thread to finish that capture, file what is queued and end
// the process, and waits for it within a bound; on the main thread it does that itself. The
// clipboard's own connection, which notices the loss too, may have asked for the same already.
extern "C" [[noreturn]] void _exit(int status) {
    if (::getpid() == applicationPid.load()) {
        if (::gettid() == ::getpid()) {
            fileQueuedClipsAndEnd();
        } else if (QCoreApplication* application = QCoreApplication::instance()) {
            QMetaObject::invokeMethod(application, &fileQueuedClipsAndEnd, Qt::QueuedConnection);
            std::this_thread::sleep_for(std::chrono::seconds(10));
        }
    }
    ::syscall(SYS_exit_group, status);
    __builtin_unreachable();
}

namespace {

// exit() runs the calling thread's thread_local destructors before any exit handler, and Qt calls
// it on the main thread; exit handlers that libraries register on first use (OpenSSL's cleanup,
// function-local statics) would otherwise run first and pull the filing's libraries away.
struct FileQueuedClipsOnExit {
    ~FileQueuedClipsOnExit() { fileQueuedClipsAndEnd(); }
};

// Starts Snipjar. `then` is a command of the desktop entry's actions (show-panel, show-settings),
// carried out once Snipjar is ready.
int runApplication(int argc, char** argv, const std::optional<CommandLine>& then = std::nullopt) {
    // The lock comes first: a second copy leaves before it opens any connection to the display.
    if (const std::optional<QString> problem =
            SingleInstance::untrustedFolder(SingleInstance::FolderUse::create)) {
        writeTo(stderr, "snipjar: " + problem->toUtf8() + "\n");
        return 1;
    }
    SingleInstance instance;
    if (!instance.lock()) {
        QCoreApplication application(argc, argv);
        if (then) {
            // Another copy started in between: it carries the command out.
            const std::optional<CommandOutcome> outcome = InstanceClient::send(*then);
            return outcome ? outcome->print()
                           : CommandOutcome::failure(QStringLiteral("Snipjar quit")).print();
        }
        if (const std::optional<QString> problem = instance.notifyRunningInstance()) {
            writeTo(stderr, "snipjar: " + problem->toUtf8() + "\n");
            return 1;
        }
        return 0;
    }
    // Qt's GUI application cannot start without a display; look before it tries, and choose the
    // backend, whose Qt plugin it loads.
    const std::optional<PlatformBackend::Kind> backend = PlatformBackend::choose();
    if (!backend) {
        reportNoDisplay();
        return 1;
    }
    if (*backend == PlatformBackend::Kind::wayland) {
        displayWentAway = "snipjar: the Wayland compositor went away\n";
    }
    // The history opens on a thread of its own while Qt connects to the display and loads its
    // plugins; the delegate takes it when it launches.
    std::future<std::unique_ptr<ClipStore>> openingStore =
        std::async(std::launch::async, &AppDelegate::openStore);
    QApplication application(argc, argv);
    // The panel and the tray are all there is; closing a window never ends the application.
    QApplication::setQuitOnLastWindowClosed(false);

    std::unique_ptr<PlatformServices> platform = PlatformBackend::create(*backend);
    if (!platform) {
        reportNoDisplay();
        return 1;
    }
    qCInfo(lcApp).noquote() << "Running on the" << PlatformBackend::name(*backend) << "backend";
    QObject::connect(platform.get(), &PlatformServices::displayLost, &application, [] {
        fileQueuedClipsAndEnd();
        writeTo(stderr, displayWentAway);
        QCoreApplication::exit(1);
    });

    // Declared before the delegate so that it outlives it: a signal that comes while the delegate
    // files the last clips and closes the store is absorbed instead of ending the process.
    UnixSignalWatcher signalWatcher;
    AppDelegate delegate(*platform);
    runningDelegate = &delegate;
    applicationPid = ::getpid();
    thread_local const FileQueuedClipsOnExit fileOnExit;
    const QtDisplayWatch displayWatch(fileQueuedClipsAndEnd);
    QObject::connect(&instance, &SingleInstance::activationRequested, &delegate, &AppDelegate::togglePanel);
    instance.requestHandler = [&delegate](const QByteArray& request, InstanceConnection& connection) {
        return delegate.answer(request, connection);
    };
    QObject::connect(&signalWatcher, &UnixSignalWatcher::terminationRequested, &application, [&delegate] {
        delegate.prepareForTermination();
        QCoreApplication::quit();
    });

    delegate.launch(openingStore.get());
    // A second copy waits for the socket, so it reaches a first one that is ready: the hot key is
    // registered, and the panel is built when it is first asked for if it is not yet. Tests wait
    // for the socket for the same reason.
    instance.listen();
    if (then) {
        QTimer::singleShot(0, &delegate, [&delegate, command = then->command, token = then->activationToken] {
            if (command == CommandLine::Command::showSettings) {
                delegate.openSettings(token);
            } else {
                delegate.showPanel(token);
            }
        });
    }
    // The tray icon is up and the hot key is registered: Snipjar is ready. Start-up benchmarks read
    // this line: the time since main began, the wall clock (so that they count from the moment they
    // spawned the process, the dynamic linker's work included), the processor time used so far by
    // the whole process and by the main thread alone (the least a start can take on an idle
    // machine), and the number of shared libraries loaded.
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    rusage mainThread{};
    ::getrusage(RUSAGE_THREAD, &mainThread);
    const auto cpuMilliseconds = [](const rusage& used) {
        const auto microseconds = [](const timeval& time) {
            return qint64(time.tv_sec) * 1'000'000 + time.tv_usec;
        };
        return (microseconds(used.ru_utime) + microseconds(used.ru_stime)) / 1000;
    };
    int sharedObjects = 0;
    ::dl_iterate_phdr(
        [](dl_phdr_info* object, size_t, void* count) {
            // Files only: neither the program itself nor the kernel's vDSO.
            *static_cast<int*>(count) += object->dlpi_name[0] == '/' ? 1 : 0;
            return 0;
        },
        &sharedObjects);
    qCDebug(lcApp).nospace() << "Ready after " << sinceStart.elapsed() << " ms, clock "
                             << std::chrono::duration_cast<std::chrono::microseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count()
                             << " us, processor " << cpuMilliseconds(usage) << " ms, main thread "
                             << cpuMilliseconds(mainThread) << " ms, " << sharedObjects
                             << " shared libraries";
    const int status = application.exec();
    // From here the delegate's destructor files what is queued.
    runningDelegate = nullptr;
    return status;
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
        writeTo(stdout, AppIdentity::versionLine());
        return 0;
    case CommandLine::Command::help: {
        const std::optional<CommandLine::Command> topic = CommandLine::commandNamed(commandLine.helpTopic);
        writeTo(stdout, (topic ? CommandHelp::of(*topic) : CommandHelp::overview()).toUtf8());
        return 0;
    }
    case CommandLine::Command::completions:
        writeTo(stdout, CompletionScript::of(commandLine.shell));
        return 0;
    case CommandLine::Command::run:
        return runApplication(argc, argv);
    case CommandLine::Command::showPanel:
    case CommandLine::Command::showSettings: {
        // The desktop entry's actions work whether Snipjar runs or not: when none answers, this
        // process becomes Snipjar and then opens what was asked for, with the token it was started
        // with. Qt would hand a Wayland token to whichever window asks for the focus first (the
        // welcome window, say), so it is taken out of the environment and kept for this window.
        CommandLine request = commandLine;
        request.activationToken = ActivationToken::fromEnvironment();
        ::unsetenv("XDG_ACTIVATION_TOKEN");
        if (const std::optional<int> status = ScriptCommand::sendToRunning(request, argc, argv)) {
            return *status;
        }
        return runApplication(argc, argv, request);
    }
    default:
        return ScriptCommand::run(commandLine, argc, argv);
    }
}
