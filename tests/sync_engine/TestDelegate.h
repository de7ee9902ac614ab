#pragma once

#include "sync/engine/SyncEngine.h"

#include <QHash>

#include <functional>
#include <optional>

namespace snipjar::test {

// A delegate with a small record store of its own: it builds records from it, keeps the change tags
// the server confirmed, applies fetched changes to it, and logs every event. With holdEvents set it
// answers no event until release() is called.
class TestDelegate : public sync::SyncEngineDelegate {
public:
    static inline const cloud::RecordZoneID zone{QStringLiteral("clips")};

    void handleEvent(const sync::SyncEvent& event, std::function<void()> done) override;
    std::optional<sync::RecordZoneChangeBatch> nextRecordZoneChangeBatch(sync::SyncEngine& engine) override;

    static cloud::RecordID idOf(const QString& name) { return {name, zone}; }
    // Puts a record with the text into the local store (its known change tag kept).
    void setText(const QString& name, const QString& text);
    void forget(const QString& name) { local.remove(name); }

    // Events of the type, in order; all events when none given.
    QList<sync::SyncEvent> eventsOf(sync::SyncEvent::Type type) const;
    QList<sync::SyncEvent::Type> eventTypes(bool withStateUpdates = false) const;
    std::optional<sync::StateSerialization> lastState() const;

    // Answers the event held longest.
    void releaseOne();

    bool holdEvents = false;
    QList<std::function<void()>> held;
    QList<sync::SyncEvent> events;
    QHash<QString, cloud::CloudRecord> local;    // what this computer holds
    QHash<QString, cloud::CloudRecord> received; // what fetches delivered
};

// Runs one operation of the engine and waits for its completion.
std::optional<cloud::CloudError> sendAndWait(sync::SyncEngine& engine);
std::optional<cloud::CloudError> fetchAndWait(sync::SyncEngine& engine);

} // namespace snipjar::test
