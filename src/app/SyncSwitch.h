#pragma once

#include "platform/account/SyncAccount.h"
#include "sync/cloud/CloudDatabase.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace snipjar {

class ClipStore;
class PanelController;
class PlatformServices;

namespace sync {
class ClipSyncEngine;
class SyncEngineStateStore;
} // namespace sync

// Turns syncing on and off as the settings say, and keeps a running sync engine fresh: a fetch and
// send on every wake from sleep, every 300 seconds, every time the panel opens and from the tray's
// "Sync Now". Sync runs only once the computer signed in to the server set; its device token
// comes from the keyring. Main thread only.
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
    void setDatabaseFactory(DatabaseFactory factory) { makeDatabase = std::move(factory); }

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

signals:
    // On or off, busy or idle, a problem or none.
    void stateChanged();

private:
    void begin(const SyncCredentials& credentials);
    void applySetting();

    ClipStore& store;
    QPointer<PanelController> panel;
    PlatformServices& platform;
    std::unique_ptr<SyncAccount> account;
    DatabaseFactory makeDatabase;
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
