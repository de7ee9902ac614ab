#pragma once

#include "sync/cloud/CloudDatabase.h"
#include "sync/crypto/HistoryKey.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace snipjar::cloud {
class RecordSealer;
}

namespace snipjar::sync {

// Rewrites every record of a zone that the server holds plain, or sealed with another key, sealed
// with the history key: for switching encryption on, and for changing the key. The server's
// records are the progress: a run after a crash rewrites only what is still left. A run is over
// when a whole pass over the zone finds nothing left to rewrite; a record another computer changed
// meanwhile (a conflicting change tag) is left to the next pass. Blocks; meant for the sync
// worker's thread or one of its own, with a connection of its own.
class Reencryption {
public:
    struct Progress {
        int passes = 0;
        int rewritten = 0;
        int conflicts = 0;
        // Sealed with a key not held here: left as they are, neither plain nor openable.
        int unreadable = 0;
        // Whether the last pass found nothing left to rewrite.
        bool finished = false;
    };

    // `inner` is the plain connection (not an EncryptedCloudDatabase); formerKeys open what was
    // sealed before a key change; `accountBinding` must be the one the encrypted connection uses
    // (empty: the connection's accountIdentity()).
    Reencryption(std::shared_ptr<cloud::CloudDatabase> inner, const crypto::HistoryKey& key,
                 const std::vector<crypto::HistoryKey>& formerKeys, const QString& accountBinding,
                 cloud::RecordZoneID zone);
    ~Reencryption();

    // Passes until one finds nothing to rewrite, or maxPasses went by; a failed call ends the run
    // with its error. Progress is reported after every page.
    cloud::CloudResult<Progress> run(int maxPasses = 10,
                                     const std::function<void(const Progress&)>& onProgress = {});
    // Rewrites every sealed record plain instead (those of other keys are counted unreadable):
    // for switching encryption off. Before run().
    void setToPlain(bool plain) { toPlain = plain; }
    // Leaves plain records as they are, for a key change: encryption was on already, so a plain
    // record is one the server made up, and sealing it would make it a clip. Before run().
    void setPlainRefused(bool refused) { plainRefused = refused; }
    // Any thread: the run ends soon, with operationCancelled.
    void cancel();

    // A file whose existence says a run is still to finish: made when encryption is switched on or
    // the key changes, removed when a run finished, so that a crash leaves it for the next start.
    static bool markPending(const QString& flagFile);
    static bool isPending(const QString& flagFile);
    static void clearPending(const QString& flagFile);

private:
    // One pass; how many records it found left to rewrite.
    cloud::CloudResult<int> pass(Progress& progress, const std::function<void(const Progress&)>& onProgress);
    cloud::CloudStatus rewrite(const QList<cloud::CloudRecord>& plain, Progress& progress);

    std::shared_ptr<cloud::CloudDatabase> inner;
    std::unique_ptr<cloud::RecordSealer> sealer;
    cloud::RecordZoneID zone;
    std::atomic<bool> cancelled = false;
    bool toPlain = false;
    bool plainRefused = false;
};

} // namespace snipjar::sync
