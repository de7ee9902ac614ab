#include "store/ClipStore.h"

#include "image/ImageTranscode.h"
#include "platform/LogCategories.h"
#include "platform/UserSettings.h"

#include <QThread>

#include <cmath>

namespace snipjar {

ClipStore::Filing ClipStore::file(const Clip& clip, ModelContext& context,
                                  const std::optional<QDateTime>& copiedAt, const QString& device) const {
    if (clip.concealed || clip.byteSize() > largestClipBytes) {
        return {Filing::Outcome::skipped, {}};
    }
    const QString key = clip.dedupKey();
    const QDateTime filedAt = copiedAt.value_or(now());
    const QString& owner = device.isEmpty() ? deviceID : device;
    // A first look without the lock tells whether the clip is new here. Its thumbnail and payload
    // files are then made before the lock is taken, since other writers would wait for them.
    std::optional<NewItem> prepared;
    if (!ownCopy(context, key, owner)) {
        prepared.emplace(prepareNew(clip, context, owner));
    }
    for (int attempt = 1; attempt <= insertAttempts; ++attempt) {
        if (attempt > 1) {
            step(FilingStep::retrying, context);
            QThread::msleep(options.retryPauseMilliseconds * (attempt - 1));
        }
        if (std::optional<QList<ClipSyncChange>> changes =
                fileOnce(clip, key, filedAt, owner, context, prepared)) {
            return {Filing::Outcome::filed, std::move(*changes)};
        }
        context.rollback();
    }
    qCWarning(lcStore) << "clip not filed: the store stayed busy or refused the write";
    return {Filing::Outcome::failed, {}};
}

std::optional<QList<ClipSyncChange>> ClipStore::fileOnce(const Clip& clip, const QString& dedupKey,
                                                         const QDateTime& filedAt, const QString& device,
                                                         ModelContext& context,
                                                         std::optional<NewItem>& prepared) const {
    if (!context.beginWrite()) {
        return std::nullopt;
    }
    const std::optional<QUuid> copy = ownCopy(context, dedupKey, device);
    step(FilingStep::lookedUp, context);
    bool moved = false;
    if (copy) {
        // The same content copied on this computer before: it only moves to the top; its title,
        // source and pin stay as they were.
        switch (context.setCreatedAtNow(*copy, filedAt)) {
        case ModelContext::RowUpdate::changed:
            moved = true;
            break;
        case ModelContext::RowUpdate::noSuchItem:
            // Gone since the lookup: the clip is new again.
            break;
        case ModelContext::RowUpdate::failed:
            return std::nullopt;
        }
    }
    if (!moved) {
        if (!prepared) {
            prepared.emplace(prepareNew(clip, context, device));
        }
        prepared->item.createdAt = filedAt;
        // The payload goes first; both land in the same transaction.
        if (prepared->payload) {
            context.insert(*prepared->payload, PayloadLink::toItem);
        }
        context.insert(prepared->item);
    }
    QList<ClipSyncChange> changes = enforceLimits(context);
    changes.append(moved ? ClipSyncChange::save(*copy, false)
                         : ClipSyncChange::save(prepared->item.id, true));
    addToOutbox(context, changes);
    if (!context.save()) {
        return std::nullopt;
    }
    if (!moved && prepared->payload) {
        prepared->payload->keep();
    }
    return changes;
}

std::optional<QUuid> ClipStore::ownCopy(ModelContext& context, const QString& dedupKey,
                                        const QString& device) const {
    const QList<ClipItemSummary> found =
        context.fetchSummaries(ClipItemQuery().whereDedupKey(dedupKey).whereDeviceID(device).limitedTo(1));
    if (found.isEmpty()) {
        return std::nullopt;
    }
    return found.first().id;
}

ClipStore::NewItem ClipStore::prepareNew(const Clip& clip, ModelContext& context,
                                         const QString& device) const {
    const bool hasImage = clip.kind == Clip::Kind::image && clip.imageData.has_value();
    std::optional<QByteArray> thumbnail;
    if (hasImage) {
        thumbnail = ImageTranscode::thumbnail(*clip.imageData, thumbnailPixels);
    }
    NewItem prepared{ClipItem::fromClip(clip, thumbnail, device), std::nullopt};
    ClipItem& item = prepared.item;
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

    const bool isLongText =
        clip.plainText && Clip::exceedsCharacters(*clip.plainText, Clip::titleCharacterLimit);
    if (clip.imageData || clip.richTextData || clip.htmlData || isLongText) {
        ClipPayload payload;
        payload.itemID = item.id;
        if (isLongText) {
            payload.fullText = clip.plainText;
        }
        payload.richTextData = clip.richTextData;
        payload.htmlData = clip.htmlData;
        payload.imageData = clip.imageData;
        payload.dataUTI = clip.dataUTI;
        item.hasPayload = true;
        prepared.payload.emplace(context.stage(payload));
    }
    return prepared;
}

QList<ClipSyncChange> ClipStore::enforceLimits(ModelContext& context) const {
    const qint64 historyLength = UserSettings::historyLength();
    const qint64 retentionDays = UserSettings::retentionDays();
    const qint64 byteBudget = UserSettings::maxStoreBytes();
    const qint64 oldestKept = now().addSecs(-retentionDays * secondsPerDay).toMSecsSinceEpoch();

    // Items of other computers are skipped by the walk and count toward nothing, so they are not
    // even read: each computer prunes what it captured, and the others' removals arrive through sync.
    // Both totals include every item already walked, so once one limit is passed every older
    // unpinned item of this computer goes in the same pass.
    qint64 bytes = 0;
    qint64 count = 0;
    const QList<QUuid> beyondLimits = context.walkForLimits(deviceID, [&](const LimitWalkRow& item) {
        bytes += item.byteSize;
        // Pinned items count toward the bytes but not toward the count, and always stay.
        if (item.pinned) {
            return false;
        }
        ++count;
        const bool expired = item.createdAtMilliseconds < oldestKept;
        return count > historyLength || expired || bytes > byteBudget;
    });
    step(FilingStep::walkedLimits, context);
    QList<ClipSyncChange> deletions;
    for (const QUuid& id : beyondLimits) {
        context.removeItem(id);
        deletions.append(ClipSyncChange::remove(id));
    }
    return deletions;
}

void ClipStore::step(FilingStep step, ModelContext& context) const {
    if (options.onStep) {
        options.onStep(step, context);
    }
}

} // namespace snipjar
