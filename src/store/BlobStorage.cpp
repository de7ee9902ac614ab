#include "store/BlobStorage.h"

#include "platform/AppPaths.h"
#include "platform/LogCategories.h"
#include "platform/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QSet>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snipjar {

namespace {

// A lost file stays lost, and the panel asks for the same clip again and again: one line per file
// says what happened without flooding the log.
void reportOnce(const char* problem, const QString& path) {
    static QMutex mutex;
    static QSet<QString> reported;
    {
        QMutexLocker locker(&mutex);
        if (reported.contains(path)) {
            return;
        }
        reported.insert(path);
    }
    qCWarning(lcStore) << problem << path;
}

} // namespace

BlobStorage::BlobStorage(QString folder)
    : folderPath(std::move(folder)) {}

bool BlobStorage::prepareFolder() const {
    return AppPaths::ensurePrivateFolder(folderPath);
}

std::optional<QString> BlobStorage::write(const QUuid& itemID, const char* field,
                                          const QByteArray& bytes) const {
    // A random suffix keeps a payload that is deleted and stored again in one unit of work from
    // sharing a file with its earlier self.
    const QString name = QStringLiteral("%1-%2-%3")
                             .arg(itemID.toString(QUuid::WithoutBraces).toUpper(), QLatin1String(field))
                             .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
    if (!PrivateFiles::writeFile(pathOf(name), bytes, PrivateFiles::Durability::Synced)) {
        qCWarning(lcStore) << "cannot write payload file" << name;
        return std::nullopt;
    }
    PrivateFiles::syncFolder(folderPath);
    return name;
}

std::optional<QByteArray> BlobStorage::read(const QString& name) const {
    if (!isValidName(name)) {
        return std::nullopt;
    }
    const int fd = ::open(QFile::encodeName(pathOf(name)).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        reportOnce("payload file missing:", pathOf(name));
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    // One allocation of the exact size; the file is read straight into it.
    QByteArray bytes(qsizetype(status.st_size), Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < bytes.size()) {
        const ssize_t count = ::read(fd, bytes.data() + filled, size_t(bytes.size() - filled));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        filled += count;
    }
    ::close(fd);
    if (filled != bytes.size()) {
        reportOnce("payload file unreadable:", pathOf(name));
        return std::nullopt;
    }
    return bytes;
}

void BlobStorage::remove(const QString& name) const {
    if (isValidName(name)) {
        ::unlink(QFile::encodeName(pathOf(name)).constData());
    }
}

int BlobStorage::sweep(const QSet<QString>& referenced) const {
    int removed = 0;
    const QSet<QString> present = fileNames();
    for (const QString& name : present) {
        if (!referenced.contains(name)) {
            ::unlink(QFile::encodeName(pathOf(name)).constData());
            ++removed;
        }
    }
    if (removed > 0) {
        qCInfo(lcStore) << "removed" << removed << "payload files left by an interrupted write";
    }
    return removed;
}

QSet<QString> BlobStorage::fileNames() const {
    const QStringList entries = QDir(folderPath).entryList(QDir::Files | QDir::Hidden | QDir::System);
    return QSet<QString>(entries.cbegin(), entries.cend());
}

bool BlobStorage::isValidName(const QString& name) {
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QLatin1String(".") &&
           name != QLatin1String("..");
}

QString BlobStorage::pathOf(const QString& name) const {
    return folderPath + QLatin1Char('/') + name;
}

} // namespace snipjar
