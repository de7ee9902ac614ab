#pragma once

#include "sync/cloud/CloudDatabase.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

namespace snipjar::test {

class PostgresCluster;
class ServiceServer;

// One implementation of the cloud database as the conformance suite sees it: a server that users
// open their view of.
class CloudBackend {
public:
    virtual ~CloudBackend() = default;
    // The named user's view; the same name gives the same owner, another name another owner.
    virtual std::unique_ptr<cloud::CloudDatabase> open(const QString& user) = 0;
};

struct CloudBackendFactory {
    const char* name;
    std::function<std::unique_ptr<CloudBackend>()> make;

    friend void PrintTo(const CloudBackendFactory& factory, std::ostream* out) { *out << factory.name; }
};

// A private PostgreSQL server shared by the whole test run; started on first use.
PostgresCluster& sharedPostgresCluster();

// A snipjar-server over that PostgreSQL server, shared likewise.
ServiceServer& sharedServiceServer();

// Every implementation the conformance suite runs against: the in-memory server, the sync service,
// and the sync service with the history sealed.
std::vector<CloudBackendFactory> cloudBackendFactories();

// A record of the history zone with a text field.
cloud::CloudRecord textRecord(const QString& name, const QString& text, const QString& type = "ClipItem");

inline const cloud::RecordZoneID historyZone{QStringLiteral("SnipjarHistory")};

// All changes after the token, following pages until none is left.
struct AllChanges {
    QList<cloud::CloudRecord> modifications;
    QList<cloud::RecordDeletion> deletions;
    cloud::ChangeToken token;
    int pages = 0;
    // The pages' asset files, kept while this exists.
    QList<std::shared_ptr<const void>> assetFiles;
};
QSet<QString> namesOf(const QList<cloud::CloudRecord>& records);
QHash<QString, cloud::CloudRecord> byName(const QList<cloud::CloudRecord>& records);
// Writes the file (failing the test when it cannot) and gives its path back.
QString writeFile(const QString& path, const QByteArray& bytes);
// The bytes of a record's asset file; empty when there is none.
QByteArray assetBytes(const cloud::CloudRecord& record, const QString& field);
QSet<QString> namesOf(const QList<cloud::RecordDeletion>& deletions);

std::optional<AllChanges> fetchAll(cloud::CloudDatabase& database,
                                   const std::optional<cloud::ChangeToken>& since);

} // namespace snipjar::test
