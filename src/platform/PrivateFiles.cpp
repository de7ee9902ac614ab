#include "platform/PrivateFiles.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snipjar {

bool PrivateFiles::restrictFolder(const QString& path) {
    return ::chmod(QFile::encodeName(path).constData(), 0700) == 0;
}

bool PrivateFiles::restrictFile(const QString& path) {
    return ::chmod(QFile::encodeName(path).constData(), 0600) == 0;
}

bool PrivateFiles::writeFile(const QString& path, const QByteArray& bytes, Durability durability) {
    const QByteArray finalName = QFile::encodeName(path);
    const QByteArray temporaryName = finalName + ".tmp";
    const int fd = ::open(temporaryName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    ::fchmod(fd, 0600);
    const char* cursor = bytes.constData();
    qsizetype remaining = bytes.size();
    bool ok = true;
    while (remaining > 0) {
        const ssize_t written = ::write(fd, cursor, static_cast<size_t>(remaining));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            ok = false;
            break;
        }
        cursor += written;
        remaining -= written;
    }
    if (ok && durability == Durability::Synced && ::fdatasync(fd) != 0) {
        ok = false;
    }
    if (::close(fd) != 0) {
        ok = false;
    }
    if (ok && ::rename(temporaryName.constData(), finalName.constData()) != 0) {
        ok = false;
    }
    if (!ok) {
        ::unlink(temporaryName.constData());
    }
    return ok;
}

void PrivateFiles::syncFolder(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace snipjar
