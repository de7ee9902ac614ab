#include "sync/cloud/service/ServiceCloudDatabase.h"

#include "platform/LogCategories.h"
#include "sync/cloud/FetchedAssetFolder.h"
#include "sync/cloud/service/ServiceTransport.h"

#include <QFile>
#include <QJsonArray>
#include <QUrl>

namespace snipjar::cloud {

namespace {

bool isOwn(const RecordZoneID& zone) {
    return zone.ownerName == RecordZoneID::defaultOwner;
}

CloudError refusal(CloudErrorCode code, const char* description) {
    return {code, QString::fromLatin1(description), std::nullopt};
}

CloudError errorFrom(const QJsonObject& json) {
    return {static_cast<CloudErrorCode>(
                json.value("code").toInt(static_cast<int>(CloudErrorCode::internalError))),
            json.value("description").toString().left(500), std::nullopt};
}

QString zonePath(const RecordZoneID& zone) {
    return QStringLiteral("/v1/zones/") + QString::fromLatin1(QUrl::toPercentEncoding(zone.zoneName));
}

// The JSON of one save, its assets uploaded first; none with the reason when the record cannot go.
std::optional<CloudError> describeSave(ServiceHttp& http, const CloudRecord& record, QJsonObject& save) {
    QJsonArray references;
    QJsonArray assetKeys;
    QJsonObject uploads;
    for (const auto& [key, value] : record.fields()) {
        if (const auto* reference = std::get_if<RecordReference>(&value)) {
            references.append(QJsonObject{{"key", key},
                                          {"zone", reference->target.zone.zoneName},
                                          {"name", reference->target.recordName},
                                          {"action", static_cast<int>(reference->action)}});
        } else if (const auto* asset = std::get_if<Asset>(&value)) {
            assetKeys.append(key);
            if (asset->filePath.isEmpty()) {
                continue;
            }
            QFile file(asset->filePath);
            if (!file.open(QIODevice::ReadOnly)) {
                return refusal(CloudErrorCode::invalidArguments, "an asset file could not be read");
            }
            auto uploaded = http.upload(QStringLiteral("/v1/assets"), file);
            if (!uploaded) {
                return uploaded.error();
            }
            uploads.insert(key, uploaded.value().value("asset").toString());
        }
    }
    const QByteArray fields = record.encodeFields();
    if (fields.size() > CloudRecord::largestEncodedFields) {
        return refusal(CloudErrorCode::limitExceeded, "the record is too large");
    }
    save = {{"zone", record.recordID().zone.zoneName},
            {"name", record.recordName()},
            {"type", record.recordType()},
            {"fields", QString::fromLatin1(fields.toBase64())},
            {"references", references},
            {"assets", uploads},
            {"assetKeys", assetKeys}};
    if (record.changeTag()) {
        save.insert("tag", *record.changeTag());
    }
    return std::nullopt;
}

} // namespace

ServiceCloudDatabase::ServiceCloudDatabase(ServiceAccount account)
    : account(account)
    , http(account) {}

ServiceCloudDatabase::~ServiceCloudDatabase() = default;

QString ServiceCloudDatabase::accountIdentity() const {
    return QStringLiteral("snipjar-service %1 account %2 epoch %3")
        .arg(account.server.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::StripTrailingSlash)
                 .toString(),
             account.accountId, account.epoch);
}

CloudStatus ServiceCloudDatabase::saveZone(const RecordZoneID& zone) {
    if (!isOwn(zone)) {
        return refusal(CloudErrorCode::permissionFailure, "the zone belongs to another owner");
    }
    auto answer = http.call("PUT", zonePath(zone));
    if (!answer) {
        return answer.error();
    }
    return std::monostate{};
}

