#include "app/cli/SettingsCommand.h"

#include "paste/HotKeyCombo.h"
#include "platform/LaunchAtLogin.h"
#include "platform/UserSettings.h"
#include "platform/account/SyncAccount.h"

#include <array>

namespace snipjar {

namespace {

// A setting's value as typed, checked: the outcome to report when it is refused (status 2 with
// what is allowed, or 1 when writing failed), none once written.
using Writer = std::optional<CommandOutcome> (*)(const QString& value);

struct Setting {
    const char* key;
    QString (*read)();
    Writer write;
};

QString boolText(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

std::optional<bool> parseBool(const QString& text) {
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("true") || word == QLatin1String("on") || word == QLatin1String("yes") ||
        word == QLatin1String("1")) {
        return true;
    }
    if (word == QLatin1String("false") || word == QLatin1String("off") || word == QLatin1String("no") ||
        word == QLatin1String("0")) {
        return false;
    }
    return std::nullopt;
}

std::optional<CommandOutcome> refused(const char* key, const char* allowed) {
    return CommandOutcome::usageError(
        QStringLiteral("%1 takes %2").arg(QLatin1String(key), QLatin1String(allowed)));
}

template <const char* key> std::optional<CommandOutcome> writeBool(const QString& value) {
    const std::optional<bool> parsed = parseBool(value);
    if (!parsed) {
        return refused(key, "true or false");
    }
    UserSettings::setValue(QString::fromLatin1(key), *parsed);
    return std::nullopt;
}

std::optional<int> parseInt(const QString& text) {
    bool ok = false;
    const int number = text.trimmed().toInt(&ok);
    return ok ? std::optional(number) : std::nullopt;
}

constexpr char launchAtLogin[] = "launchAtLogin";
constexpr char keepClipboard[] = "keepClipboardWhenOwnerQuits";
constexpr char recordSelectedText[] = "recordSelectedText";
constexpr char syncEnabled[] = "syncEnabled";

const std::array<Setting, 8> settings{{
    {launchAtLogin, [] { return boolText(LaunchAtLogin::isEnabled()); },
     [](const QString& value) -> std::optional<CommandOutcome> {
         const std::optional<bool> wanted = parseBool(value);
         if (!wanted) {
             return refused(launchAtLogin, "true or false");
         }
         if (!LaunchAtLogin::setEnabled(*wanted) || LaunchAtLogin::isEnabled() != *wanted) {
             return CommandOutcome::failure(*wanted
                                                ? QStringLiteral("the autostart entry could not be written "
                                                                 "(is Snipjar installed?)")
                                                : QStringLiteral("the autostart entry could not be removed"));
         }
         return std::nullopt;
     }},
    {"historyLength", [] { return QString::number(UserSettings::historyLength()); },
     [](const QString& value) -> std::optional<CommandOutcome> {
         const std::optional<int> length = parseInt(value);
         if (!length || *length < 1 || *length > 1000) {
             return refused("historyLength", "a number from 1 to 1000");
         }
         UserSettings::setValue(QString::fromLatin1(UserSettings::historyLengthKey), *length);
         return std::nullopt;
     }},
    {"retentionDays", [] { return QString::number(UserSettings::retentionDays()); },
     [](const QString& value) -> std::optional<CommandOutcome> {
         const std::optional<int> days = parseInt(value);
         if (!days || (*days != 7 && *days != 30 && *days != 90)) {
             return refused("retentionDays", "7, 30 or 90 (days)");
         }
         UserSettings::setValue(QString::fromLatin1(UserSettings::retentionDaysKey), *days);
         return std::nullopt;
     }},
    {"hotKey", [] { return HotKeyCombo::fromSettings().linuxDisplayString(); },
     [](const QString& value) -> std::optional<CommandOutcome> {
         const std::optional<HotKeyCombo> combo = HotKeyCombo::parseLinuxForm(value);
         if (!combo) {
             return refused("hotKey", "Ctrl, Alt or Super (with Shift if wanted) and one letter or digit, "
                                      "such as Ctrl+Alt+V");
         }
         if (const std::optional<QString> reason = combo->refusal()) {
             return CommandOutcome::usageError(*reason);
         }
         UserSettings::setValue(QString::fromLatin1(UserSettings::hotKeyKey), combo->displayString());
         return std::nullopt;
     }},
    {keepClipboard, [] { return boolText(UserSettings::keepClipboard()); }, &writeBool<keepClipboard>},
    {recordSelectedText, [] { return boolText(UserSettings::recordSelectedText()); },
     &writeBool<recordSelectedText>},
    {syncEnabled, [] { return boolText(UserSettings::syncEnabled()); }, &writeBool<syncEnabled>},
    {"syncServer", [] { return UserSettings::syncServer().value_or(QString()); },
     [](const QString& value) -> std::optional<CommandOutcome> {
         const QString address = value.trimmed();
         if (address.isEmpty()) {
             UserSettings::remove(QString::fromLatin1(UserSettings::syncServerKey));
             return std::nullopt;
         }
         if (const std::optional<QString> problem = SyncAccount::serverProblem(address)) {
             return CommandOutcome::usageError(
                 QStringLiteral("syncServer takes an https:// address of a sync "
                                "server (http:// on this computer), or \"\" for "
                                "none: %1")
                     .arg(*problem));
         }
         UserSettings::setValue(QString::fromLatin1(UserSettings::syncServerKey), address);
         return std::nullopt;
     }},
}};

} // namespace

QStringList SettingsCommand::keys() {
    QStringList names;
    for (const Setting& setting : settings) {
        names << QString::fromLatin1(setting.key);
    }
    return names;
}

CommandOutcome SettingsCommand::run(const CommandLine& commandLine, const Applied& applied) {
    if (!commandLine.settingKey) {
        QByteArray out;
        for (const Setting& setting : settings) {
            out += QByteArray(setting.key) + '=' + setting.read().toUtf8() + '\n';
        }
        return CommandOutcome::success(out);
    }
    const Setting* found = nullptr;
    for (const Setting& setting : settings) {
        if (*commandLine.settingKey == QLatin1String(setting.key)) {
            found = &setting;
        }
    }
    if (!found) {
        return CommandOutcome::usageError(
            QStringLiteral("there is no setting \"%1\"; the settings are %2")
                .arg(*commandLine.settingKey, keys().join(QStringLiteral(", "))));
    }
    if (!commandLine.settingValue) {
        return CommandOutcome::success(found->read().toUtf8() + '\n');
    }
    if (std::optional<CommandOutcome> refusal = found->write(*commandLine.settingValue)) {
        return std::move(*refusal);
    }
    if (applied) {
        if (const std::optional<QString> reason = applied(*commandLine.settingKey)) {
            return CommandOutcome::failure(*reason);
        }
    }
    return CommandOutcome::success();
}

} // namespace snipjar
