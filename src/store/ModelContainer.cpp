#include "store/ModelContainer.h"

#include "platform/LogCategories.h"
#include "platform/PrivateFiles.h"
#include "store/ModelContext.h"
#include "store/StoreConnection.h"
#include "store/StoreSchema.h"

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QUrl>
#include <QUuid>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snipjar {

namespace {

// Idle connections kept for the next contexts; more are closed when they come back.
constexpr size_t idleConnectionLimit = 4;

// SQLite would create a new database file with mode 0644 less the umask; creating it first with
// 0600 makes the journal files (which SQLite gives the database's mode) private too.
bool ensurePrivateFileExists(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
        return true;
    }
    return errno == EEXIST;
}

// WAL with synchronous NORMAL: a committed transaction survives a crash of the process (the WAL is
// written before the commit returns), and commits need no fsync, so filing stays fast. A long text
// can swell the WAL; after a checkpoint it is cut back to a modest size.
bool configureFileConnection(StoreConnection& connection) {
    return connection.exec("PRAGMA synchronous = NORMAL") &&
           connection.exec("PRAGMA journal_size_limit = 16777216");
}

} // namespace

ModelContainer::ModelContainer(QString location, QString path, std::optional<BlobStorage> blobs)
    : location(std::move(location))
    , path(std::move(path))
    , blobs(std::move(blobs)) {}

ModelContainer::~ModelContainer() {
    idleConnections.clear();
    anchor.reset();
}

std::unique_ptr<ModelContainer> ModelContainer::openFile(const QString& path) {
    if (QFileInfo(path).isDir() || !ensurePrivateFileExists(path)) {
        return nullptr;
    }
    std::unique_ptr<StoreConnection> connection =
        StoreConnection::open(path, StoreConnection::Access::readWrite);
    if (!connection) {
        return nullptr;
    }
    // The first statements read the file: a file that is not a database, or one that cannot be
    // read or written, fails here without having been changed.
    const std::optional<QString> journalMode = connection->queryText("PRAGMA journal_mode = WAL");
    if (!journalMode || journalMode->compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0 ||
        !configureFileConnection(*connection)) {
        qCDebug(lcStore) << "cannot use" << path << connection->lastError();
        return nullptr;
    }
    const StoreSchema::Outcome schema = StoreSchema::migrate(*connection);
    if (schema == StoreSchema::Outcome::failed || schema == StoreSchema::Outcome::tooNew) {
        qCDebug(lcStore) << "cannot use schema of" << path;
        return nullptr;
    }
    BlobStorage blobStorage(path + QStringLiteral("-blobs"));
    if (!blobStorage.prepareFolder()) {
        qCDebug(lcStore) << "cannot create" << blobStorage.folder();
        return nullptr;
    }
    std::unique_ptr<ModelContainer> container(new ModelContainer(path, path, std::move(blobStorage)));
    container->restrictFiles();
    container->sweepBlobs(*connection);
    container->releaseConnection(std::move(connection));
    return container;
}

std::unique_ptr<ModelContainer> ModelContainer::openInMemory(const QString& name) {
    // The memdb VFS shares a database whose name starts with "/" among all connections of the
    // process, with ordinary locking, so contexts wait for each other just as they do on disk.
    const QString location = QStringLiteral("file:/snipjar-%1-%2?vfs=memdb")
                                 .arg(QString::fromLatin1(QUrl::toPercentEncoding(name)),
                                      QUuid::createUuid().toString(QUuid::WithoutBraces));
    std::unique_ptr<StoreConnection> anchor =
        StoreConnection::open(location, StoreConnection::Access::readWrite);
    if (!anchor || StoreSchema::migrate(*anchor) != StoreSchema::Outcome::migrated) {
        return nullptr;
    }
    std::unique_ptr<ModelContainer> container(new ModelContainer(location, QString(), std::nullopt));
    container->anchor = std::move(anchor);
    return container;
}

std::unique_ptr<ModelContext> ModelContainer::newContext() {
    return std::make_unique<ModelContext>(*this, acquireConnection());
}

std::unique_ptr<StoreConnection> ModelContainer::acquireConnection() {
    {
        QMutexLocker locker(&poolMutex);
        if (!idleConnections.empty()) {
            std::unique_ptr<StoreConnection> connection = std::move(idleConnections.back());
            idleConnections.pop_back();
            return connection;
        }
    }
    std::unique_ptr<StoreConnection> connection = openConnection();
    if (!connection) {
        qCWarning(lcStore) << "cannot open another connection to the store";
    }
    return connection;
}

void ModelContainer::releaseConnection(std::unique_ptr<StoreConnection> connection) {
    if (!connection) {
        return;
    }
    if (connection->isInTransaction()) {
        connection->exec("ROLLBACK");
    }
    // A context may have shortened its wait; the next one starts with the usual patience.
    connection->setBusyTimeout(StoreConnection::busyTimeoutMilliseconds);
    QMutexLocker locker(&poolMutex);
    if (idleConnections.size() < idleConnectionLimit) {
        idleConnections.push_back(std::move(connection));
    }
}

std::unique_ptr<StoreConnection> ModelContainer::openConnection() const {
    std::unique_ptr<StoreConnection> connection =
        StoreConnection::open(location, StoreConnection::Access::readWrite);
    if (connection && !isInMemory() && !configureFileConnection(*connection)) {
        return nullptr;
    }
    return connection;
}

void ModelContainer::restrictFiles() const {
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const QString file = path + QLatin1String(suffix);
        if (QFileInfo::exists(file)) {
            PrivateFiles::restrictFile(file);
        }
    }
}

void ModelContainer::sweepBlobs(StoreConnection& connection) const {
    QSet<QString> referenced;
    StoreStatement statement = connection.prepare(
        QStringLiteral("SELECT richTextFile FROM ClipPayload WHERE richTextFile IS NOT NULL "
                       "UNION ALL SELECT imageFile FROM ClipPayload WHERE imageFile IS NOT NULL "
                       "UNION ALL SELECT htmlFile FROM ClipPayload WHERE htmlFile IS NOT NULL"));
    StoreStatement::Step step = statement.step();
    while (step == StoreStatement::Step::row) {
        referenced.insert(statement.text(0));
        step = statement.step();
    }
    // Without a complete list nothing is removed: a file still named by a row must never go.
    if (step == StoreStatement::Step::done) {
        blobs->sweep(referenced);
    }
}

} // namespace snipjar
