#include "app/SyncSwitch.h"

#include "app/AccountEncryption.h"
#include "app/settings/SettingsEvents.h"
#include "panel/PanelModel.h"
#include "panel/widgets/PanelController.h"
#include "platform/AppIdentity.h"
#include "platform/AppPaths.h"
#include "platform/LogCategories.h"
#include "platform/PlatformServices.h"
#include "platform/UserSettings.h"
#include "platform/account/KeychainPasswordVault.h"
#include "store/ClipStore.h"
#include "sync/ClipSyncEngine.h"
#include "sync/Reencryption.h"
#include "sync/SyncEngineStateStore.h"
#include "sync/cloud/EncryptedCloudDatabase.h"
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
    })
    , keyring(std::make_unique<KeychainPasswordVault>(AppIdentity::identifier()))
    , encryption(
          std::make_unique<AccountEncryption>(*keyring, AppPaths::configFolder(), AppPaths::storeFolder())) {
    connect(encryption.get(), &AccountEncryption::syncRestartNeeded, this, &SyncSwitch::restart);
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
        if (*reason != SyncOffReason::switchedOff) {
            encryption->setAccount(std::nullopt);
        }
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

EncryptionActions& SyncSwitch::encryptionActions() {
    return *encryption;
}

void SyncSwitch::begin(const SyncCredentials& credentials) {
    if (!serviceDatabase) {
        startEngine(credentials, std::nullopt);
        return;
    }
    encryption->setAccount(sync::ServiceSession::serviceAccount(credentials));
    // Until the state is known nothing is sent: a plain start on an encrypted account would put
    // this computer's clips on the server readable.
    starting = true;
    const quint64 asked = generation;
    encryption->decide([this, asked, credentials](AccountEncryption::Decision decision) {
        if (asked != generation) {
            return;
        }
        starting = false;
        using Kind = AccountEncryption::Decision::Kind;
        switch (decision.kind) {
        case Kind::unknown:
            encryptionUnknown = decision.message;
            // Asked again soon, as the engine would retry a server that does not answer.
            QTimer::singleShot(sync::ClipSyncEngine::firstRetryMilliseconds * 15, this, [this, asked] {
                if (asked == generation && !encryptionUnknown.isEmpty()) {
                    restart();
                }
            });
            floorTimer.start();
            break;
        case Kind::lacksKey:
            qCInfo(lcSync) << "sync waits: the account is encrypted and this computer lacks the key";
            lacksKey = true;
            floorTimer.start();
            break;
        case Kind::plain:
        case Kind::sealed:
            startEngine(credentials, decision.key);
            break;
        }
        emit stateChanged();
    });
}

void SyncSwitch::startEngine(const SyncCredentials& credentials,
                             const std::optional<crypto::HistoryKey>& key) {
    if (!stateStore) {
        stateStore = sync::SyncEngineStateStore::standard();
    }
    std::shared_ptr<cloud::CloudDatabase> database = makeDatabase(credentials);
    if (!database) {
        unavailable = true;
        return;
    }
    engineKeyId = key ? key->id() : QString();
    if (key) {
        sealedDatabase = encryption->sealedDatabase(std::move(database), *key);
        database = sealedDatabase;
        // A connection of its own, so that the rewrite never waits behind the engine's calls.
        reencryption = encryption->reencryptIfPending(
            std::make_shared<cloud::ServiceCloudDatabase>(sync::ServiceSession::serviceAccount(credentials)),
            *key, sealedDatabase);
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
            if (!syncing && self->serviceDatabase) {
                self->recheckEncryption();
            }
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

void SyncSwitch::recheckEncryption() {
    if (rechecking || !encryption->state().signedIn) {
        return;
    }
    rechecking = true;
    const quint64 asked = generation;
    encryption->decide([this, asked](AccountEncryption::Decision decision) {
        rechecking = false;
        if (asked != generation || decision.kind == AccountEncryption::Decision::Kind::unknown) {
            return;
        }
        const bool sameAsRunning = engineKeyId &&
                                   decision.kind != AccountEncryption::Decision::Kind::lacksKey &&
                                   *engineKeyId == decision.keyId;
        const bool stillLacking = lacksKey && decision.kind == AccountEncryption::Decision::Kind::lacksKey;
        if (!sameAsRunning && !stillLacking) {
            qCInfo(lcSync) << "the account's encryption changed; sync starts again";
            restart();
        }
    });
}

void SyncSwitch::restart() {
    if (!UserSettings::syncEnabled()) {
        return;
    }
    stopSync();
    startSync();
}

std::optional<QString> SyncSwitch::encryptionProblem() const {
    if (lacksKey) {
        return QStringLiteral(
            "Sync waits: the history is encrypted and this computer lacks the key. Enter the "
            "recovery phrase or pair with a computer that has it (Settings, Encryption).");
    }
    if (!encryptionUnknown.isEmpty()) {
        return encryptionUnknown;
    }
    return std::nullopt;
}

void SyncSwitch::stopSync() {
    ++generation;
    starting = false;
    rechecking = false;
    lacksKey = false;
    encryptionUnknown.clear();
    engineKeyId.reset();
    if (reencryption) {
        // Its thread ends soon by itself; the flag file stays for the next start.
        reencryption->cancel();
        reencryption.reset();
    }
    unavailable = false;
    tokenMissing = false;
    const bool wasOn = engine != nullptr;
    engine.reset();
    sealedDatabase.reset();
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
    } else if (lacksKey || !encryptionUnknown.isEmpty()) {
        restart();
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
    if (const auto problem = encryptionProblem()) {
        return problem;
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
