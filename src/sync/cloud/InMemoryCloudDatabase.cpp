#include "sync/cloud/InMemoryCloudDatabase.h"

#include "platform/AppPaths.h"
#include "platform/LogCategories.h"
#include "platform/PrivateFiles.h"

#include <QFile>

namespace snipjar::cloud {

namespace {

// Reads every asset file and collects the deleteSelf targets; none when an asset file cannot be read.
std::optional<InMemoryCloudServer::SaveRequest> requestFor(const CloudRecord& record) {
    InMemoryCloudServer::SaveRequest request;
    request.recordType = record.recordType();
    request.id = record.recordID();
    request.changeTag = record.changeTag();
    request.encodedFields = record.encodeFields();
    for (const auto& [key, value] : record.fields()) {
        if (const auto* asset = std::get_if<Asset>(&value)) {
            QFile file(asset->filePath);
            if (!file.open(QIODevice::ReadOnly)) {
                return std::nullopt;
            }
            request.assets.insert(key, file.readAll());
        } else if (const auto* reference = std::get_if<RecordReference>(&value)) {
            if (reference->action == RecordReference::Action::deleteSelf) {
                request.deleteSelfTargets.append(reference->target);
            }
        }
    }
    return request;
}

} // namespace

InMemoryCloudDatabase::InMemoryCloudDatabase(std::shared_ptr<InMemoryCloudServer> server, QString owner)
    : host(std::move(server))
    , ownerName(std::move(owner)) {}

InMemoryCloudDatabase::~InMemoryCloudDatabase() = default;

std::optional<CloudError> InMemoryCloudDatabase::enter() {
    removeFilesOfLastCall();
    const quint64 generation = cancelGeneration.load();
    return host->enterCall([this, generation] { return cancelGeneration.load() != generation; });
}

QString InMemoryCloudDatabase::accountIdentity() const {
    return QStringLiteral("memory:%1/%2").arg(host->serverID(), ownerName);
}

void InMemoryCloudDatabase::cancel() {
    ++cancelGeneration;
    host->wakeWaitingCalls();
}

CloudStatus InMemoryCloudDatabase::saveZone(const RecordZoneID& zone) {
    if (auto failure = enter()) {
        return *failure;
    }
    return host->saveZone(ownerName, zone);
}

CloudResult<ModifyOutcome> InMemoryCloudDatabase::modifyRecords(const QList<CloudRecord>& saves,
                                                                const QList<RecordID>& deletions) {
    if (auto failure = enter()) {
        return *failure;
    }
    ModifyOutcome outcome;
    QList<InMemoryCloudServer::SaveRequest> requests;
    QList<int> sentIndex;
    for (int i = 0; i < saves.size(); ++i) {
        if (auto request = requestFor(saves[i])) {
            requests.append(std::move(*request));
            sentIndex.append(i);
        } else {
            outcome.failedSaves.append(
                {saves[i], CloudError{CloudErrorCode::invalidArguments,
                                      QStringLiteral("an asset file could not be read"), std::nullopt}});
        }
    }
    auto result = host->modify(ownerName, requests, deletions);
    if (!result) {
        return result.error();
    }
    if (host->takeLostAnswer()) {
        return CloudError{CloudErrorCode::networkFailure, QStringLiteral("connection lost"), std::nullopt};
    }
    for (const auto& [index, tag] : result.value().saved) {
        CloudRecord saved = saves[sentIndex[index]];
        saved.setChangeTag(tag);
        outcome.saved.append(std::move(saved));
    }
    for (const auto& failure : result.value().failedSaves) {
        CloudError error{failure.code, cloudErrorCodeName(failure.code), std::nullopt};
        if (failure.serverRecord) {
            error.serverRecord = materialize(*failure.serverRecord);
        }
        outcome.failedSaves.append({saves[sentIndex[failure.index]], std::move(error)});
    }
    outcome.deleted = result.value().deleted;
    for (const auto& [id, code] : result.value().failedDeletes) {
        outcome.failedDeletes.append({id, CloudError{code, cloudErrorCodeName(code), std::nullopt}});
    }
    return outcome;
}

CloudResult<ChangePage> InMemoryCloudDatabase::fetchChanges(const RecordZoneID& zone,
                                                            const std::optional<ChangeToken>& since) {
    if (auto failure = enter()) {
        return *failure;
    }
    auto result = host->fetch(ownerName, zone, since, pageLimit);
    if (!result) {
        return result.error();
    }
    ChangePage page;
    for (const auto& stored : result.value().modifications) {
        page.modifications.append(materialize(stored));
    }
    page.deletions = result.value().deletions;
    page.nextToken = result.value().nextToken;
    page.moreComing = result.value().moreComing;
    return page;
}

std::unique_ptr<PushSubscription> InMemoryCloudDatabase::subscribe(std::function<void()> onNotice) {
    return host->subscribe(ownerName, std::move(onNotice));
}

CloudRecord InMemoryCloudDatabase::materialize(const InMemoryCloudServer::StoredRecord& stored) {
    CloudRecord record(stored.recordType, stored.id);
    record.setChangeTag(stored.changeTag);
    record.decodeFields(stored.encodedFields);
    for (const auto& [key, value] : QList(record.fields())) {
        if (!std::holds_alternative<Asset>(value)) {
            continue;
        }
        if (!assetFolder) {
            const QString parent = AppPaths::runtimeFolder();
            AppPaths::ensurePrivateFolder(parent);
            assetFolder = std::make_unique<QTemporaryDir>(parent + QStringLiteral("/cloud-assets-XXXXXX"));
            PrivateFiles::restrictFolder(assetFolder->path());
        }
        const QString path =
            assetFolder->filePath(QStringLiteral("%1-%2").arg(filesOfLastCall.size()).arg(key));
        if (!PrivateFiles::writeFile(path, stored.assets.value(key), PrivateFiles::Durability::Buffered)) {
            qCWarning(lcSync, "in-memory cloud: could not write a fetched asset");
        }
        filesOfLastCall.append(path);
        record.setValue(key, Asset{path});
    }
    return record;
}

void InMemoryCloudDatabase::removeFilesOfLastCall() {
    for (const QString& path : std::as_const(filesOfLastCall)) {
        QFile::remove(path);
    }
    filesOfLastCall.clear();
}

} // namespace snipjar::cloud
