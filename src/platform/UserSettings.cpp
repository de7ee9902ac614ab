#include "platform/UserSettings.h"

#include "platform/AppPaths.h"
#include "platform/KeyText.h"
#include "platform/PrivateFiles.h"

#include <QFileInfo>
#include <QHash>
#include <QSettings>

#include <mutex>
#include <sys/stat.h>

namespace snipjar {

namespace {

// The settings file is read again whenever it changed on disk (size or modification time), so a
// value written by another process or thread is seen at the next read, while the store's limits,
// read at every filed clip, cost one stat instead of a parse of the file.
class SettingsSnapshot {
public:
    std::optional<QVariant> value(const QString& path, const QString& key) {
        std::lock_guard lock(mutex);
        if (!refresh(path)) {
            return std::nullopt;
        }
        const auto found = values.constFind(key);
        if (found == values.constEnd()) {
            return std::nullopt;
        }
        return *found;
    }

    // The keys below "group/", without that prefix, with their values.
    QList<std::pair<QString, QVariant>> valuesIn(const QString& path, const QString& group) {
        std::lock_guard lock(mutex);
        QList<std::pair<QString, QVariant>> found;
        if (!refresh(path)) {
            return found;
        }
        const QString prefix = group + QLatin1Char('/');
        for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
            if (it.key().startsWith(prefix) && it.key().size() > prefix.size()) {
                found.append({it.key().mid(prefix.size()), it.value()});
            }
        }
        return found;
    }

    void invalidate() {
        std::lock_guard lock(mutex);
        loadedPath.clear();
    }

private:
    // Reads the file again when it changed on disk; false when there is none. Called under the lock.
    bool refresh(const QString& path) {
        struct stat info {};
        if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
            loadedPath.clear();
            return false;
        }
        const Stamp stamp{info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec, info.st_ino};
        if (path != loadedPath || stamp != loadedStamp) {
            QSettings settings(path, QSettings::IniFormat);
            values.clear();
            for (const QString& name : settings.allKeys()) {
                values.insert(name, settings.value(name));
            }
            loadedPath = path;
            loadedStamp = stamp;
        }
        return true;
    }

    struct Stamp {
        off_t size = -1;
        time_t seconds = 0;
        long nanoseconds = 0;
        ino_t inode = 0;
        bool operator==(const Stamp&) const = default;
    };

    std::mutex mutex;
    QString loadedPath;
    Stamp loadedStamp;
    QHash<QString, QVariant> values;
};

SettingsSnapshot& snapshot() {
    static SettingsSnapshot instance;
    return instance;
}

std::optional<qint64> integerValue(const char* key) {
    const auto stored = UserSettings::value(QString::fromLatin1(key));
    if (!stored) {
        return std::nullopt;
    }
    bool ok = false;
    const qint64 number = stored->toLongLong(&ok);
    if (!ok) {
        return std::nullopt;
    }
    return number;
}

std::optional<bool> booleanValue(const char* key) {
    const auto stored = UserSettings::value(QString::fromLatin1(key));
    if (!stored) {
        return std::nullopt;
    }
    const QString text = stored->toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("1") || text == QLatin1String("yes")) {
        return true;
    }
    if (text == QLatin1String("false") || text == QLatin1String("0") || text == QLatin1String("no")) {
        return false;
    }
    return std::nullopt;
}

} // namespace

QString UserSettings::filePath() {
    return AppPaths::configFolder() + QStringLiteral("/Snipjar.conf");
}

std::optional<QVariant> UserSettings::value(const QString& key) {
    return snapshot().value(filePath(), key);
}

QList<std::pair<QString, QVariant>> UserSettings::valuesIn(const QString& group) {
    return snapshot().valuesIn(filePath(), group);
}

void UserSettings::setValue(const QString& key, const QVariant& value) {
    AppPaths::ensurePrivateFolder(AppPaths::configFolder());
    {
        QSettings settings(filePath(), QSettings::IniFormat);
        settings.setValue(key, value);
        settings.sync();
    }
    PrivateFiles::restrictFile(filePath());
    snapshot().invalidate();
}

