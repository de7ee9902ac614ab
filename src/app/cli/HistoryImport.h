#pragma once

#include "app/cli/CommandOutcome.h"
#include "model/ClipSyncChange.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>

#include <optional>
#include <variant>
#include <vector>

namespace snipjar {

class ClipStore;
class HistoryAccess;

// Merges an archive written by HistoryExport into the history. The whole archive is checked
// first (check), and only an archive found sound is filed: a damaged, truncated, foreign or
// oversized one changes nothing. Filing goes through the store's own rules, as `add` does, with
// the clip's original copy time; content the history already holds (by the store's dedup key) is
// skipped, so importing twice adds nothing.
class HistoryImport {
public:
    // Where each part of a checked archive lies in the file.
    struct Payload {
        int clip = 0;
        int type = 0;
        qint64 offset = 0;
        qint64 size = 0;
    };
    struct Plan {
        QString path;
        int clips = 0;
        qint64 linesOffset = 0;
        qint64 linesSize = 0;
        std::vector<Payload> payloads;
    };
    struct Result {
        int imported = 0;
        int alreadyThere = 0;
        int unreadable = 0;
        // The sync store's changes, for its onSyncChange, and the filed clips to pin: both belong
        // to the store's thread (finish).
        QList<ClipSyncChange> syncChanges;
        QList<QUuid> toPin;
        // The other computers the filed clips came from (id to name), recorded by finish.
        QHash<QString, QString> devices;
        std::optional<QString> failure;
    };

    // Reads the whole archive; the plan, or why it is refused. Any thread.
    static std::variant<Plan, QString> check(const QString& path);
    // Files the clips of a checked archive whose content is not among `knownKeys`. Any thread:
    // every clip is filed on a context of its own.
    static Result file(const Plan& plan, ClipStore& store, QSet<QString> knownKeys);
    // On the store's thread: hands the changes to sync, pins, and reports.
    static CommandOutcome finish(const Result& result, ClipStore& store, HistoryAccess& access);
    // The dedup keys of the history, for file.
    static QSet<QString> keysOf(HistoryAccess& access);
    // check, file and finish on this thread: the command process without a running Snipjar.
    static CommandOutcome run(const QString& path, HistoryAccess& access);
};

} // namespace snipjar
