#pragma once

namespace snipjar {

class StoreConnection;

// The tables of one history store and the steps that bring an older file up to date. The version
// is kept in the file's user_version; version 1 holds ClipItem, ClipPayload and Device, version 2
// adds SyncOutbox.
class StoreSchema {
public:
    static constexpr int currentVersion = 3;
    // The first version whose ClipPayload has the HTML columns.
    static constexpr int htmlVersion = 3;

    enum class Outcome { current, migrated, failed, tooNew };

    // Runs every missing step in one transaction, so a failure leaves the file exactly as it was.
    // A file written by a newer version is left alone and reported as tooNew.
    static Outcome migrate(StoreConnection& connection);
};

} // namespace snipjar
