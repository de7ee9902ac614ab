#include "app/cli/InstanceRequestHandler.h"

#include "app/cli/SettingsCommand.h"
#include "app/settings/SettingsEvents.h"
#include "paste/HotKeyCombo.h"
#include "platform/UserSettings.h"

#include "app/cli/ClipIds.h"
#include "app/cli/ClipboardServer.h"
#include "app/cli/CommandRunner.h"
#include "app/cli/DirectAccess.h"
#include "app/cli/HistoryAccess.h"
#include "app/cli/HistoryExport.h"
#include "app/cli/HistoryImport.h"
#include "app/cli/RecordingPause.h"
#include "paste/Paster.h"
#include "paste/StoredClipPaster.h"
#include "platform/LogCategories.h"
#include "platform/PasteboardChangeTracking.h"
#include "store/ClipStore.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <thread>

namespace snipjar {

namespace {

using Command = CommandLine::Command;

// The running application's own store.
class InstanceAccess : public HistoryAccess {
public:
    InstanceAccess(ClipStore& store, const InstanceRequestHandler::Actions& actions)
        : clipStore(store)
        , onChange(actions.historyChanged)
        , onFiled(actions.clipFiled) {}

    // Thumbnails and sync fields are never printed; leaving them out keeps a listing quick.
    QList<HistoryEntry> entries() override {
        const ClipItemQuery query = ClipItemQuery::all().withoutLargeFields();
        QList<HistoryEntry> all;
        for (ClipItem& item : clipStore.syncContext().fetch(query)) {
            all << HistoryEntry{std::move(item), HistoryEntry::Store::synced};
        }
        for (ClipItem& item : clipStore.localContext().fetch(query)) {
            all << HistoryEntry{std::move(item), HistoryEntry::Store::localOnly};
        }
        std::stable_sort(all.begin(), all.end(), [](const HistoryEntry& a, const HistoryEntry& b) {
            return a.item.createdAt > b.item.createdAt;
        });
        return all;
    }
    QList<Device> devices() override { return clipStore.devices(); }
    std::optional<Clip> loadClip(const QUuid& id) override {
        std::optional<Clip> clip = clipStore.loadClip(id, clipStore.syncContainer());
        return clip ? clip : clipStore.loadClip(id, clipStore.localContainer());
    }
    ClipStore* store() override { return &clipStore; }
    std::optional<QUuid> file(const Clip& clip) override {
        const std::optional<QUuid> filed = DirectAccess::fileInto(clipStore, clip);
        if (filed && onFiled) {
            onFiled(*filed);
        }
        return filed;
    }
    void changed() override {
        if (onChange) {
            onChange();
        }
    }

private:
    ClipStore& clipStore;
    std::function<void()> onChange;
    std::function<void(const QUuid&)> onFiled;
};

CommandOutcome notUnderstood() {
    return CommandOutcome::usageError(QStringLiteral("the request was not understood"));
}

} // namespace

InstanceRequestHandler::InstanceRequestHandler(ClipStore& store, Pasteboard& pasteboard, Workspace& workspace,
                                               StoredClipPaster& paster, RecordingPause& pause,
                                               Actions actions)
    : store(store)
    , pasteboard(pasteboard)
    , workspace(workspace)
    , paster(paster)
    , recordingPause(pause)
    , actions(std::move(actions)) {}

QByteArray InstanceRequestHandler::handle(const QByteArray& request, InstanceConnection* from) {
    const QJsonDocument document = QJsonDocument::fromJson(request);
    CommandOutcome outcome = notUnderstood();
    if (document.isObject()) {
        const CommandLine commandLine = CommandLine::fromJson(document.object());
        if (commandLine.error) {
            outcome = CommandOutcome::usageError(*commandLine.error);
        } else if (commandLine.command == Command::watch) {
            // The answer acknowledges the watch; the rows follow on the same connection.
            const std::optional<QString> refused =
                from && actions.watch ? actions.watch(*from, commandLine.json)
                                      : std::optional(QStringLiteral("watch needs a connection of its own"));
            outcome = refused ? CommandOutcome::failure(*refused) : CommandOutcome::success();
        } else {
            outcome = run(commandLine);
        }
    }
    return QJsonDocument(outcome.toJson()).toJson(QJsonDocument::Compact) + '\n';
}

CommandOutcome InstanceRequestHandler::run(const CommandLine& commandLine) {
    if (commandLine.command == Command::exportHistory || commandLine.command == Command::importHistory) {
        return archive(commandLine);
    }
    if (CommandRunner::handles(commandLine.command)) {
        InstanceAccess access(store, actions);
        return CommandRunner::run(commandLine, access);
    }
    switch (commandLine.command) {
    case Command::copy:
        return copy(commandLine, false);
    case Command::paste:
        return copy(commandLine, true);
    case Command::pause:
        recordingPause.pause(commandLine.minutes);
        return CommandOutcome::success();
    case Command::resume:
        recordingPause.resume();
        return CommandOutcome::success();
    case Command::config:
        return SettingsCommand::run(commandLine, [this](const QString& key) { return applySetting(key); });
    case Command::status: {
        StatusCommand::AppState state = actions.appState ? actions.appState() : StatusCommand::AppState{};
        state.paused = recordingPause.isPaused();
        state.pausedUntil = recordingPause.until();
        InstanceAccess access(store, actions);
        return StatusCommand::report(commandLine, access, state);
    }
    case Command::showPanel:
    case Command::showSettings: {
        const auto& show =
            commandLine.command == Command::showPanel ? actions.showPanel : actions.showSettings;
        if (show) {
            show(commandLine.activationToken);
        }
        return CommandOutcome::success();
    }
    case Command::quit: {
        // The answer goes out first; the quit comes from the event loop.
        const std::function<void()> quit = actions.quit;
        QTimer::singleShot(0, [quit] {
            if (quit) {
                quit();
            }
        });
        return CommandOutcome::success();
    }
    default:
        return notUnderstood();
    }
}

CommandOutcome InstanceRequestHandler::copy(const CommandLine& commandLine, bool thenPaste) {
    if (!thenPaste && commandLine.fromStandardInput) {
        // As it is, and written the way the Paster writes, so that it is not recorded.
        pasteboard.write(ClipboardServer::standardInputContent(commandLine));
        setLastWrittenChangeCount(pasteboard.changeCount());
        qCInfo(lcPaste) << "Standard input copied on request";
        return CommandOutcome::success();
    }
    InstanceAccess access(store, actions);
    const auto resolved = ClipIds::resolve(commandLine.ids.value(0), access.entries());
    if (const QString* error = std::get_if<QString>(&resolved)) {
        return CommandOutcome::failure(*error);
    }
    const QUuid id = std::get<HistoryEntry>(resolved).item.id;
    if (thenPaste) {
        // As the panel does: into the window in front now.
        paster.paste(id, workspace.frontmostApplication());
        return CommandOutcome::success();
    }
    const std::optional<Clip> clip = access.loadClip(id);
    if (!clip) {
        return CommandOutcome::failure(
            QStringLiteral("the content of clip %1 cannot be read").arg(ClipIds::printed(id)));
    }
    // Written the way the Paster writes, so the clipboard monitor does not record it again.
    pasteboard.write(Paster::content(*clip, Paster::tiffFallback(*clip)));
    setLastWrittenChangeCount(pasteboard.changeCount());
    qCInfo(lcPaste) << "Clip copied on request";
    return CommandOutcome::success();
}

std::optional<QString> InstanceRequestHandler::applySetting(const QString& key) {
    SettingsEvents& events = SettingsEvents::instance();
    if (key == QLatin1String("hotKey")) {
        const std::optional<QString> wanted = UserSettings::hotKey();
        emit events.hotKeyChanged();
        // A combination another program holds does not replace the one that works, which the
        // setting then names again.
        if (UserSettings::hotKey() != wanted) {
            return QStringLiteral("another program holds that combination; the hot key stays %1")
                .arg(HotKeyCombo::fromSettings().linuxDisplayString());
        }
    } else if (key == QLatin1String("historyLength") || key == QLatin1String("retentionDays")) {
        store.enforceLimitsNow();
        emit events.limitsChanged();
    } else if (key == QLatin1String("keepClipboardWhenOwnerQuits")) {
        emit events.keepClipboardChanged();
    } else if (key == QLatin1String("recordSelectedText")) {
        emit events.recordSelectedTextChanged();
    } else if (key == QLatin1String("syncEnabled")) {
        emit events.syncEnabledChanged();
    } else if (key == QLatin1String("syncServer")) {
        emit events.syncAccountChanged();
    } else if (key == QLatin1String("launchAtLogin")) {
        emit events.launchAtLoginChanged();
    }
    if (actions.historyChanged) {
        actions.historyChanged();
    }
    return std::nullopt;
}

CommandOutcome InstanceRequestHandler::archive(const CommandLine& commandLine) {
    if (archiving) {
        return CommandOutcome::failure(QStringLiteral("an export or import is already running"));
    }
    archiving = true;
    InstanceAccess access(store, actions);
    const bool exporting = commandLine.command == Command::exportHistory;
    // The keys are read here, on the store's thread; the worker only files, which the store
    // allows on any thread with contexts of its own.
    const QSet<QString> keys = exporting ? QSet<QString>() : HistoryImport::keysOf(access);
    CommandOutcome outcome;
    std::optional<HistoryImport::Result> imported;
    QEventLoop loop;
    std::thread worker([&] {
        if (exporting) {
            outcome = HistoryExport::write(commandLine.path, HistoryReader());
        } else {
            std::variant<HistoryImport::Plan, QString> checked = HistoryImport::check(commandLine.path);
            if (const QString* problem = std::get_if<QString>(&checked)) {
                outcome = CommandOutcome::failure(*problem);
            } else {
                imported = HistoryImport::file(std::get<HistoryImport::Plan>(checked), store, keys);
            }
        }
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec();
    // Returns at once unless the application is quitting meanwhile, which waits for the file.
    worker.join();
    archiving = false;
    qCInfo(lcApp) << (exporting ? "History export" : "History import") << "finished on request";
    return imported ? HistoryImport::finish(*imported, store, access) : outcome;
}

} // namespace snipjar
