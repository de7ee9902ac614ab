#include "platform/account/HistoryKeyVault.h"

#include "platform/AppPaths.h"
#include "platform/account/PasswordVault.h"
#include "platform/account/SealedKeyFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QPointer>
#include <QSaveFile>
#include <QThread>

#include <sodium.h>
#include <sys/stat.h>

#include <memory>

Q_LOGGING_CATEGORY(lcHistoryKeyVault, "snipjar.account.historykey")

namespace snipjar::crypto {
namespace {

using Status = HistoryKeyVault::Result::Status;
using Place = HistoryKeyVault::Place;

HistoryKeyVault::Result outcome(Status status, Place place, QString reason = {}) {
    HistoryKeyVault::Result result;
    result.status = status;
    result.place = place;
    result.reason = std::move(reason);
    return result;
}

// Runs work on a thread of its own and hands its result to done on the receiver's thread, unless
// the receiver is gone by then.
void inBackground(QObject* receiver, std::function<HistoryKeyVault::Result()> work,
                  std::function<void(HistoryKeyVault::Result)> done) {
    auto result = std::make_shared<HistoryKeyVault::Result>();
    QThread* thread = QThread::create([work = std::move(work), result] { *result = work(); });
    QObject::connect(thread, &QThread::finished, receiver,
                     [result, done = std::move(done)] { done(*result); });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

HistoryKeyVault::Result openFile(const QString& path, const QString& account, const QString& passphrase) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return outcome(Status::absent, Place::file);
    }
    // One byte more than a sealed file holds tells a longer one apart without reading it all.
    const QByteArray contents = file.read(SealedKeyFile::fileSize + 1);
    HistoryKeyVault::Result result = outcome(Status::found, Place::file);
    switch (SealedKeyFile::open(contents, account, passphrase, result.key)) {
    case SealedKeyFile::Opened::key:
        return result;
    case SealedKeyFile::Opened::wrongPassphrase:
        return outcome(Status::wrongPassphrase, Place::file,
                       QStringLiteral("The passphrase is not the one the key was kept with."));
    case SealedKeyFile::Opened::damaged:
        break;
    }
    qCWarning(lcHistoryKeyVault) << "The history key file" << path << "is damaged";
    return outcome(
        Status::damaged, Place::file,
        QStringLiteral("The file that keeps the encryption key is damaged: enter the recovery phrase "
                       "or pair with another computer."));
}

HistoryKeyVault::Result writeFile(const QString& folder, const QString& path, const QByteArray& contents) {
    const auto failed = [&](const QString& why) {
        qCWarning(lcHistoryKeyVault) << "Cannot keep the history key in" << path << ":" << why;
        return outcome(Status::failed, Place::file,
                       QStringLiteral("The encryption key could not be saved: %1").arg(why));
    };
    if (contents.isEmpty()) {
        return failed(QStringLiteral("there is not enough memory to seal it."));
    }
    if (!AppPaths::ensurePrivateFolder(folder)) {
        return failed(QStringLiteral("the folder %1 cannot be made.").arg(folder));
    }
    // Written beside its place and renamed over it, so that the old file stays whole until the
    // new one is; private before a byte is written.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || ::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0 ||
        file.write(contents) != contents.size() || !file.commit()) {
        return failed(file.errorString());
    }
    return outcome(Status::stored, Place::file);
}

} // namespace

HistoryKeyVault::HistoryKeyVault(PasswordVault& keyring, QString folder)
    : keyring(keyring)
    , folder(std::move(folder))
    , sealCost{crypto_pwhash_OPSLIMIT_MODERATE, crypto_pwhash_MEMLIMIT_MODERATE} {}

QString HistoryKeyVault::keyringKey(const QString& account) {
    return QStringLiteral("history-key@") + account;
}

QString HistoryKeyVault::filePath(const QString& account) const {
    // The identity may hold any character; its hash makes a name that is safe and fixed.
    const QByteArray name =
        QCryptographicHash::hash(account.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    return QDir(folder).filePath(QStringLiteral("history-key-%1.sealed").arg(QString::fromLatin1(name)));
}

void HistoryKeyVault::load(const QString& account, const QString& passphrase, QObject* receiver,
                           std::function<void(Result)> done) {
    QPointer<QObject> guard(receiver);
    const QString path = filePath(account);
    keyring.read(keyringKey(account), [guard, account, passphrase, path,
                                       done = std::move(done)](PasswordVault::Lookup lookup) mutable {
        if (!guard) {
            return;
        }
        if (lookup.outcome == PasswordVault::Lookup::Outcome::found) {
            QByteArray bytes = QByteArray::fromBase64(lookup.password.toLatin1());
            Result result = outcome(Status::found, Place::keyring);
            result.key = HistoryKey::fromBytes(bytes);
            sodium_memzero(bytes.data(), size_t(bytes.size()));
            if (!result.key) {
                qCWarning(lcHistoryKeyVault) << "The keyring's history key entry is not a key";
                result = outcome(Status::damaged, Place::keyring,
                                 QStringLiteral("The keyring holds something else than an encryption key."));
            }
            done(std::move(result));
            return;
        }
        if (!QFile::exists(path)) {
            done(outcome(Status::absent, Place::keyring));
            return;
        }
        if (passphrase.isEmpty()) {
            done(outcome(Status::needsPassphrase, Place::file,
                         QStringLiteral("Enter the passphrase the encryption key was kept with.")));
            return;
        }
        inBackground(
            guard, [path, account, passphrase] { return openFile(path, account, passphrase); },
            std::move(done));
    });
}

void HistoryKeyVault::store(const QString& account, const HistoryKey& key, const QString& passphrase,
                            QObject* receiver, std::function<void(Result)> done) {
    QPointer<QObject> guard(receiver);
    const QString path = filePath(account);
    const Cost cost = sealCost;
    const QString sealedIn = folder;
    keyring.write(
        keyringKey(account), QString::fromLatin1(key.bytes().toBase64()),
        [guard, key, account, passphrase, path, cost, sealedIn,
         done = std::move(done)](bool written) mutable {
            if (!guard) {
                return;
            }
            if (written) {
                // An older key sealed in a file must not come back where the keyring
                // is missing some day.
                QFile::remove(path);
                done(outcome(Status::stored, Place::keyring));
                return;
            }
            if (passphrase.isEmpty()) {
                done(outcome(Status::needsPassphrase, Place::file,
                             QStringLiteral("No keyring can keep the encryption key: choose a passphrase "
                                            "to keep it in a file.")));
                return;
            }
            inBackground(
                guard,
                [key, account, passphrase, path, cost, sealedIn] {
                    return writeFile(
                        sealedIn, path,
                        SealedKeyFile::seal(key, account, passphrase, cost.operations, cost.memoryBytes));
                },
                std::move(done));
        });
}

void HistoryKeyVault::forget(const QString& account, QObject* receiver, std::function<void(bool)> done) {
    QPointer<QObject> guard(receiver);
    const QString path = filePath(account);
    keyring.remove(keyringKey(account), [guard, path, done = std::move(done)](bool removed) {
        const bool fileGone = !QFile::exists(path) || QFile::remove(path);
        if (guard) {
            done(removed && fileGone);
        }
    });
}

} // namespace snipjar::crypto
