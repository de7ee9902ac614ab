#include "app/AppDelegate.h"

#include "app/ClipWatchers.h"
#include "app/PlatformAbility.h"
#include "app/SyncSwitch.h"
#include "app/cli/InstanceRequestHandler.h"
#include "app/cli/RecordingPause.h"
#include "app/onboarding/OnboardingWindow.h"
#include "app/settings/DesktopShortcut.h"
#include "app/settings/SettingsEvents.h"
#include "app/settings/SettingsWindow.h"
#include "app/tray/StatusItem.h"
#include "app/update/Updater.h"
#include "capture/ClipboardMonitor.h"
#include "capture/PrimarySelectionMonitor.h"
#include "panel/widgets/PanelController.h"
#include "panel/widgets/WindowActivation.h"
#include "paste/ClipboardKeeper.h"
#include "paste/HotKey.h"
#include "paste/HotKeyCombo.h"
#include "paste/Paster.h"
#include "paste/StoredClipPaster.h"
#include "platform/AppIdentity.h"
#include "platform/AppPaths.h"
#include "platform/LaunchAtLogin.h"
#include "platform/LogCategories.h"
#include "platform/PlatformServices.h"
#include "platform/UserSettings.h"
#include "store/ClipStore.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QTimer>

namespace snipjar {

namespace {

// A command asked for a window. The token was checked (printable ASCII of bounded length), so it
// is logged as it came.
void logRequest(const char* window, const std::optional<QString>& activationToken) {
    if (activationToken) {
        qCInfo(lcApp).noquote() << window << "asked for with the activation token" << *activationToken;
    } else {
        qCInfo(lcApp) << window << "asked for without an activation token";
    }
}

} // namespace

AppDelegate::AppDelegate(PlatformServices& platform, QObject* parent)
    : QObject(parent)
    , platform(platform)
    , updater(std::make_unique<Updater>())
    , recordingPause(std::make_unique<RecordingPause>()) {}

AppDelegate::~AppDelegate() {
    terminating = true;
    requests.reset();
    if (onboarding) {
        delete onboarding.data();
    }
    settingsWindow.reset();
    // The tray, the hot key and the monitor call back into the panel and the store; they go first.
    // The monitor files every clip still queued as it goes.
    status.reset();
    hotKey.reset();
    // The engine's last state is saved and a page being applied is finished before the store goes.
    syncSwitch.reset();
    selectionMonitor.reset();
    primarySelection.reset();
    // What Snipjar put on the clipboard goes to another clipboard manager, if one runs, while the
    // clipboard can still serve it.
    if (keeper) {
        keeper->handOverBeforeQuit();
    }
    keeper.reset();
    monitor.reset();
    panelController.reset();
    clipPaster.reset();
    paster.reset();
    clipStore.reset();
}

std::unique_ptr<ClipStore> AppDelegate::openStore() {
    auto store = std::make_unique<ClipStore>();
    store->registerThisMac();
    // No sync callback is set yet, so deletions made here are not sent anywhere.
    store->enforceLimitsNow();
    return store;
}

void AppDelegate::launch(std::unique_ptr<ClipStore> openedStore) {
    LaunchAtLogin::configureOnFirstRun();
    clipStore = openedStore ? std::move(openedStore) : openStore();
    paster = std::make_unique<Paster>(*platform.pasteboard, *platform.workspace, *platform.keySynthesizer,
                                      *platform.desktopNotifier, platform.primarySelection.get());
    clipPaster = std::make_unique<StoredClipPaster>(*clipStore, *paster, *platform.workspace);
    const QPointer<AppDelegate> self(this);

    monitor = std::make_unique<ClipboardMonitor>(*clipStore, *platform.pasteboard, *platform.workspace);
    monitor->ingestor().reportFailuresTo(*platform.desktopNotifier);
    monitor->start();
    startClipboardKeeper();
    applySelectedTextRecording();
    connect(&SettingsEvents::instance(), &SettingsEvents::recordSelectedTextChanged, this,
            &AppDelegate::applySelectedTextRecording);

    syncSwitch = std::make_unique<SyncSwitch>(*clipStore, platform);
    connect(syncSwitch.get(), &SyncSwitch::stateChanged, this, &AppDelegate::showSyncState);
    syncSwitch->follow();
    connect(recordingPause.get(), &RecordingPause::changed, this, &AppDelegate::applyRecordingPause);

    registerHotKey();
    // A desktop portal that answers after start takes the hot key from then on.
    const QPointer<AppDelegate> delegate(this);
    platform.globalHotKeys->onGrabsKeysChanged = [delegate] {
        if (delegate) {
            delegate->registerHotKey();
        }
    };
    // A combination recorded in the settings (or written there by hand and announced) takes over
    // at once, without a restart.
    connect(&SettingsEvents::instance(), &SettingsEvents::hotKeyChanged, this, &AppDelegate::registerHotKey);
    installStatusItem();

    InstanceRequestHandler::Actions actions;
    actions.showPanel = [self](const std::optional<QString>& activationToken) {
        if (self) {
            self->showPanel(activationToken);
        }
    };
    actions.showSettings = [self](const std::optional<QString>& activationToken) {
        if (self) {
            self->openSettings(activationToken);
        }
    };
    actions.quit = [self] {
        if (self) {
            self->quit();
        }
    };
    actions.historyChanged = [self] {
        if (self && self->panelController) {
            self->panelController->reloadIfVisible();
        }
    };
    actions.appState = [self] {
        StatusCommand::AppState state;
        if (!self) {
            return state;
        }
        state.backend = self->platform.backendName();
        for (const PlatformAbility& ability : PlatformAbility::of(self->platform)) {
            state.abilities.append({ability.key, ability.label, ability.text});
        }
        if (self->syncSwitch && self->syncSwitch->isOn()) {
            state.syncProblem = self->syncSwitch->statusText();
            state.syncState = self->syncSwitch->isSyncing() ? QStringLiteral("syncing")
                              : state.syncProblem           ? QStringLiteral("problem")
                                                            : QStringLiteral("idle");
        } else if (self->syncSwitch && self->syncSwitch->encryptionProblem()) {
            state.syncProblem = self->syncSwitch->encryptionProblem();
            state.syncState = QStringLiteral("problem");
        }
        return state;
    };
    watchers = std::make_unique<ClipWatchers>(*clipStore);
    ClipWatchers* const watching = watchers.get();
    // A job's last change is the filed clip's own (deletions by the limits come before it); a job
    // with none filed nothing.
    connect(&monitor->ingestor(), &ClipIngestor::jobFinished, watching,
            [watching](const QList<ClipSyncChange>& changes) {
                if (!changes.isEmpty() && changes.last().type == ClipSyncChange::Type::save) {
                    watching->clipFiled(changes.last().id);
                }
            });
    actions.clipFiled = [watching](const QUuid& id) { watching->clipFiled(id); };
    actions.watch = [watching](InstanceConnection& connection, bool json) {
        return watching->subscribe(connection, json);
    };
    requests = std::make_unique<InstanceRequestHandler>(*clipStore, *platform.pasteboard, *platform.workspace,
                                                        *clipPaster, *recordingPause, std::move(actions));

    if (clipStore->didFallBackToMemory()) {
        showStoreFallbackAlert();
    }
    if (!UserSettings::didOnboard()) {
        showOnboarding();
    }
    updater->startBackgroundChecks();
    // A zero timer fires once the events waiting in the window system's queue are handled, after
    // the application reported itself ready.
    QTimer::singleShot(0, this, [this] {
        if (!terminating) {
            ensurePanel();
        }
    });
}

PanelController& AppDelegate::ensurePanel() {
    if (!panelController) {
        PlatformServices* const services = &platform;
        panelController = std::make_unique<PanelController>(*clipStore, *clipPaster, *platform.workspace,
                                                            [services] { return services->isCompositing(); });
        panelController->setWindowLayers(platform.windowLayers.get());
        const QPointer<AppDelegate> self(this);
        panelController->isHotKeyHeld = [self] { return self && self->hotKey && self->hotKey->isHeld(); };
        panelController->holdHotKeyUntilReleased = [self] {
            if (self && self->hotKey) {
                self->hotKey->holdUntilReleased();
            }
        };
        panelController->isKeyDown = [self](quint32 keycode) {
            return self && self->platform.globalHotKeys->isKeyDown(keycode);
        };
        panelController->onKeyboardUnavailable = [self] {
            if (self) {
                self->platform.desktopNotifier->notify(
                    tr("Snipjar could not open its panel"),
                    tr("Another program holds the keyboard. Try again once it has let go."));
            }
        };
        if (hotKey) {
            panelController->setHotKey(hotKey->combo());
        }
        if (syncSwitch) {
            syncSwitch->attachPanel(*panelController);
        }
    }
    return *panelController;
}

void AppDelegate::startClipboardKeeper() {
    keeper =
        std::make_unique<ClipboardKeeper>(*clipStore, *platform.pasteboard, platform.clipboardManager.get());
    ClipboardKeeper* const kept = keeper.get();
    connect(monitor.get(), &ClipboardMonitor::captureFinished, kept,
            [kept](qint64 change, CaptureOutcome outcome) {
                switch (outcome) {
                case CaptureOutcome::captured:
                    kept->noteCapture(change, ClipboardKeeper::Fate::captured);
                    break;
                case CaptureOutcome::skipped:
                    kept->noteCapture(change, ClipboardKeeper::Fate::skipped);
                    break;
                case CaptureOutcome::empty:
                    kept->noteCapture(change, ClipboardKeeper::Fate::nothing);
                    break;
                }
            });
    connect(&monitor->ingestor(), &ClipIngestor::jobFinished, kept, [kept] { kept->noteFiled(); });
    keeper->setEnabled(UserSettings::keepClipboard());
    connect(&SettingsEvents::instance(), &SettingsEvents::keepClipboardChanged, kept,
            [kept] { kept->setEnabled(UserSettings::keepClipboard()); });
}

void AppDelegate::registerHotKey() {
    const HotKeyCombo combo = HotKeyCombo::fromSettings();
    QPointer<AppDelegate> self(this);
    // The new registration is made before the old one is released, so a replacement by the same
    // combination stays registered.
    auto replacement = std::make_unique<HotKey>(*platform.globalHotKeys, combo, [self] {
        if (self) {
            self->togglePanel();
        }
    });
    if (!platform.globalHotKeys->grabsKeys()) {
        qCInfo(lcHotKey) << "The desktop runs the hot key" << combo.linuxDisplayString() << "itself";
    } else if (!replacement->isRegistered()) {
        qCInfo(lcHotKey) << "The hot key" << combo.linuxDisplayString() << "is held by another application";
        if (hotKey && hotKey->isRegistered()) {
            // A combination that does nothing must not replace one that works: the working one
            // stays, in the settings too.
            UserSettings::setValue(QString::fromLatin1(UserSettings::hotKeyKey),
                                   hotKey->combo().displayString());
            return;
        }
    }
    hotKey = std::move(replacement);
    // The panel holds the keyboard while it is open, so it sees the combination itself.
    if (panelController) {
        panelController->setHotKey(combo);
    }
}

void AppDelegate::applySelectedTextRecording() {
    const bool wanted = UserSettings::recordSelectedText();
    if (wanted == isRecordingSelectedText()) {
        return;
    }
    if (!wanted) {
        selectionMonitor.reset();
        primarySelection.reset();
        qCInfo(lcCapture) << "Selected text is no longer recorded";
        return;
    }
    primarySelection = platform.createPrimarySelection();
    if (!primarySelection) {
        qCWarning(lcCapture) << "The primary selection cannot be watched; selected text is not recorded";
        return;
    }
    selectionMonitor = std::make_unique<PrimarySelectionMonitor>(*primarySelection, *platform.workspace,
                                                                 monitor->ingestor());
    selectionMonitor->setPaused(recordingPause->isPaused());
    selectionMonitor->start();
    qCInfo(lcCapture) << "Recording selected text";
}

void AppDelegate::installStatusItem() {
    const QPointer<AppDelegate> self(this);
    TrayMenuBuilder::Actions commands;
    commands.showPanel = [self] {
        if (self) {
            self->togglePanel();
        }
    };
    commands.openSettings = [self] {
        if (self) {
            self->openSettings();
        }
    };
    commands.checkForUpdates = [self] {
        if (self) {
            self->updater->checkForUpdates();
        }
    };
    commands.syncNow = [self] {
        if (self && self->syncSwitch) {
            self->syncSwitch->syncNow();
        }
    };
    commands.quit = [self] {
        if (self) {
            self->quit();
        }
    };
    commands.resumeRecording = [self] {
        if (self) {
            self->recordingPause->resume();
        }
    };
    status = std::make_unique<StatusItem>(*clipStore, *clipPaster, *platform.workspace,
                                          *platform.desktopNotifier, std::move(commands));
    status->currentState = [self] {
        TrayMenuBuilder::State state;
        if (self && self->hotKey) {
            state.hotKey = self->hotKey->combo();
        }
        state.desktopRunsHotKey = self && !self->platform.globalHotKeys->grabsKeys();
        // Without a feed, updates come from the distribution's packages, and the item says so.
        state.updatesText = Updater::menuItemText();
        if (self && self->syncSwitch) {
            state.syncAvailable = self->syncSwitch->isOn();
            state.isSyncing = self->syncSwitch->isSyncing();
            if (self->syncSwitch->isOn()) {
                state.syncProblem = self->syncSwitch->statusText();
            } else {
                // Sync waiting for the key says why under the history, as a running sync's trouble.
                state.syncProblem = self->syncSwitch->encryptionProblem();
            }
        }
        if (self) {
            state.recordingPaused = self->recordingPause->isPaused();
            state.pausedUntil = self->recordingPause->until();
        }
        return state;
    };
}

void AppDelegate::applyRecordingPause() {
    const bool paused = recordingPause->isPaused();
    monitor->setPaused(paused);
    if (selectionMonitor) {
        selectionMonitor->setPaused(paused);
    }
    status->setRecordingPaused(paused);
}

QByteArray AppDelegate::answer(const QByteArray& request, InstanceConnection& connection) {
    if (!requests) {
        return QByteArrayLiteral("{\"status\":1,\"output\":\"\",\"error\":\"Snipjar is starting\"}\n");
    }
    return requests->handle(request, &connection);
}

void AppDelegate::togglePanel() {
    qCInfo(lcApp) << "Panel requested";
    if (clipStore) {
        ensurePanel().toggle();
    }
}

void AppDelegate::showPanel(const std::optional<QString>& activationToken) {
    logRequest("Panel", activationToken);
    if (clipStore) {
        ensurePanel().open(activationToken);
    }
}

void AppDelegate::quit() {
    prepareForTermination();
    QCoreApplication::quit();
}

void AppDelegate::fileQueuedClips() {
    if (monitor) {
        monitor->applyFinishedCapture();
        monitor->ingestor().fileQueuedAndStop();
    }
}

void AppDelegate::openSettings(const std::optional<QString>& activationToken) {
    logRequest("Settings", activationToken);
    if (!clipStore) {
        return;
    }
    if (!settingsWindow) {
        GlobalHotKeys* const hotKeys = platform.globalHotKeys.get();
        // A combination can be used when it can be grabbed; the probe lets go of it at once, and
        // the combination in use answers yes since its registrations are counted.
        settingsWindow = std::make_unique<SettingsWindow>(*clipStore, [hotKeys](const HotKeyCombo& combo) {
            return !hotKeys->grabsKeys() || HotKey(*hotKeys, combo, {}).isRegistered();
        });
        QStringList limits;
        for (const PlatformAbility& ability : PlatformAbility::of(platform)) {
            if (ability.limited) {
                limits << ability.label + QStringLiteral(": ") + ability.text;
            }
        }
        if (!hotKeys->grabsKeys()) {
            settingsWindow->showDesktopShortcut(DesktopShortcut::detect());
        }
        settingsWindow->setPlatform(platform.backendName(), limits);
    }
    if (syncSwitch) {
        settingsWindow->setSyncAccount(&syncSwitch->syncAccount());
        settingsWindow->setEncryptionActions(&syncSwitch->encryptionActions());
    }
    showSyncState();
    settingsWindow->show();
    settingsWindow->raise();
    if (!WindowActivation::handOver(settingsWindow->windowHandle(), activationToken)) {
        settingsWindow->activateWindow();
    }
}

void AppDelegate::showSyncState() {
    if (!settingsWindow || !syncSwitch) {
        return;
    }
    // While sync is off the section says why by itself.
    QString text;
    if (syncSwitch->isOn()) {
        text = syncSwitch->statusText().value_or(QStringLiteral("Syncing with your sync server"));
    } else if (const auto problem = syncSwitch->encryptionProblem()) {
        text = *problem;
    }
    settingsWindow->setSyncStatus(text);
}

void AppDelegate::showStoreFallbackAlert() {
    const QString message = QStringLiteral("Snipjar can\u2019t save your history");
    const QString detail =
        QStringLiteral(
            "The history store couldn\u2019t be opened, so items are kept only in memory and will be "
            "lost when Snipjar quits. Check disk space and permissions for %1.")
            .arg(AppPaths::storeFolder());
    qCCritical(lcStore).noquote() << message + QStringLiteral(". ") + detail;
    auto* alert = new QMessageBox(QMessageBox::Warning, message, message, QMessageBox::Ok);
    alert->setObjectName(QStringLiteral("StoreFallbackAlert"));
    alert->setInformativeText(detail);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::ApplicationModal);
    alert->show();
    alert->raise();
    alert->activateWindow();
}

void AppDelegate::showOnboarding() {
    KeySynthesizer* const keys = platform.keySynthesizer.get();
    const QPointer<AppDelegate> self(this);
    onboarding = new OnboardingWindow([keys] { return keys->isTrusted(); },
                                      [self] { return !self || self->isTerminating(); },
                                      !platform.globalHotKeys->grabsKeys());
    connect(onboarding, &OnboardingWindow::completed, this,
            [] { UserSettings::setValue(UserSettings::didOnboardKey, true); });
    onboarding->show();
    onboarding->raise();
    onboarding->activateWindow();
}

} // namespace snipjar
