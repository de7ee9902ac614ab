#include "SimulatedComputer.h"

#include "EventLoopWait.h"
#include "store/ModelContainer.h"
#include "store/ModelContext.h"

#include <QCryptographicHash>

namespace snipjar::test {

namespace {
constexpr auto syncTimeout = std::chrono::seconds(60);
}

SimulatedComputer::SimulatedComputer(const QString& deviceID, const QString& stateFile, Connect connect,
                                     const QString& formerDeviceID, ClipStore::Location location)
    : connect(std::move(connect))
    , clipStore(std::make_unique<ClipStore>(location, ClipStore::Options{deviceID, {}, {}, formerDeviceID}))
    , stateStore(std::make_unique<sync::SyncEngineStateStore>(stateFile)) {
    makeEngine();
}

void SimulatedComputer::copy(const QString& text) {
    Clip clip;
    clip.kind = ClipKind::text;
    clip.plainText = text;
    const auto context = clipStore->syncContainer().newContext();
    for (const ClipSyncChange& change : clipStore->insert(clip, *context)) {
        if (clipStore->onSyncChange) {
            clipStore->onSyncChange(change);
        }
    }
}

QList<QUuid> SimulatedComputer::clipIDs() {
    QList<QUuid> ids;
    for (const ClipItem& item : ClipStore::allItems(clipStore->syncContext())) {
        ids.append(item.id);
    }
    return ids;
}

bool SimulatedComputer::start() {
    if (!syncEngine) {
        makeEngine();
    }
    bool started = false;
    syncEngine->start([&started] { started = true; });
    return waitUntil([&started] { return started; }, syncTimeout);
}

void SimulatedComputer::quit() {
    syncEngine.reset();
    stateStore->waitForSaves();
    clipStore->onSyncChange = nullptr;
}

bool SimulatedComputer::syncNow() {
    bool finished = false;
    syncEngine->syncNow([this, &finished](bool fetched) {
        finished = true;
        lastFetchWentThrough = fetched;
    });
    return waitUntil([&finished] { return finished; }, syncTimeout);
}

QStringList SimulatedComputer::snapshot() {
    QStringList lines;
    ModelContext& context = clipStore->syncContext();
    for (const ClipItem& item : ClipStore::allItems(context)) {
        QString payload;
        if (item.hasPayload) {
            const auto stored = context.payload(item.id);
            payload = stored && stored->fullText
                          ? QString::fromLatin1(QCryptographicHash::hash(stored->fullText->toUtf8(),
                                                                         QCryptographicHash::Sha256)
                                                    .toHex())
                          : QStringLiteral("missing");
        }
        lines.append(QStringLiteral("clip %1 %2 %3 pinned=%4 %5 %6 at=%7 payload=%8")
                         .arg(item.id.toString(), item.deviceID, item.kindRaw, QString::number(item.pinned),
                              item.dedupKey, item.title.left(40),
                              QString::number(item.createdAt.toMSecsSinceEpoch()), payload));
    }
    for (const Device& device : context.devices()) {
        lines.append(QStringLiteral("device %1 %2").arg(device.id, device.name));
    }
    lines.sort();
    return lines;
}

} // namespace snipjar::test
