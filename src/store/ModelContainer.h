#pragma once

#include "store/BlobStorage.h"

#include <QMutex>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace snipjar {

class ModelContext;
class StoreConnection;

// One opened history store: a SQLite database file in WAL mode (or a database held in memory) with
// the store's schema, and the folder of its large payload files. Thread-safe: any thread may ask
// for a fresh context, and the contexts of one container see each other's saved changes.
// A container outlives every context made from it.
class ModelContainer {
public:
    // Opens (creating when missing) the database file at the path and brings its schema up to date;
    // none when the file cannot be used. A file that cannot be used is left exactly as it was.
    static std::unique_ptr<ModelContainer> openFile(const QString& path);
    // A database held in memory for the life of the container, shared by all its contexts.
    static std::unique_ptr<ModelContainer> openInMemory(const QString& name);

    ~ModelContainer();
    ModelContainer(const ModelContainer&) = delete;
    ModelContainer& operator=(const ModelContainer&) = delete;

    // A new unit of work for the calling thread.
    std::unique_ptr<ModelContext> newContext();

    bool isInMemory() const { return !blobs.has_value(); }
    // The database file; empty for a store in memory.
    const QString& filePath() const { return path; }
    // The folder of large payload files; none for a store in memory (which keeps bytes in its rows).
    const BlobStorage* blobStorage() const { return blobs ? &*blobs : nullptr; }

    // The pool of connections behind the contexts.
    std::unique_ptr<StoreConnection> acquireConnection();
    void releaseConnection(std::unique_ptr<StoreConnection> connection);

private:
    ModelContainer(QString location, QString path, std::optional<BlobStorage> blobs);

    std::unique_ptr<StoreConnection> openConnection() const;
    void restrictFiles() const;
    void sweepBlobs(StoreConnection& connection) const;

    const QString location;
    const QString path;
    const std::optional<BlobStorage> blobs;
    QMutex poolMutex;
    std::vector<std::unique_ptr<StoreConnection>> idleConnections;
    // Keeps a database in memory alive while no context is open.
    std::unique_ptr<StoreConnection> anchor;
};

} // namespace snipjar
