#pragma once

#include "model/ClipRecords.h"
#include "sync/InboundPayload.h"
#include "sync/cloud/CloudDatabase.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QThreadPool;

namespace snipjar {
class ClipStore;
class ModelContainer;
class ModelContext;
} // namespace snipjar

namespace snipjar::sync {

// One fetched page, sorted on the main thread into plain values for the thread that applies it:
// items and devices as whole-record archives, payloads reduced, deletions by record name.
struct InboundChanges {
    QList<QByteArray> items;
    QList<QByteArray> devices;
    QStringList deletions;
    QList<InboundPayload> payloads;
};

// Writes fetched changes into the sync store: a fetched clip or device always replaces the local
// one field by field, a payload is written once and never changed, a deletion removes the local
// entity. Nothing applied here is reported through the store's onSyncChange. Records that cannot
// be decoded are skipped one by one.
class InboundApply {
public:
    // Payload bytes written between two saves of the payload context.
    static constexpr qint64 inboundSaveBudget = 8'000'000;

    // Test hooks; called on the applying thread.
    struct Hooks {
        // After each save of the payload context, with the bytes it added since the previous one.
        std::function<void(qint64 bytes)> onPayloadSave;
    };

    // Main thread: sorts the page (logging as it goes), applies it on a pool thread with contexts
    // of its own, then, back on the main thread and only while `guard` exists, calls the store's
    // syncDidApplyInbound and `done` with whether every part of the page was saved. The engine's
    // event handler ends through `done`, so the next event comes only after this page is saved and
    // asset files are read while they exist, and a page that could not be saved is fetched again.
    static void handleFetchedRecordZoneChanges(ClipStore& store,
                                               const QList<cloud::CloudRecord>& modifications,
                                               const QList<cloud::RecordDeletion>& deletions,
                                               const QObject* guard, std::function<void(bool stored)> done);

    // Main thread: the page sorted, with the logs for what is skipped.
    static InboundChanges sort(const QList<cloud::CloudRecord>& modifications,
                               const QList<cloud::RecordDeletion>& deletions);

    // Any thread, blocking: items, then devices, then deletions (saved together), then payloads in
    // a context saved after every inboundSaveBudget bytes and at the end. False when a save failed
    // (a full disk, say); what was saved before stays, and applying the page again is harmless.
    static bool applyInbound(const InboundChanges& changes, ModelContainer& container,
                             const Hooks& hooks = {});

    // The server's version of a clip replaces the local one (or becomes a new item), with the
    // record's system fields; its payload is joined when it came first. Does not save, so the
    // engine may use it on the main thread with the store's syncContext().
    static void upsertItem(const cloud::CloudRecord& record, ModelContext& context);
    static void attachPayload(const ClipItem& item, ModelContext& context);
    static void applyDeletion(const QString& recordName, ModelContext& context);
    // The bytes it added (the image, the UTF-8 of the full text and the rich text; at least 1 for a
    // payload it added); 0 for a payload already stored, which stays as it is.
    static qint64 applyPayload(const InboundPayload& payload, ModelContext& context);
    static void applyDevice(const cloud::CloudRecord& record, ModelContext& context);

    // Blocks until every page handed to handleFetchedRecordZoneChanges is written. The store must
    // not be destroyed before (the application's shut-down calls it).
    static void waitForApplying();

private:
    // The applying thread: pages are applied one after the other.
    static QThreadPool& pool();
};

} // namespace snipjar::sync
