#include "platform/UserSettings.h"

#include "platform/AppPaths.h"
#include "platform/PrivateFiles.h"

#include <QFileInfo>
#include <QSettings>

namespace snipjar {

namespace {

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
    if (!QFileInfo::exists(filePath())) {
        return std::nullopt;
    }
    QSettings settings(filePath(), QSettings::IniFormat);
    if (!settings.contains(key)) {
        return std::nullopt;
    }
    return settings.value(key);
}

void UserSettings::setValue(const QString& key, const QVariant& value) {
    AppPaths::ensurePrivateFolder(AppPaths::configFolder());
    {
        QSettings settings(filePath(), QSettings::IniFormat);
        settings.setValue(key, value);
        settings.sync();
    }
    PrivateFiles::restrictFile(filePath());
}

void UserSettings::remove(const QString& key) {
    if (!QFileInfo::exists(filePath())) {
        return;
    }
    QSettings settings(filePath(), QSettings::IniFormat);
    settings.remove(key);
    settings.sync();
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

} // namespace snipjar