std::optional<CloudRecord> ServiceCloudDatabase::readRecord(const RecordZoneID& zone, const QJsonObject& json,
                                                            std::shared_ptr<FetchedAssetFolder>& folder,
                                                            std::optional<CloudError>& failure) {
    CloudRecord record(json.value("type").toString(), RecordID{json.value("name").toString(), zone});
    if (!record.decodeFields(QByteArray::fromBase64(json.value("fields").toString().toLatin1()))) {
        qCWarning(lcSync) << "Skipped a fetched record whose fields cannot be read:" << record.recordName();
        return std::nullopt;
    }
    record.setChangeTag(json.value("tag").toString());
    const QJsonObject assets = json.value("assets").toObject();
    for (auto it = assets.begin(); it != assets.end(); ++it) {
        if (!record.asset(it.key())) {
            continue;
        }
        if (!folder) {
            folder = std::make_shared<FetchedAssetFolder>();
        }
        const auto path = folder->newFilePath();
        // Created owner-only: a clip's image is as private as the rest of the history.
        QFile file(path.value_or(QString()));
        if (!path || !file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                                QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
            failure =
                refusal(CloudErrorCode::internalError, "a fetched asset could not be written to a file");
            return std::nullopt;
        }
        auto status = http.download(QStringLiteral("/v1/assets/") +
                                        QUrl::toPercentEncoding(it.value().toObject().value("id").toString()),
                                    file);
        if (!status) {
            failure = status.error();
            return std::nullopt;
        }
        record.setValue(it.key(), Asset{*path});
    }
    return record;
}

CloudResult<ModifyOutcome> ServiceCloudDatabase::modifyRecords(const QList<CloudRecord>& saves,
                                                               const QList<RecordID>& deletions) {
    conflictAssets.reset();
    ModifyOutcome outcome;
    QJsonArray saveList;
    QList<int> sentSaves; // index in saves of each save sent
    for (int i = 0; i < saves.size(); ++i) {
        if (!isOwn(saves[i].recordID().zone)) {
            outcome.failedSaves.append(
                {saves[i], refusal(CloudErrorCode::permissionFailure, "the zone belongs to another owner")});
            continue;
        }
        QJsonObject save;
        if (auto problem = describeSave(http, saves[i], save)) {
            if (problem->isTransient()) {
                return *problem;
            }
            outcome.failedSaves.append({saves[i], *problem});
            continue;
        }
        saveList.append(save);
        sentSaves.append(i);
    }
    QJsonArray deleteList;
    QList<int> sentDeletes;
    for (int i = 0; i < deletions.size(); ++i) {
        if (!isOwn(deletions[i].zone)) {
            outcome.failedDeletes.append({deletions[i], refusal(CloudErrorCode::permissionFailure,
                                                                "the zone belongs to another owner")});
            continue;
        }
        deleteList.append(
            QJsonObject{{"zone", deletions[i].zone.zoneName}, {"name", deletions[i].recordName}});
        sentDeletes.append(i);
    }
    auto answer = http.call("POST", QStringLiteral("/v1/records/modify"),
                            {{"saves", saveList}, {"deletions", deleteList}});
    if (!answer) {
        return answer.error();
    }
    const QJsonObject& result = answer.value();
    const auto sentAt = [](const QList<int>& sent, const QJsonValue& index) {
        const int at = index.toInt(-1);
        return at >= 0 && at < sent.size() ? sent[at] : -1;
    };
    for (const QJsonValue& value : result.value("saved").toArray()) {
        const int i = sentAt(sentSaves, value.toObject().value("index"));
        if (i >= 0) {
            CloudRecord record = saves[i];
            record.setChangeTag(value.toObject().value("tag").toString());
            outcome.saved.append(std::move(record));
        }
    }
    for (const QJsonValue& value : result.value("failedSaves").toArray()) {
        const QJsonObject failed = value.toObject();
        const int i = sentAt(sentSaves, failed.value("index"));
        if (i < 0) {
            continue;
        }
        const QJsonObject errorJson = failed.value("error").toObject();
        CloudError error = errorFrom(errorJson);
        if (errorJson.contains("server")) {
            std::optional<CloudError> ignored;
            error.serverRecord = readRecord(saves[i].recordID().zone, errorJson.value("server").toObject(),
                                            conflictAssets, ignored);
        }
        outcome.failedSaves.append({saves[i], std::move(error)});
    }
    for (const QJsonValue& value : result.value("deleted").toArray()) {
        const int i = sentAt(sentDeletes, value);
        if (i >= 0) {
            outcome.deleted.append(deletions[i]);
        }
    }
    for (const QJsonValue& value : result.value("failedDeletes").toArray()) {
        const int i = sentAt(sentDeletes, value.toObject().value("index"));
        if (i >= 0) {
            outcome.failedDeletes.append(
                {deletions[i], errorFrom(value.toObject().value("error").toObject())});
        }
    }
    return outcome;
}

