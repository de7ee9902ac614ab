#include "platform/account/KeychainPasswordVault.h"

#include "platform/LogCategories.h"

#include <qt6keychain/keychain.h>

#include <utility>

namespace snipjar {

namespace {

// Each job deletes itself after its finished signal; the callbacks hold nothing of the vault.
template <typename Job> Job* startJob(const QString& service, const QString& key) {
    auto* job = new Job(service);
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(key);
    return job;
}

} // namespace

KeychainPasswordVault::KeychainPasswordVault(QString service)
    : service(std::move(service)) {}

void KeychainPasswordVault::read(const QString& key, std::function<void(Lookup)> done) {
    auto* job = startJob<QKeychain::ReadPasswordJob>(service, key);
    QObject::connect(job, &QKeychain::Job::finished, job, [job, done = std::move(done)] {
        Lookup lookup;
        switch (job->error()) {
        case QKeychain::NoError:
            lookup.outcome = Lookup::Outcome::found;
            lookup.password = job->textData();
            break;
        case QKeychain::EntryNotFound:
            lookup.outcome = Lookup::Outcome::absent;
            break;
        default:
            qCDebug(lcSync) << "The keyring could not be read:" << job->errorString();
            lookup.outcome = Lookup::Outcome::unavailable;
            break;
        }
        done(lookup);
    });
    job->start();
}

void KeychainPasswordVault::write(const QString& key, const QString& password,
                                  std::function<void(bool)> done) {
    auto* job = startJob<QKeychain::WritePasswordJob>(service, key);
    job->setTextData(password);
    QObject::connect(job, &QKeychain::Job::finished, job, [job, done = std::move(done)] {
        if (job->error() != QKeychain::NoError) {
            qCWarning(lcSync) << "The password could not be stored in the keyring:" << job->errorString();
        }
        done(job->error() == QKeychain::NoError);
    });
    job->start();
}

void KeychainPasswordVault::remove(const QString& key, std::function<void(bool)> done) {
    auto* job = startJob<QKeychain::DeletePasswordJob>(service, key);
    QObject::connect(job, &QKeychain::Job::finished, job, [job, done = std::move(done)] {
        const bool gone = job->error() == QKeychain::NoError || job->error() == QKeychain::EntryNotFound;
        if (!gone) {
            qCWarning(lcSync) << "The password could not be removed from the keyring:" << job->errorString();
        }
        done(gone);
    });
    job->start();
}

} // namespace snipjar
