#include "paste/ClipboardKeeper.h"

#include "paste/Paster.h"
#include "platform/ClipboardManagerRole.h"
#include "platform/LogCategories.h"
#include "platform/Pasteboard.h"
#include "platform/PasteboardChangeTracking.h"
#include "store/ClipStore.h"

#include <QPointer>
#include <QThreadPool>

namespace snipjar {

namespace {

// The fates kept: a few more than the changes a decision can be about.
constexpr qsizetype keptFates = 16;
constexpr int giveUpCheckMilliseconds = 100;
constexpr std::chrono::milliseconds quitHandOverLimit{2000};

} // namespace

ClipboardKeeper::ClipboardKeeper(ClipStore& store, Pasteboard& pasteboard, ClipboardManagerRole* role,
                                 QObject* parent)
    : QObject(parent)
    , store(store)
    , pasteboard(pasteboard)
    , role(role)
    , loader(std::make_unique<QThreadPool>()) {
    loader->setMaxThreadCount(1);
    clock.start();
    giveUpTimer.setInterval(giveUpCheckMilliseconds);
    connect(&giveUpTimer, &QTimer::timeout, this, &ClipboardKeeper::decide);
    connect(&pasteboard, &Pasteboard::ownerLost, this, &ClipboardKeeper::ownerLost);
    if (role) {
        connect(role, &ClipboardManagerRole::handOverRequested, this, &ClipboardKeeper::handOverRequested);
    }
}

ClipboardKeeper::~ClipboardKeeper() {
    loader->waitForDone();
    for (const Waiting& entry : std::as_const(waiting)) {
        if (entry.isHandOver) {
            answer(entry.request, false);
        }
    }
}

void ClipboardKeeper::setEnabled(bool enable) {
    if (enable == enabled) {
        return;
    }
    enabled = enable;
    if (role) {
        if (enabled) {
            role->claim();
        } else {
            role->release();
        }
    }
}

void ClipboardKeeper::noteCapture(qint64 changeCount, Fate fate) {
    if (fate == Fate::captured) {
        ++awaitingFiles;
    }
    // A capture that found nothing does not undo what a retry of the same change found before.
    if (fate != Fate::nothing || !fates.contains(changeCount)) {
        fates.insert(changeCount, fate);
    }
    while (fates.size() > keptFates) {
        fates.erase(fates.begin());
    }
    decide();
}

void ClipboardKeeper::noteFiled() {
    awaitingFiles = std::max(0, awaitingFiles - 1);
    decide();
}

void ClipboardKeeper::ownerLost() {
    if (!enabled) {
        return;
    }
    waiting.append({pasteboard.changeCount(), false, 0, clock.elapsed() + decisionLimitMilliseconds});
    decide();
}

void ClipboardKeeper::handOverRequested(quint64 request) {
    if (!enabled) {
        answer(request, false);
        return;
    }
    waiting.append({pasteboard.changeCount(), true, request, clock.elapsed() + decisionLimitMilliseconds});
    decide();
}

void ClipboardKeeper::decide() {
    const qint64 now = clock.elapsed();
    for (qsizetype index = 0; index < waiting.size();) {
        const Waiting entry = waiting[index];
        std::optional<bool> restorable;
        if (entry.isHandOver) {
            // The quitting program's own copy: known once captured or skipped (a capture that
            // found nothing may still be retried).
            const auto fate = fates.constFind(entry.changeCount);
            if (fate != fates.constEnd() && *fate != Fate::nothing) {
                restorable = *fate == Fate::captured;
            }
        } else if (!fates.isEmpty() && fates.lastKey() >= entry.changeCount) {
            // The change to no owner has been looked at, so every copy before it has been too; the
            // newest of them is the one that was lost.
            const auto lost = fates.lowerBound(entry.changeCount);
            restorable = lost != fates.constBegin() && *std::prev(lost) == Fate::captured;
        }
        // A captured copy is restored once it is filed, since it is then the newest clip.
        const bool ready = restorable && (!*restorable || awaitingFiles == 0);
        if (!ready && now < entry.deadline) {
            ++index;
            continue;
        }
        waiting.removeAt(index);
        const std::optional<quint64> request =
            entry.isHandOver ? std::optional<quint64>(entry.request) : std::nullopt;
        if (ready && *restorable && pasteboard.changeCount() == entry.changeCount) {
            restoreNewest(entry.changeCount, request);
        } else {
            answer(request, false);
        }
    }
    if (waiting.isEmpty()) {
        giveUpTimer.stop();
    } else if (!giveUpTimer.isActive()) {
        giveUpTimer.start();
    }
}

std::optional<QUuid> ClipboardKeeper::newestClipID() {
    const ClipItemQuery newest = ClipItemQuery::all().limitedTo(1).withoutLargeFields();
    const QList<ClipItem> synced = store.syncContext().fetch(newest);
    const QList<ClipItem> local = store.localContext().fetch(newest);
    if (synced.isEmpty() && local.isEmpty()) {
        return std::nullopt;
    }
    if (local.isEmpty() || (!synced.isEmpty() && synced.front().createdAt >= local.front().createdAt)) {
        return synced.front().id;
    }
    return local.front().id;
}

void ClipboardKeeper::restoreNewest(qint64 expectedChangeCount, std::optional<quint64> request) {
    const std::optional<QUuid> id = newestClipID();
    if (!id) {
        answer(request, false);
        return;
    }
    ClipboardKeeper* const context = this;
    const QPointer<ClipboardKeeper> self(this);
    loader->start(
        [context, self, id = *id, expectedChangeCount, request, &store = store] {
            std::optional<Clip> clip = store.loadClip(id, store.syncContainer());
            if (!clip) {
                clip = store.loadClip(id, store.localContainer());
            }
            std::optional<QByteArray> tiff = clip ? Paster::tiffFallback(*clip) : std::nullopt;
            QMetaObject::invokeMethod(
                context,
                [self, id, expectedChangeCount, request, clip = std::move(clip), tiff = std::move(tiff)] {
                    if (!self) {
                        return;
                    }
                    // Another program may have copied meanwhile; a secret is never put back.
                    if (!clip || clip->concealed || self->pasteboard.changeCount() != expectedChangeCount) {
                        self->answer(request, false);
                        return;
                    }
                    self->pasteboard.write(Paster::content(*clip, tiff));
                    setLastWrittenChangeCount(self->pasteboard.changeCount());
                    qCDebug(lcPaste) << "The clipboard was kept after its program went";
                    self->answer(request, true);
                    emit self->restored(id);
                },
                Qt::QueuedConnection);
        },
        QThread::HighPriority);
}

void ClipboardKeeper::answer(std::optional<quint64> request, bool saved) {
    if (request && role) {
        role->finishHandOver(*request, saved);
    }
}

void ClipboardKeeper::handOverBeforeQuit() {
    if (!role || role->isClaimed() || pasteboard.changeCount() != lastWrittenChangeCount()) {
        return;
    }
    role->handOverClipboard(quitHandOverLimit);
}

} // namespace snipjar
