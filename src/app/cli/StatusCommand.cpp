#include "app/cli/StatusCommand.h"

#include "app/HistoryListing.h"
#include "app/cli/HistoryAccess.h"
#include "platform/AppIdentity.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace snipjar {

namespace {

struct StoreFigures {
    qsizetype clips = 0;
    qint64 bytes = 0;
};

} // namespace

CommandOutcome StatusCommand::report(const CommandLine& commandLine, HistoryAccess& access,
                                     const std::optional<AppState>& app) {
    const QList<HistoryEntry> entries = access.entries();
    // Clips count as list shows them (a content copied again is one row); bytes count every copy.
    StoreFigures synced;
    StoreFigures localOnly;
    for (const HistoryEntry::Store store : {HistoryEntry::Store::synced, HistoryEntry::Store::localOnly}) {
        QList<HistoryEntry> ofStore;
        StoreFigures& figures = store == HistoryEntry::Store::synced ? synced : localOnly;
        for (const HistoryEntry& entry : entries) {
            if (entry.store == store) {
                ofStore << entry;
                figures.bytes += entry.item.byteSize;
            }
        }
        figures.clips = HistoryListing(std::move(ofStore), {}).size();
    }
    const QString syncText = !app ? QStringLiteral("not running")
                                  : (app->syncState == QLatin1String("problem")
                                         ? app->syncProblem.value_or(QStringLiteral("problem"))
                                         : app->syncState);
    const QString pausedUntil =
        app && app->pausedUntil ? app->pausedUntil->toUTC().toString(Qt::ISODate) : QString();

    if (commandLine.json) {
        QJsonObject stores;
        for (const auto& [store, figures] : {std::pair{HistoryEntry::Store::synced, synced},
                                             std::pair{HistoryEntry::Store::localOnly, localOnly}}) {
            stores.insert(HistoryListing::storeName(store),
                          QJsonObject{{QStringLiteral("clips"), qint64(figures.clips)},
                                      {QStringLiteral("bytes"), figures.bytes}});
        }
        QJsonObject sync{{QStringLiteral("state"), app ? app->syncState : QStringLiteral("not running")},
                         {QStringLiteral("problem"),
                          app && app->syncProblem ? QJsonValue(*app->syncProblem) : QJsonValue()}};
        QJsonObject desktop;
        for (const AppState::Ability& ability : app ? app->abilities : QList<AppState::Ability>()) {
            desktop.insert(ability.key, ability.text);
        }
        const QJsonObject object{
            {QStringLiteral("running"), app.has_value()},
            {QStringLiteral("backend"), app ? QJsonValue(app->backend) : QJsonValue()},
            {QStringLiteral("desktop"), app ? QJsonValue(desktop) : QJsonValue()},
            {QStringLiteral("recording"), !app || !app->paused},
            {QStringLiteral("pausedUntil"), pausedUntil.isEmpty() ? QJsonValue() : QJsonValue(pausedUntil)},
            {QStringLiteral("stores"), stores},
            {QStringLiteral("sync"), sync},
            {QStringLiteral("version"), AppIdentity::version()},
        };
        return CommandOutcome::success(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
    }
    QStringList lines;
    lines << QStringLiteral("running: %1").arg(app ? QStringLiteral("yes") : QStringLiteral("no"));
    if (app) {
        lines << QStringLiteral("backend: %1").arg(app->backend);
        for (const AppState::Ability& ability : app->abilities) {
            lines << QStringLiteral("%1: %2").arg(ability.label.toLower(), ability.text);
        }
        lines << QStringLiteral("recording: %1")
                     .arg(!app->paused            ? QStringLiteral("yes")
                          : pausedUntil.isEmpty() ? QStringLiteral("paused until resumed")
                                                  : QStringLiteral("paused until %1").arg(pausedUntil));
    }
    lines << QStringLiteral("synced: %1 clips, %2 bytes").arg(synced.clips).arg(synced.bytes);
    lines << QStringLiteral("local-only: %1 clips, %2 bytes").arg(localOnly.clips).arg(localOnly.bytes);
    lines << QStringLiteral("sync: %1").arg(syncText);
    lines << QStringLiteral("version: %1").arg(AppIdentity::version());
    return CommandOutcome::success(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
}

} // namespace snipjar
