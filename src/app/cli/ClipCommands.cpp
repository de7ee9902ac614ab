#include "app/cli/ClipCommands.h"

#include "app/cli/ClipIds.h"
#include "app/cli/ClipInput.h"
#include "app/cli/HistoryAccess.h"
#include "store/ClipStore.h"

#include <QSet>

namespace snipjar {

namespace {

CommandOutcome storeUnavailable() {
    return CommandOutcome::failure(QStringLiteral("the history store cannot be opened"));
}

} // namespace

CommandOutcome ClipCommands::add(const CommandLine& commandLine, HistoryAccess& access) {
    if (!commandLine.content) {
        return CommandOutcome::usageError(QStringLiteral("add was given nothing to add"));
    }
    const Clip clip = ClipInput::clipOf(*commandLine.content);
    if (clip.byteSize() > ClipStore::largestClipBytes) {
        return CommandOutcome::failure(QStringLiteral("the content is larger than the most a clip can hold"));
    }
    if (!access.store()) {
        return storeUnavailable();
    }
    const std::optional<QUuid> id = access.file(clip);
    if (!id) {
        return CommandOutcome::failure(QStringLiteral("the clip could not be saved"));
    }
    access.changed();
    return CommandOutcome::success(ClipIds::printed(*id).toLatin1() + '\n');
}

CommandOutcome ClipCommands::setPinned(const CommandLine& commandLine, HistoryAccess& access, bool pinned) {
    const auto resolved = ClipIds::resolve(commandLine.ids.value(0), access.entries());
    if (const QString* error = std::get_if<QString>(&resolved)) {
        return CommandOutcome::failure(*error);
    }
    ClipStore* const store = access.store();
    if (!store) {
        return storeUnavailable();
    }
    const QUuid id = std::get<HistoryEntry>(resolved).item.id;
    const std::optional<ClipItem> item = store->item(id);
    if (!item) {
        return CommandOutcome::failure(QStringLiteral("no clip has the id %1").arg(commandLine.ids.value(0)));
    }
    if (item->pinned != pinned) {
        store->togglePin(id);
        access.changed();
    }
    return CommandOutcome::success();
}

CommandOutcome ClipCommands::remove(const CommandLine& commandLine, HistoryAccess& access) {
    const QList<HistoryEntry> entries = access.entries();
    QList<QUuid> ids;
    for (const QString& given : commandLine.ids) {
        const auto resolved = ClipIds::resolve(given, entries);
        if (const QString* error = std::get_if<QString>(&resolved)) {
            return CommandOutcome::failure(*error + QStringLiteral("; nothing was deleted"));
        }
        ids << std::get<HistoryEntry>(resolved).item.id;
    }
    ClipStore* const store = access.store();
    if (!store) {
        return storeUnavailable();
    }
    for (const QUuid& id : std::as_const(ids)) {
        store->remove(id);
    }
    access.changed();
    return CommandOutcome::success();
}

CommandOutcome ClipCommands::clear(const CommandLine& commandLine, HistoryAccess& access) {
    const QList<HistoryEntry> entries = access.entries();
    if (entries.isEmpty()) {
        return CommandOutcome::success();
    }
    ClipStore* const store = access.store();
    if (!store) {
        return storeUnavailable();
    }
    // A pinned copy keeps the content's other copies too, since deleting one deletes them all.
    QSet<QString> pinnedKeys;
    if (commandLine.keepPinned) {
        for (const HistoryEntry& entry : entries) {
            if (entry.item.pinned && !entry.item.dedupKey.isEmpty()) {
                pinnedKeys.insert(entry.item.dedupKey);
            }
        }
    }
    for (const HistoryEntry& entry : entries) {
        if (commandLine.keepPinned && (entry.item.pinned || pinnedKeys.contains(entry.item.dedupKey))) {
            continue;
        }
        store->remove(entry.item.id);
    }
    access.changed();
    return CommandOutcome::success();
}

} // namespace snipjar
