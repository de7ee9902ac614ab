// A parsed command as it travels to the running Snipjar, and back from JSON with the same checks
// as the words of a command line.
#include "app/CommandLine.h"

#include "app/CommandLineRules.h"
#include "platform/ActivationToken.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

namespace snipjar {

using namespace commandline;

QJsonObject CommandLine::toJson() const {
    QJsonObject object;
    object.insert(QStringLiteral("command"), name(command));
    object.insert(QStringLiteral("json"), json);
    if (limit) {
        object.insert(QStringLiteral("limit"), *limit);
    }
    if (kind) {
        object.insert(QStringLiteral("kind"), *kind);
    }
    object.insert(QStringLiteral("pinned"), pinnedOnly);
    if (device) {
        object.insert(QStringLiteral("device"), *device);
    }
    if (since) {
        object.insert(QStringLiteral("since"), since->toUTC().toString(Qt::ISODateWithMs));
    }
    if (until) {
        object.insert(QStringLiteral("until"), until->toUTC().toString(Qt::ISODateWithMs));
    }
    object.insert(QStringLiteral("nul"), nulSeparated);
    if (settingKey) {
        object.insert(QStringLiteral("settingKey"), *settingKey);
    }
    if (mimeType) {
        object.insert(QStringLiteral("mime"), *mimeType);
    }
    object.insert(QStringLiteral("fromStandardInput"), fromStandardInput);
    if (settingValue) {
        object.insert(QStringLiteral("settingValue"), *settingValue);
    }
    object.insert(QStringLiteral("query"), query);
    object.insert(QStringLiteral("ids"), QJsonArray::fromStringList(ids));
    object.insert(QStringLiteral("raw"), raw);
    object.insert(QStringLiteral("listTypes"), listTypes);
    object.insert(QStringLiteral("force"), force);
    object.insert(QStringLiteral("keepPinned"), keepPinned);
    if (minutes) {
        object.insert(QStringLiteral("minutes"), *minutes);
    }
    if (content) {
        QJsonObject added;
        added.insert(QStringLiteral("kind"), int(content->kind));
        added.insert(QStringLiteral("text"), content->text);
        added.insert(QStringLiteral("bytes"), QString::fromLatin1(content->bytes.toBase64()));
        added.insert(QStringLiteral("files"), QJsonArray::fromStringList(content->fileURLs));
        object.insert(QStringLiteral("content"), added);
    }
    if (!path.isEmpty()) {
        object.insert(QStringLiteral("path"), path);
    }
    if (activationToken) {
        object.insert(QStringLiteral("activationToken"), *activationToken);
    }
    return object;
}

CommandLine CommandLine::fromJson(const QJsonObject& object) {
    CommandLine result;
    const std::optional<Command> command = commandNamed(object.value(QStringLiteral("command")).toString());
    if (!command) {
        result.error =
            QStringLiteral("unknown command \"%1\"").arg(object.value(QStringLiteral("command")).toString());
        return result;
    }
    result.command = *command;
    result.json = object.value(QStringLiteral("json")).toBool();
    // The socket is checked as the command line is: another process gets no option a terminal
    // could not give.
    if (object.contains(QStringLiteral("limit"))) {
        const int limit = object.value(QStringLiteral("limit")).toInt(-1);
        if (limit < 0) {
            result.error = limitError(object.value(QStringLiteral("limit")).toVariant().toString());
            return result;
        }
        result.limit = limit;
    }
    if (object.contains(QStringLiteral("kind"))) {
        const QString kind = object.value(QStringLiteral("kind")).toString();
        if (!kindsFor(*command).contains(kind)) {
            result.error = kindError(*command);
            return result;
        }
        result.kind = kind;
    }
    result.pinnedOnly = object.value(QStringLiteral("pinned")).toBool();
    if (object.contains(QStringLiteral("device"))) {
        result.device = object.value(QStringLiteral("device")).toString();
    }
    for (const auto& [key, moment] : {std::pair{QStringLiteral("since"), &result.since},
                                      std::pair{QStringLiteral("until"), &result.until}}) {
        if (object.contains(key)) {
            const QDateTime parsed = QDateTime::fromString(object.value(key).toString(), Qt::ISODateWithMs);
            if (!parsed.isValid()) {
                result.error = timeError(QStringLiteral("--") + key);
                return result;
            }
            *moment = parsed;
        }
    }
    result.nulSeparated = object.value(QStringLiteral("nul")).toBool();
    if (object.contains(QStringLiteral("mime"))) {
        result.mimeType = object.value(QStringLiteral("mime")).toString().left(255);
    }
    result.fromStandardInput = object.value(QStringLiteral("fromStandardInput")).toBool();
    if (object.contains(QStringLiteral("settingKey"))) {
        result.settingKey = object.value(QStringLiteral("settingKey")).toString();
    }
    if (object.contains(QStringLiteral("settingValue"))) {
        result.settingValue = object.value(QStringLiteral("settingValue")).toString();
    }
    result.query = object.value(QStringLiteral("query")).toString();
    for (const QJsonValue& id : object.value(QStringLiteral("ids")).toArray()) {
        result.ids << id.toString();
    }
    result.raw = object.value(QStringLiteral("raw")).toBool();
    result.listTypes = object.value(QStringLiteral("listTypes")).toBool();
    result.force = object.value(QStringLiteral("force")).toBool();
    result.keepPinned = object.value(QStringLiteral("keepPinned")).toBool();
    result.yes = true;
    if (object.contains(QStringLiteral("minutes"))) {
        // A pause of no time or of years is refused.
        const int minutes = object.value(QStringLiteral("minutes")).toInt(-1);
        if (minutes <= 0 || minutes > maximumPauseMinutes) {
            result.error = pauseRangeError(object.value(QStringLiteral("minutes")).toVariant().toString());
            return result;
        }
        result.minutes = minutes;
    }
    if (*command == Command::exportHistory || *command == Command::importHistory) {
        // The running copy reads or writes this file for its user: a path relative to wherever
        // that copy was started is refused, as is a missing one.
        result.path = object.value(QStringLiteral("path")).toString();
        if (!QDir::isAbsolutePath(result.path)) {
            result.error = QStringLiteral("%1 needs one FILE").arg(name(*command));
            return result;
        }
    }
    if (object.contains(QStringLiteral("content"))) {
        const QJsonObject added = object.value(QStringLiteral("content")).toObject();
        Content content;
        content.kind = Content::Kind(
            std::clamp(added.value(QStringLiteral("kind")).toInt(), 0, int(Content::Kind::html)));
        content.text = added.value(QStringLiteral("text")).toString();
        content.bytes = QByteArray::fromBase64(added.value(QStringLiteral("bytes")).toString().toLatin1());
        for (const QJsonValue& url : added.value(QStringLiteral("files")).toArray()) {
            content.fileURLs << url.toString();
        }
        result.content = std::move(content);
    }
    // A token that cannot be one is dropped, not refused: the window still opens, only the
    // desktop may keep the focus where it was.
    result.activationToken =
        ActivationToken::checked(object.value(QStringLiteral("activationToken")).toString());
    return result;
}

} // namespace snipjar
