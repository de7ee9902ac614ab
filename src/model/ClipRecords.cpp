#include "model/ClipRecords.h"

namespace snipjar {

QStringList ClipItem::fileURLs() const {
    if (!fileURLsJoined) {
        return {};
    }
    return fileURLsJoined->split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

ClipItem ClipItem::fromClip(const Clip& clip, const std::optional<QByteArray>& thumbnail,
                            const QString& deviceID) {
    ClipItem item;
    item.deviceID = deviceID;
    item.kindRaw = clipKindRaw(clip.kind);
    item.concealed = clip.concealed;
    item.dedupKey = clip.dedupKey();
    item.byteSize = clip.byteSize();
    item.title = Clip::leadingCharacters(clip.title(), Clip::titleCharacterLimit);
    item.thumbnailData = thumbnail;
    if (!clip.fileURLs.isEmpty()) {
        item.fileURLsJoined = clip.fileURLs.join(QLatin1Char('\n'));
    }
    item.sourceBundleID = clip.sourceBundleID;
    item.sourceName = clip.sourceName;
    return item;
}

} // namespace snipjar
