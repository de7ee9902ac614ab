#include "app/SyncSwitch.h"

#include "app/settings/SettingsEvents.h"
#include "panel/PanelModel.h"
#include "panel/widgets/PanelController.h"
#include "platform/LogCategories.h"
#include "platform/PlatformServices.h"
#include "platform/UserSettings.h"
#include "store/ClipStore.h"
#include "sync/ClipSyncEngine.h"
#include "sync/SyncEngineStateStore.h"
#include "sync/cloud/service/ServiceCloudDatabase.h"
#include "sync/session/ServiceSession.h"

#include <QPointer>

namespace snipjar {

SyncSwitch::SyncSwitch(ClipStore& store, PlatformServices& platform, std::unique_ptr<SyncAccount> account,
                       QObject* parent)
    : QObject(parent)
    , store(store)
    , platform(platform)
    , account(std::move(account))
    , makeDatabase([](const SyncCredentials& credentials) -> std::shared_ptr<cloud::CloudDatabase> {
        return std::make_shared<cloud::ServiceCloudDatabase>(
            sync::ServiceSession::serviceAccount(credentials));
    }) {
    floorTimer.setInterval(floorIntervalMilliseconds);
    connect(&floorTimer, &QTimer::timeout, this, &SyncSwitch::syncNow);
}

SyncSwitch::~SyncSwitch() {
    stopSync();
}

void SyncSwitch::attachPanel(PanelController& shown) {
    panel = &shown;
    if (!engine) {
        return;
    }
    const QPointer<SyncSwitch> self(this);
    panel->onShow = [self] {
        if (self) {
            self->syncNow();
        }
    };
    panel->model().setIsSyncing(isSyncing());
}

void SyncSwitch::follow() {
    applySetting();
    connect(&SettingsEvents::instance(), &SettingsEvents::syncEnabledChanged, this,
            &SyncSwitch::applySetting);
    // Another server or sign-in: the engine starts again with it.
    connect(&SettingsEvents::instance(), &SettingsEvents::syncAccountChanged, this, [this] {
        stopSync();
        applySetting();
    });
}

void SyncSwitch::applySetting() {
    if (UserSettings::syncEnabled()) {
        startSync();
    } else {
        stopSync();
    }
}

void SyncSwitch::startSync() {
    if (engine || starting) {
        return;
    }
    if (const auto reason = SyncAccount::offReason()) {
        qCInfo(lcSync).noquote() << SyncAccount::offReasonText(*reason);
        emit stateChanged();
        return;
    }
    starting = true;
    const quint64 asked = ++generation;
    account->readCredentials(this, [this, asked](std::optional<SyncCredentials> credentials) {
        if (asked != generation) {
            return;
        }
        starting = false;
        if (credentials && credentials->token) {
            begin(*credentials);
        } else if (credentials) {
            // Signed in once, but the keyring no longer holds the token (or cannot be asked).
            tokenMissing = true;
        }
        emit stateChanged();
    });
}

void SyncSwitch::begin(const SyncCredentials& credentials) {
    if (!stateStore) {
        stateStore = sync::SyncEngineStateStore::standard();
    }
    std::shared_ptr<cloud::CloudDatabase> database = makeDatabase(credentials);
    if (!database) {
        unavailable = true;
        return;
    }
    engine = std::make_unique<sync::ClipSyncEngine>(store, *stateStore, std::move(database));

    const QPointer<SyncSwitch> self(this);
    store.syncDidApplyInbound = [self] {
        if (self && self->panel) {
            self->panel->reloadIfVisible();
        }
    };
    engine->onSyncingChanged = [self](bool syncing) {
        if (self) {
            if (self->panel) {
                self->panel->model().setIsSyncing(syncing);
            }
            emit self->stateChanged();
        }
    };
    engine->onProblemChanged = [self](const std::optional<QString>&) {
        if (self) {
            emit self->stateChanged();
        }
    };
    if (panel) {
        attachPanel(*panel);
    }
    engine->start();
    wakeConnection = connect(&platform, &PlatformServices::didWake, this, &SyncSwitch::syncNow);
    floorTimer.start();
}

void SyncSwitch::stopSync() {
    ++generation;
    starting = false;
    unavailable = false;
    tokenMissing = false;
    const bool wasOn = engine != nullptr;
    engine.reset();
    store.onSyncChange = nullptr;
    store.syncDidApplyInbound = nullptr;
    if (panel) {
        panel->onShow = nullptr;
        panel->model().setIsSyncing(false);
    }
    floorTimer.stop();
    disconnect(wakeConnection);
    if (wasOn) {
        qCInfo(lcSync) << "sync stopped";
        emit stateChanged();
    }
}

void SyncSwitch::syncNow() {
    if (engine) {
        engine->syncNow();
    }
}

bool SyncSwitch::isSyncing() const {
    return engine && engine->isSyncing();
}

std::optional<QString> SyncSwitch::statusText() const {
    if (engine) {
        return engine->problem();
    }
    if (unavailable) {
        return QStringLiteral("Sync cannot start: this installation of Snipjar lacks its sync module.");
    }
    if (tokenMissing) {
        return QStringLiteral(
            "Sync is off: the keyring no longer holds this computer\u2019s sign-in; sign in "
            "again.");
    }
    if (const auto reason = SyncAccount::offReason()) {
        return SyncAccount::offReasonText(*reason);
    }
    return std::nullopt;
}

} // namespace snipjar
