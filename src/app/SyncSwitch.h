#pragma once

#include "platform/account/SyncAccount.h"
#include "sync/cloud/CloudDatabase.h"
#include "sync/crypto/HistoryKey.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace snipjar {

class AccountEncryption;
class ClipStore;
class EncryptionActions;
class PanelController;
class PlatformServices;

namespace cloud {
class EncryptedCloudDatabase;
}
namespace sync {
class ClipSyncEngine;
class Reencryption;
class SyncEngineStateStore;
} // namespace sync

// Turns syncing on and off as the settings say, and keeps a running sync engine fresh: a fetch and
// send on every wake from sleep, every 300 seconds, every time the panel opens and from the tray's
// "Sync Now". Sync runs only once the computer signed in to the server set; its device token
// comes from the keyring. Main thread only.
//
// Before the engine starts, the account's encryption state is read from the server: off, the
// engine syncs plain; on, with the account's key in this computer's keyring, every record goes
// through an encrypted database, and this computer's own re-encryption of the server's records
// runs beside it while it is pending; on without the key, sync stays off until the key is entered
// or paired. The state is read again after every sync, so that a computer notices when another
// one switched encryption on, and sync starts again with the new state.
class SyncSwitch : public QObject {
    Q_OBJECT
public:
    using DatabaseFactory = std::function<std::shared_ptr<cloud::CloudDatabase>(const SyncCredentials&)>;

    static constexpr int floorIntervalMilliseconds = 300'000;

    SyncSwitch(ClipStore& store, PlatformServices& platform,
               std::unique_ptr<SyncAccount> account = std::make_unique<SyncAccount>(),
               QObject* parent = nullptr);
    ~SyncSwitch() override;

    // The sync service of the account unless replaced (tests). A factory that makes none keeps sync
    // from starting.
    void setDatabaseFactory(DatabaseFactory factory) {
        makeDatabase = std::move(factory);
        serviceDatabase = false;
    }

    // The panel, once it is built (after start-up): it syncs as it opens and shows when sync is busy.
    void attachPanel(PanelController& panel);
    // Starts or stops as "syncEnabled" and the account say; follows their change notices from now on.
    void follow();
    void startSync();
    void stopSync();
    void syncNow();

    bool isOn() const { return engine != nullptr; }
    bool isSyncing() const;
    // What the tray and the settings say about sync: the problem in its way, or why it is off;
    // none while it runs well.
    std::optional<QString> statusText() const;
    sync::ClipSyncEngine* clipSyncEngine() { return engine.get(); }
    SyncAccount& syncAccount() { return *account; }
    EncryptionActions& encryptionActions();
    // Why sync waits for encryption (the key is missing, the state could not be read); none else.
    std::optional<QString> encryptionProblem() const;

signals:
    // On or off, busy or idle, a problem or none.
    void stateChanged();

private:
    void begin(const SyncCredentials& credentials);
    void startEngine(const SyncCredentials& credentials, const std::optional<crypto::HistoryKey>& key);
    // Reads the account's encryption state again; sync starts anew when it changed.
    void recheckEncryption();
    void restart();
    void applySetting();

    ClipStore& store;
    QPointer<PanelController> panel;
    PlatformServices& platform;
    std::unique_ptr<SyncAccount> account;
    DatabaseFactory makeDatabase;
    // Only the sync service has an encryption state; a replaced factory syncs plain.
    bool serviceDatabase = true;
    std::unique_ptr<PasswordVault> keyring;
    std::unique_ptr<AccountEncryption> encryption;
    std::shared_ptr<cloud::EncryptedCloudDatabase> sealedDatabase;
    std::shared_ptr<sync::Reencryption> reencryption;
    // The key id the running engine was started for ("" plain); none while no engine runs.
    std::optional<QString> engineKeyId;
    bool rechecking = false;
    bool lacksKey = false;
    QString encryptionUnknown;
    std::unique_ptr<sync::SyncEngineStateStore> stateStore;
    std::unique_ptr<sync::ClipSyncEngine> engine;
    QTimer floorTimer;
    QMetaObject::Connection wakeConnection;
    // Answers from the keyring for an earlier start are dropped.
    quint64 generation = 0;
    bool starting = false;
    // The database could not be made: sync stays off until asked again.
    bool unavailable = false;
    // The computer signed in, but no device token was found: sync stays off until it signs in again.
    bool tokenMissing = false;
};

} // namespace snipjar