CloudResult<ChangePage> ServiceCloudDatabase::fetchChanges(const RecordZoneID& zone,
                                                           const std::optional<ChangeToken>& since) {
    if (!isOwn(zone)) {
        return refusal(CloudErrorCode::permissionFailure, "the zone belongs to another owner");
    }
    QString path = zonePath(zone) + QStringLiteral("/changes");
    if (since) {
        path += QStringLiteral("?since=%1").arg(since->value);
    }
    auto answer = http.call("GET", path);
    if (!answer) {
        return answer.error();
    }
    const QJsonObject& json = answer.value();
    const QJsonArray records = json.value("records").toArray();
    const QJsonArray deletions = json.value("deletions").toArray();
    if (records.size() + deletions.size() > pageLimit) {
        return refusal(CloudErrorCode::serverRejectedRequest, "the server sent a page over the limit");
    }
    ChangePage page;
    std::shared_ptr<FetchedAssetFolder> folder;
    for (const QJsonValue& value : records) {
        std::optional<CloudError> failure;
        auto record = readRecord(zone, value.toObject(), folder, failure);
        if (failure) {
            return *failure;
        }
        if (record) {
            page.modifications.append(std::move(*record));
        }
    }
    for (const QJsonValue& value : deletions) {
        const QJsonObject deletion = value.toObject();
        page.deletions.append(
            {RecordID{deletion.value("name").toString(), zone}, deletion.value("type").toString()});
    }
    bool ok = false;
    page.nextToken.value = json.value("next").toString().toLongLong(&ok);
    if (!ok) {
        return refusal(CloudErrorCode::serverRejectedRequest, "the server sent no change token");
    }
    page.moreComing = json.value("more").toBool();
    page.assetFiles = std::move(folder);
    return page;
}

std::unique_ptr<PushSubscription> ServiceCloudDatabase::subscribe(std::function<void()> onNotice) {
    const ServiceNetworkModule* module = ServiceNetworkModule::loaded();
    // Without the module no call reaches the server either, and each says so.
    return module ? module->subscribe(account, std::move(onNotice), lcSync()) : nullptr;
}

CloudResult<ServiceSignIn> signInToService(const QUrl& server, const QString& user, const QString& password,
                                           const QString& deviceName, const QByteArray& pinnedFingerprint,
                                           QByteArray* fingerprintSeen) {
    ServiceHttp http(ServiceAccount{server, {}, {}, {}, pinnedFingerprint});
    auto answer = http.call("POST", QStringLiteral("/v1/sign-in"),
                            {{"user", user}, {"password", password}, {"device", deviceName}});
    if (fingerprintSeen != nullptr) {
        *fingerprintSeen = http.fingerprintSeen();
    }
    if (!answer) {
        return answer.error();
    }
    const QJsonObject& json = answer.value();
    ServiceSignIn result{json.value("token").toString(), json.value("account").toString(),
                         json.value("epoch").toString(), http.fingerprintSeen()};
    if (result.token.isEmpty() || result.accountId.isEmpty()) {
        return refusal(CloudErrorCode::serverRejectedRequest, "the server gave no device token");
    }
    return result;
}

} // namespace snipjar::cloud