void UserSettings::remove(const QString& key) {
    if (!QFileInfo::exists(filePath())) {
        return;
    }
    QSettings settings(filePath(), QSettings::IniFormat);
    settings.remove(key);
    settings.sync();
    snapshot().invalidate();
}

int UserSettings::historyLength() {
    const auto stored = integerValue(historyLengthKey);
    return stored && *stored >= 1 && *stored <= 1000 ? static_cast<int>(*stored) : 100;
}

int UserSettings::retentionDays() {
    const auto stored = integerValue(retentionDaysKey);
    // Anything beyond a century is as good as "keep forever" and keeps the date arithmetic sane.
    return stored && *stored > 0 ? static_cast<int>(std::min<qint64>(*stored, 36500)) : 7;
}

qint64 UserSettings::maxStoreBytes() {
    const auto stored = integerValue(maxStoreBytesKey);
    return stored && *stored > 0 ? *stored : 500'000'000;
}

bool UserSettings::syncEnabled() {
    return booleanValue(syncEnabledKey).value_or(true);
}

bool UserSettings::keepClipboard() {
    return booleanValue(keepClipboardKey).value_or(true);
}

std::optional<QString> UserSettings::hotKey() {
    const auto stored = value(QString::fromLatin1(hotKeyKey));
    if (!stored) {
        return std::nullopt;
    }
    return stored->toString();
}

bool UserSettings::didOnboard() {
    return booleanValue(didOnboardKey).value_or(false);
}

std::optional<bool> UserSettings::didConfigureLoginItem() {
    return booleanValue(didConfigureLoginItemKey);
}

int UserSettings::menuClipLimit() {
    const auto stored = integerValue(menuClipLimitKey);
    return stored && *stored >= 1 && *stored <= 30 ? static_cast<int>(*stored) : 15;
}

qint64 UserSettings::maxCaptureRepBytes() {
    const auto stored = integerValue(maxCaptureRepBytesKey);
    return stored && *stored > 0 ? *stored : 300'000'000;
}

bool UserSettings::recordSelectedText() {
    return booleanValue(recordSelectedTextKey).value_or(false);
}

std::optional<QString> UserSettings::syncServer() {
    const auto stored = value(QString::fromLatin1(syncServerKey));
    if (!stored) {
        return std::nullopt;
    }
    const QString server = stored->toString().trimmed();
    if (server.isEmpty()) {
        return std::nullopt;
    }
    return server;
}

std::optional<QUrl> UserSettings::updateFeedURL() {
    const auto stored = value(QString::fromLatin1(updateFeedURLKey));
    if (!stored) {
        return std::nullopt;
    }
    const QUrl url(stored->toString().trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("https") && scheme != QLatin1String("http"))) {
        return std::nullopt;
    }
    return url;
}

std::optional<QByteArray> UserSettings::updatePublicKey() {
    const auto stored = value(QString::fromLatin1(updatePublicKeyKey));
    if (!stored) {
        return std::nullopt;
    }
    // An Ed25519 public key is 32 bytes (crypto_sign_PUBLICKEYBYTES); this library does not link
    // libsodium, so the figure is written here.
    return KeyText::decode(stored->toString(), 32);
}

std::optional<QDateTime> UserSettings::lastUpdateCheck() {
    const auto stored = value(QString::fromLatin1(lastUpdateCheckKey));
    if (!stored) {
        return std::nullopt;
    }
    const QDateTime time = QDateTime::fromString(stored->toString().trimmed(), Qt::ISODateWithMs);
    if (!time.isValid()) {
        return std::nullopt;
    }
    return time.toUTC();
}

void UserSettings::setLastUpdateCheck(const QDateTime& time) {
    setValue(QString::fromLatin1(lastUpdateCheckKey), time.toUTC().toString(Qt::ISODateWithMs));
}

} // namespace snipjar
