#include "sync/InboundApply.h"

#include "sync/cloud/RecordSealer.h"

#include "platform/LogCategories.h"
#include "store/ClipStore.h"
#include "store/ModelContainer.h"
#include "store/ModelContext.h"
#include "sync/RecordMapping.h"
#include "sync/RecordNames.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QThreadPool>

#include <algorithm>
#include <limits>
#include <memory>

namespace snipjar::sync {

using cloud::CloudRecord;

void InboundApply::handleFetchedRecordZoneChanges(ClipStore& store, const QList<CloudRecord>& modifications,
                                                  const QList<cloud::RecordDeletion>& deletions,
                                                  const QObject* guard, std::function<void(bool)> done) {
    qCInfo(lcSync).noquote() << QStringLiteral("inbound: %1 modification(s), %2 deletion(s)")
                                    .arg(modifications.size())
                                    .arg(deletions.size());
    auto changes = std::make_shared<const InboundChanges>(sort(modifications, deletions));
    // Touched on the main thread only; the pool thread merely carries it.
    auto owner = std::make_shared<QPointer<const QObject>>(guard);
    auto finish = std::make_shared<std::function<void(bool)>>(std::move(done));
    ModelContainer* container = &store.syncContainer();
    ClipStore* target = &store;
    pool().start([changes, container, owner, finish, target] {
        const bool stored = applyInbound(*changes, *container);
        if (!stored) {
            qCCritical(lcSync) << "inbound: the fetched changes could not be saved; they are fetched again";
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [owner, finish, target, stored] {
                if (owner->isNull()) {
                    return;
                }
                if (target->syncDidApplyInbound) {
                    target->syncDidApplyInbound();
                }
                if (*finish) {
                    (*finish)(stored);
                }
            },
            Qt::QueuedConnection);
    });
}

QThreadPool& InboundApply::pool() {
    static QThreadPool* const threads = [] {
        auto* created = new QThreadPool();
        // One page at a time: the engine waits for each before it delivers the next.
        created->setMaxThreadCount(1);
        created->setThreadPriority(QThread::LowPriority);
        return created;
    }();
    return *threads;
}

void InboundApply::waitForApplying() {
    pool().waitForDone();
}

InboundChanges InboundApply::sort(const QList<CloudRecord>& modifications,
                                  const QList<cloud::RecordDeletion>& deletions) {
    InboundChanges changes;
    for (const CloudRecord& record : modifications) {
        if (record.recordID().zone != RecordNames::zoneID()) {
            qCDebug(lcSync).noquote() << QStringLiteral("inbound: foreign zone %1 ignored (type %2)")
                                             .arg(record.recordID().zone.zoneName, record.recordType());
            continue;
        }
        // A sealed record reaching an engine that syncs plain, before it noticed that the account
        // went encrypted: read as plain, a payload would be kept empty for good.
        if (record.bytes(cloud::RecordSealer::envelopeKey)) {
            qCDebug(lcSync).noquote()
                << QStringLiteral("inbound: sealed record %1 ignored").arg(record.recordName());
            continue;
        }
        if (record.recordType() == RecordNames::itemType || record.recordType() == RecordNames::deviceType) {
            const QByteArray archived = record.archive();
            if (!archived.isEmpty()) {
                (record.recordType() == RecordNames::itemType ? changes.items : changes.devices)
                    .append(archived);
            }
        } else if (record.recordType() == RecordNames::payloadType) {
            if (std::optional<InboundPayload> payload = RecordMapping::inboundPayload(record)) {
                changes.payloads.append(std::move(*payload));
            }
        } else {
            qCCritical(lcSync).noquote()
                << QStringLiteral("inbound: unknown record type %1").arg(record.recordType());
        }
    }
    for (const cloud::RecordDeletion& deletion : deletions) {
        if (deletion.id.zone == RecordNames::zoneID()) {
            changes.deletions.append(deletion.id.recordName);
        }
    }
    return changes;
}

bool InboundApply::applyInbound(const InboundChanges& changes, ModelContainer& container,
                                const Hooks& hooks) {
    bool stored = true;
    {
        const std::unique_ptr<ModelContext> context = container.newContext();
        for (const QByteArray& archived : changes.items) {
            if (const std::optional<CloudRecord> record = CloudRecord::unarchive(archived)) {
                upsertItem(*record, *context);
            }
        }
        for (const QByteArray& archived : changes.devices) {
            if (const std::optional<CloudRecord> record = CloudRecord::unarchive(archived)) {
                applyDevice(*record, *context);
            }
        }
        for (const QString& name : changes.deletions) {
            applyDeletion(name, *context);
        }
        stored = context->save();
    }

    if (changes.payloads.isEmpty()) {
        return stored;
    }
    std::unique_ptr<ModelContext> context = container.newContext();
    qint64 total = 0;
    const auto savePayloads = [&] {
        stored = context->save() && stored;
        if (hooks.onPayloadSave) {
            hooks.onPayloadSave(total);
        }
    };
    for (const InboundPayload& payload : changes.payloads) {
        total += applyPayload(payload, *context);
        if (total >= inboundSaveBudget) {
            savePayloads();
            context = container.newContext();
            total = 0;
        }
    }
    if (total >= 1) {
        savePayloads();
    }
    return stored;
}

void InboundApply::upsertItem(const CloudRecord& record, ModelContext& context) {
    std::optional<ClipItem> incoming = RecordMapping::itemFromRecord(record);
    if (!incoming) {
        return;
    }
    const QByteArray systemFields = record.archiveSystemFields();
    if (std::optional<ClipItem> existing = context.item(incoming->id)) {
        existing->createdAt = incoming->createdAt;
        existing->deviceID = incoming->deviceID;
        existing->kindRaw = incoming->kindRaw;
        existing->pinned = incoming->pinned;
        existing->byteSize = incoming->byteSize;
        existing->dedupKey = incoming->dedupKey;
        existing->title = incoming->title;
        existing->thumbnailData = incoming->thumbnailData;
        existing->hasPayload = incoming->hasPayload;
        existing->sourceName = incoming->sourceName;
        existing->sourceBundleID = incoming->sourceBundleID;
        existing->cloudRecordSystemFields = systemFields;
        context.update(*existing);
        attachPayload(*existing, context);
        return;
    }
    incoming->cloudRecordSystemFields = systemFields;
    context.insert(*incoming);
    attachPayload(*incoming, context);
}

void InboundApply::attachPayload(const ClipItem& item, ModelContext& context) {
    if (item.hasPayload && context.hasPayloadRecord(item.id) && !context.isPayloadLinked(item.id)) {
        context.linkPayload(item.id);
    }
}

void InboundApply::applyDeletion(const QString& recordName, ModelContext& context) {
    const RecordNames::Parsed name = RecordNames::parse(recordName);
    switch (name.kind) {
    case RecordNames::Parsed::Kind::item:
        if (context.item(name.uuid)) {
            context.removeItem(name.uuid);
        }
        // Whatever this computer still had to tell the server of the clip is moot now.
        context.removeFromOutbox(name.uuid, std::numeric_limits<qint64>::max());
        break;
    case RecordNames::Parsed::Kind::payload:
        if (context.hasPayloadRecord(name.uuid)) {
            context.removePayload(name.uuid);
        }
        break;
    case RecordNames::Parsed::Kind::device:
        if (context.device(name.deviceID)) {
            context.removeDevice(name.deviceID);
        }
        break;
    case RecordNames::Parsed::Kind::unrecognised:
        break;
    }
}

qint64 InboundApply::applyPayload(const InboundPayload& payload, ModelContext& context) {
    if (context.hasPayloadRecord(payload.itemID)) {
        return 0;
    }
    std::optional<QByteArray> image = payload.inlineImage;
    if (!image && payload.assetPath) {
        QFile file(*payload.assetPath);
        if (file.open(QIODevice::ReadOnly)) {
            image = file.readAll();
        }
    }
    ClipPayload stored;
    stored.itemID = payload.itemID;
    stored.fullText = payload.fullText;
    stored.richTextData = payload.richText;
    stored.imageData = image;
    stored.dataUTI = payload.dataUTI;
    stored.cloudRecordSystemFields = payload.systemFields;
    const PayloadLink link = context.item(payload.itemID) ? PayloadLink::toItem : PayloadLink::none;
    context.insert(stored, link);
    const qint64 bytes = (image ? image->size() : 0) +
                         (payload.fullText ? payload.fullText->toUtf8().size() : 0) +
                         (payload.richText ? payload.richText->size() : 0);
    // A payload with none of them still has to be saved.
    return std::max<qint64>(bytes, 1);
}

void InboundApply::applyDevice(const CloudRecord& record, ModelContext& context) {
    const std::optional<Device> incoming = RecordMapping::deviceFromRecord(record);
    if (!incoming) {
        return;
    }
    if (std::optional<Device> existing = context.device(incoming->id)) {
        existing->name = incoming->name;
        existing->cloudRecordSystemFields = incoming->cloudRecordSystemFields;
        context.update(*existing);
        return;
    }
    context.insert(*incoming);
}

} // namespace snipjar::sync
