#include "model/ClipStore.h"

#include "model/ImageTranscode.h"
#include "platform/UserSettings.h"

#include <cmath>

namespace snipjar {

QList<ClipSyncChange> ClipStore::insert(const Clip& clip, ModelContext& context) const {
    if (clip.concealed || clip.byteSize() > largestClipBytes) {
        return {};
    }
    const QString key = clip.dedupKey();
    const QList<ClipItemSummary> existing =
        context.fetchSummaries(ClipItemQuery().whereDedupKey(key).whereDeviceID(deviceID).limitedTo(1));

    QUuid filedID;
    bool isNew = false;
    if (!existing.isEmpty()) {
        // The same content copied on this computer before: it only moves to the top; its title,
        // source and pin stay as they were.
        filedID = existing.first().id;
        context.setCreatedAt(filedID, now());
    } else {
        fileNew(clip, context, filedID);
        isNew = true;
    }
    QList<ClipSyncChange> changes = enforceLimits(context);
    context.save();
    changes.append(ClipSyncChange::save(filedID, isNew));
    return changes;
}

void ClipStore::fileNew(const Clip& clip, ModelContext& context, QUuid& newID) const {
    const bool hasImage = clip.kind == Clip::Kind::image && clip.imageData.has_value();
    std::optional<QByteArray> thumbnail;
    if (hasImage) {
        thumbnail = ImageTranscode::thumbnail(*clip.imageData, thumbnailPixels);
    }
    ClipItem item = ClipItem::fromClip(clip, thumbnail, deviceID);
    item.createdAt = now();
    if (hasImage) {
        const std::optional<ImageMetadata> metadata = ImageTranscode::metadata(*clip.imageData);
        if (metadata && metadata->width) {
            item.pixelWidth = static_cast<qint64>(std::trunc(*metadata->width));
        }
        if (metadata && metadata->height) {
            item.pixelHeight = static_cast<qint64>(std::trunc(*metadata->height));
        }
        if (const std::optional<QString> title = imageTitle(clip, metadata)) {
            item.title = Clip::leadingCharacters(*title, Clip::titleCharacterLimit);
        }
    }
    newID = item.id;

    const bool isLongText =
        clip.plainText && Clip::exceedsCharacters(*clip.plainText, Clip::titleCharacterLimit);
    if (clip.imageData || clip.richTextData || isLongText) {
        ClipPayload payload;
        payload.itemID = item.id;
        if (isLongText) {
            payload.fullText = clip.plainText;
        }
        payload.richTextData = clip.richTextData;
        payload.imageData = clip.imageData;
        payload.dataUTI = clip.dataUTI;
        item.hasPayload = true;
        // The payload goes first: its large bytes are written to their files before the item's
        // insertion takes the store's write lock. Both land in the same transaction.
        context.insert(payload, PayloadLink::toItem);
    }
    context.insert(item);
}

QList<ClipSyncChange> ClipStore::enforceLimits(ModelContext& context) const {
    // Items of other computers are skipped by the walk and count toward nothing, so they are not
    // even read: each computer prunes what it captured, and the others' removals arrive through sync.
    const QList<LimitWalkRow> items = context.limitWalkRows(deviceID);
    const qint64 historyLength = UserSettings::historyLength();
    const qint64 retentionDays = UserSettings::retentionDays();
    const qint64 byteBudget = UserSettings::maxStoreBytes();
    const qint64 oldestKept = now().addSecs(-retentionDays * secondsPerDay).toMSecsSinceEpoch();

    // Both totals include every item already walked, so once one limit is passed every older
    // unpinned item of this computer goes in the same pass.
    QList<qint64> beyondLimits;
    qint64 bytes = 0;
    qint64 count = 0;
    for (const LimitWalkRow& item : items) {
        bytes += item.byteSize;
        // Pinned items count toward the bytes but not toward the count, and always stay.
        if (item.pinned) {
            continue;
        }
        ++count;
        const bool expired = item.createdAtMilliseconds < oldestKept;
        if (count <= historyLength && !expired && bytes <= byteBudget) {
            continue;
        }
        beyondLimits.append(item.rowID);
    }
    QList<ClipSyncChange> deletions;
    for (const qint64 rowID : beyondLimits) {
        if (const std::optional<QUuid> id = context.itemIDOfRow(rowID)) {
            context.removeItem(*id);
            deletions.append(ClipSyncChange::remove(*id));
        }
    }
    return deletions;
}

} // namespace snipjar
