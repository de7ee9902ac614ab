#include "app/AccountEncryption.h"

#include "app/settings/BackgroundCall.h"
#include "platform/AppPaths.h"
#include "platform/LogCategories.h"
#include "platform/account/HistoryKeyVault.h"
#include "sync/RecordNames.h"
#include "sync/Reencryption.h"
#include "sync/cloud/EncryptedCloudDatabase.h"
#include "sync/cloud/service/ServiceCloudDatabase.h"

#include <QCryptographicHash>
#include <QDir>
#include <QPointer>
#include <QThread>

namespace snipjar {
namespace {

using cloud::CloudResult;
using cloud::CloudStatus;
using cloud::EncryptionState;
using Outcome = EncryptionActions::Outcome;

Outcome failure(const QString& message) {
    return Outcome{false, message, std::nullopt};
}

QString reachFailure(const cloud::CloudError& error) {
    return QStringLiteral("The sync server could not be asked: %1").arg(error.description);
}

// What a worker hands back: plain values rather than optionals, which the compiler's flow
// analysis cannot follow through the thread.
struct StateAnswer {
    bool ok = false;
    EncryptionState state;
    cloud::CloudError error;
};

struct StatusAnswer {
    bool ok = false;
    cloud::CloudError error;
};

StateAnswer readState(const cloud::ServiceAccount& account) {
    const CloudResult<EncryptionState> read = cloud::ServiceAccountCalls(account).encryption();
    return read.ok() ? StateAnswer{true, read.value(), {}} : StateAnswer{false, {}, read.error()};
}

StatusAnswer statusOf(const CloudStatus& status) {
    return status.ok() ? StatusAnswer{true, {}} : StatusAnswer{false, status.error()};
}

} // namespace

AccountEncryption::AccountEncryption(PasswordVault& keyring, QString keyFolder, QString stateFolder,
                                     QObject* parent)
    : vault(std::make_unique<crypto::HistoryKeyVault>(keyring, std::move(keyFolder)))
    , stateFolder(std::move(stateFolder)) {
    setParent(parent);
}

AccountEncryption::~AccountEncryption() {
    cancelPairing();
}

QString AccountEncryption::bindingOf(const cloud::ServiceAccount& account) {
    return QStringLiteral("snipjar-service account %1 epoch %2").arg(account.accountId, account.epoch);
}

QString AccountEncryption::binding() const {
    return account ? bindingOf(*account) : QString();
}

void AccountEncryption::markReencryptionPending() {
    if (!AppPaths::ensurePrivateFolder(stateFolder) || !sync::Reencryption::markPending(pendingFlagFile())) {
        qCWarning(lcSync).noquote() << "the re-encryption flag could not be written in" << stateFolder;
    }
}

QString AccountEncryption::pendingFlagFile() const {
    if (!account) {
        return {};
    }
    // Named by a hash of the binding: account ids are the server's, not to be trusted as names.
    const QByteArray name =
        QCryptographicHash::hash(binding().toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    return QDir(stateFolder).filePath(QStringLiteral("reencrypt-%1.pending").arg(QString::fromLatin1(name)));
}

void AccountEncryption::setAccount(std::optional<cloud::ServiceAccount> signedIn) {
    if (account && signedIn && bindingOf(*account) == bindingOf(*signedIn)) {
        account = std::move(signedIn);
        return;
    }
    cancelPairing();
    account = std::move(signedIn);
    key.reset();
    former.reset();
    lastKeyId.reset();
    current = State{};
    current.signedIn = account.has_value();
    emit stateChanged();
}

EncryptionActions::State AccountEncryption::state() const {
    return current;
}

std::shared_ptr<cloud::EncryptedCloudDatabase>
AccountEncryption::sealedDatabase(std::shared_ptr<cloud::CloudDatabase> inner,
                                  const crypto::HistoryKey& key) {
    cloud::EncryptedCloudDatabase::Options options;
    // Plain records are taken only while the first rewrite after switching on goes on; during a
    // key change (a former key is kept) one is a forgery.
    options.acceptPlain = sync::Reencryption::isPending(pendingFlagFile()) && !former;
    options.formerKeys = formerKeys();
    options.accountBinding = binding();
    const QPointer<AccountEncryption> told(this);
    options.onUnreadableChanged = [told](int count) {
        QMetaObject::invokeMethod(told.data(), [told, count] {
            if (told) {
                told->setUndecryptable(count);
            }
        });
    };
    auto sealed = std::make_shared<cloud::EncryptedCloudDatabase>(std::move(inner), key, options);
    lastSealed = sealed;
    return sealed;
}

std::shared_ptr<sync::Reencryption>
AccountEncryption::reencryptIfPending(std::shared_ptr<cloud::CloudDatabase> inner,
                                      const crypto::HistoryKey& key,
                                      std::shared_ptr<cloud::EncryptedCloudDatabase> sealed) {
    const QString flag = pendingFlagFile();
    if (!sync::Reencryption::isPending(flag)) {
        setReencryptLeft(0);
        return nullptr;
    }
    auto run = std::make_shared<sync::Reencryption>(std::move(inner), key, formerKeys(), binding(),
                                                    sync::RecordNames::zoneID());
    run->setPlainRefused(former.has_value());
    const QPointer<AccountEncryption> told(this);
    const auto report = [told](int left) {
        QMetaObject::invokeMethod(told.data(), [told, left] {
            if (told) {
                told->setReencryptLeft(left);
            }
        });
    };
    report(1);
    QThread* thread = QThread::create([run, sealed, flag, report] {
        const auto outcome = run->run(10, [&report](const sync::Reencryption::Progress& progress) {
            if (!progress.finished) {
                // The run does not know how many are left before its pass ends; what it could
                // not rewrite yet is a floor.
                report(std::max(1, progress.conflicts + progress.unreadable));
            }
        });
        if (outcome.ok() && outcome.value().finished) {
            // The server holds no plain record of the account any more: from now on one is a
            // forgery, and refused.
            sync::Reencryption::clearPending(flag);
            sealed->setAcceptPlain(false);
            report(0);
            qCInfo(lcSync) << "re-encryption finished:" << outcome.value().rewritten << "records rewritten";
        } else if (!outcome.ok()) {
            qCWarning(lcSync).noquote()
                << "re-encryption stopped; it goes on at the next start:" << outcome.error().description;
        }
    });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(QThread::LowPriority);
    return run;
}

void AccountEncryption::dropFormerKey() {
    former.reset();
    vault->forget(formerName(), this, [](bool) {});
}

void AccountEncryption::setReencryptLeft(int left) {
    // Nothing sealed with the key a change replaced is left to open.
    if (left == 0 && former) {
        dropFormerKey();
    }
    if (current.reencryptLeft != left) {
        current.reencryptLeft = left;
        emit stateChanged();
    }
}

void AccountEncryption::setUndecryptable(int count) {
    if (current.undecryptable != count) {
        current.undecryptable = count;
        emit stateChanged();
    }
}

Outcome AccountEncryption::signedOut() const {
    return failure(QStringLiteral("Sign in to your sync server first."));
}

void AccountEncryption::decide(std::function<void(Decision)> done) {
    if (!account) {
        done(Decision{Decision::Kind::unknown, std::nullopt, {}, signedOut().message});
        return;
    }
    const cloud::ServiceAccount asked = *account;
    runInBackground<StateAnswer>(
        this, [asked] { return readState(asked); },
        [this, asked, done = std::move(done)](StateAnswer answer) {
            if (!account || bindingOf(*account) != bindingOf(asked)) {
                return;
            }
            if (!answer.ok) {
                done(Decision{Decision::Kind::unknown, std::nullopt, {}, reachFailure(answer.error)});
                return;
            }
            const EncryptionState server = answer.state;
            lastKeyId = server.keyId;
            current.enabled = server.enabled();
            if (!server.enabled()) {
                key.reset();
                current.haveKey = false;
                emit stateChanged();
                done(Decision{Decision::Kind::plain, std::nullopt, {}, {}});
                return;
            }
            if (key && key->id() == server.keyId && key->verifier() == server.verifier) {
                // Read after every sync: the keyring is asked only when the key changed.
                current.haveKey = true;
                emit stateChanged();
                done(Decision{Decision::Kind::sealed, key, server.keyId, {}});
                return;
            }
            vault->load(
                binding(), passphrase, this, [this, server, done](crypto::HistoryKeyVault::Result kept) {
                    noteVaultAnswer(kept);
                    // Only the account's present key counts: an old one after a key change, or one made
                    // by a switch-on another computer won, is not it.
                    const bool matches = kept.status == crypto::HistoryKeyVault::Result::Status::found &&
                                         kept.key && kept.key->id() == server.keyId &&
                                         kept.key->verifier() == server.verifier;
                    key = matches ? kept.key : std::nullopt;
                    current.haveKey = matches;
                    emit stateChanged();
                    if (!matches) {
                        done(Decision{Decision::Kind::lacksKey, std::nullopt, server.keyId, {}});
                        return;
                    }
                    // The key this one replaced, if it did: it opens what is not rewritten yet.
                    vault->load(formerName(), passphrase, this,
                                [this, server, done](crypto::HistoryKeyVault::Result old) {
                                    former = old.status == crypto::HistoryKeyVault::Result::Status::found
                                                 ? old.key
                                                 : std::nullopt;
                                    done(Decision{Decision::Kind::sealed, key, server.keyId, {}});
                                });
                });
        });
}

void AccountEncryption::noteVaultAnswer(const crypto::HistoryKeyVault::Result& result) {
    using Status = crypto::HistoryKeyVault::Result::Status;
    bool wanted = current.needsPassphrase;
    if (result.status == Status::needsPassphrase || result.status == Status::wrongPassphrase) {
        // A file sealed with another passphrase than this session's (replaced meanwhile).
        passphrase.clear();
        wanted = true;
    } else if (result.status == Status::found || result.status == Status::stored) {
        wanted = false;
    }
    if (wanted != current.needsPassphrase) {
        current.needsPassphrase = wanted;
        emit stateChanged();
    }
}

void AccountEncryption::keep(const crypto::HistoryKey& kept,
                             std::function<void(std::optional<QString>)> done) {
    vault->store(binding(), kept, passphrase, this,
                 [this, done = std::move(done)](crypto::HistoryKeyVault::Result result) {
                     noteVaultAnswer(result);
                     if (result.status == crypto::HistoryKeyVault::Result::Status::stored) {
                         done(std::nullopt);
                     } else if (result.status == crypto::HistoryKeyVault::Result::Status::needsPassphrase) {
                         done(QStringLiteral("No keyring answers on this computer, so the key is kept in a "
                                             "file sealed with a passphrase. Choose one with “Key file "
                                             "passphrase…”, then try again."));
                     } else {
                         done(result.reason.isEmpty()
                                  ? QStringLiteral("The key could not be kept on this computer.")
                                  : result.reason);
                     }
                 });
}

void AccountEncryption::usePassphrase(const QString& given, Done done) {
    if (!account) {
        done(signedOut());
        return;
    }
    if (given.isEmpty()) {
        done(failure(QStringLiteral("Enter the passphrase.")));
        return;
    }
    vault->load(binding(), given, this, [this, given, done](crypto::HistoryKeyVault::Result kept) {
        using Status = crypto::HistoryKeyVault::Result::Status;
        if (kept.status == Status::wrongPassphrase) {
            done(failure(QStringLiteral("This passphrase does not open the key file on this computer.")));
            return;
        }
        if (kept.status == Status::damaged) {
            done(failure(kept.reason));
            return;
        }
        passphrase = given;
        const bool opened = kept.status == Status::found && !current.haveKey;
        if (current.needsPassphrase) {
            current.needsPassphrase = false;
            emit stateChanged();
        }
        done(Outcome{true, {}, std::nullopt});
        if (opened) {
            // Sync starts again, now with the key the file held.
            emit syncRestartNeeded();
        }
    });
}

void AccountEncryption::setEnabled(bool enabled, Done done) {
    if (!account) {
        done(signedOut());
        return;
    }
    if (!enabled) {
        switchOff(std::move(done));
        return;
    }
    if (current.enabled) {
        done(failure(QStringLiteral("Encryption is already on for this account.")));
        return;
    }
    // A key kept from a change before encryption went off would make this switch-on's rewrite
    // take the plain records for forgeries.
    dropFormerKey();
    // The key is kept here before the server hears of it: a computer that crashes in between
    // holds a key nobody uses, rather than an account whose key nobody holds.
    const crypto::HistoryKey made = crypto::HistoryKey::generate();
    const cloud::ServiceAccount asked = *account;
    keep(made, [this, made, asked, done](std::optional<QString> notKept) {
        if (notKept) {
            done(failure(*notKept));
            return;
        }
        runInBackground<StatusAnswer>(
            this,
            [asked, made] {
                return statusOf(
                    cloud::ServiceAccountCalls(asked).setEncryption({}, made.id(), made.verifier()));
            },
            [this, made, done](StatusAnswer set) {
                if (!set.ok) {
                    done(failure(set.error.code == cloud::CloudErrorCode::serverRecordChanged
                                     ? QStringLiteral("Another computer switched encryption on meanwhile: "
                                                      "enter its recovery phrase or pair with it.")
                                     : reachFailure(set.error)));
                    emit syncRestartNeeded();
                    return;
                }
                // Every record the server holds is still plain: this computer rewrites them,
                // and a crash before it finished leaves the flag for the next start.
                markReencryptionPending();
                key = made;
                lastKeyId = made.id();
                current.enabled = true;
                current.haveKey = true;
                current.reencryptLeft = 1;
                emit stateChanged();
                qCInfo(lcSync) << "encryption switched on with key" << made.id();
                done(Outcome{true, {}, made});
                emit syncRestartNeeded();
            });
    });
}

void AccountEncryption::switchOff(Done done) {
    if (!current.enabled || !key) {
        done(failure(current.enabled ? QStringLiteral("This computer does not hold the account's key.")
                                     : QStringLiteral("Encryption is already off for this account.")));
        return;
    }
    // Every sealed record is rewritten plain first, while encryption is still on, and only then
    // is the state cleared. Cleared first, the records would stay sealed on the server for as
    // long as no computer with the key came by, and every computer without it would skip them:
    // clips lost to them. The other way round, a computer with the key refuses the plain records
    // for a while and counts them, and takes them all when it sees the state off and fetches
    // everything again.
    if (const auto sealed = lastSealed.lock()) {
        sealed->setAcceptPlain(true);
    }
    const cloud::ServiceAccount asked = *account;
    const crypto::HistoryKey used = *key;
    const QString bound = binding();
    runInBackground<StatusAnswer>(
        this,
        [asked, used, bound] {
            sync::Reencryption rewrite(std::make_shared<cloud::ServiceCloudDatabase>(asked), used, {}, bound,
                                       sync::RecordNames::zoneID());
            rewrite.setToPlain(true);
            const auto run = rewrite.run();
            if (!run.ok()) {
                return StatusAnswer{false, run.error()};
            }
            if (!run.value().finished) {
                return StatusAnswer{false, cloud::CloudError{cloud::CloudErrorCode::serverRecordChanged,
                                                             QStringLiteral("clips kept changing"),
                                                             {},
                                                             false}};
            }
            return statusOf(cloud::ServiceAccountCalls(asked).clearEncryption(used.id()));
        },
        [this, done](StatusAnswer cleared) {
            if (!cleared.ok) {
                done(failure(QStringLiteral("Encryption is still on: %1").arg(cleared.error.description)));
                emit syncRestartNeeded();
                return;
            }
            sync::Reencryption::clearPending(pendingFlagFile());
            key.reset();
            lastKeyId = QString();
            current.enabled = false;
            current.haveKey = false;
            current.reencryptLeft = 0;
            current.undecryptable = 0;
            emit stateChanged();
            qCInfo(lcSync) << "encryption switched off";
            done(Outcome{true, {}, std::nullopt});
            emit syncRestartNeeded();
        });
}

void AccountEncryption::revealKey(const QString& password, Done done) {
    if (!account) {
        done(signedOut());
        return;
    }
    const cloud::ServiceAccount asked = *account;
    runInBackground<StatusAnswer>(
        this,
        [asked, password] { return statusOf(cloud::ServiceAccountCalls(asked).verifyPassword(password)); },
        [this, done](StatusAnswer checked) {
            if (!checked.ok) {
                const auto code = checked.error.code;
                done(failure(code == cloud::CloudErrorCode::permissionFailure
                                 ? QStringLiteral("That is not the account's password.")
                             : code == cloud::CloudErrorCode::limitExceeded
                                 ? QStringLiteral("Too many wrong passwords: try again later.")
                                 : reachFailure(checked.error)));
                return;
            }
            if (!key) {
                done(failure(QStringLiteral("This computer does not hold the account's key.")));
                return;
            }
            done(Outcome{true, {}, key});
        });
}

QString AccountEncryption::formerName() const {
    return binding() + QStringLiteral(" former");
}

std::vector<crypto::HistoryKey> AccountEncryption::formerKeys() const {
    return former ? std::vector<crypto::HistoryKey>{*former} : std::vector<crypto::HistoryKey>{};
}

void AccountEncryption::changeKey(Done done) {
    if (!account || !current.enabled || !key) {
        done(failure(QStringLiteral("This computer does not hold the account's key.")));
        return;
    }
    // The old key is kept first, beside the new one: until this computer has rewritten every
    // record, it opens those sealed with the old key, also after a crash.
    const crypto::HistoryKey old = *key;
    const crypto::HistoryKey made = crypto::HistoryKey::generate();
    const cloud::ServiceAccount asked = *account;
    vault->store(
        formerName(), old, passphrase, this,
        [this, old, made, asked, done](crypto::HistoryKeyVault::Result kept) {
            if (kept.status != crypto::HistoryKeyVault::Result::Status::stored) {
                done(failure(
                    QStringLiteral("The old key could not be kept while the clips are re-encrypted.")));
                return;
            }
            keep(made, [this, old, made, asked, done](std::optional<QString> notKept) {
                if (notKept) {
                    done(failure(*notKept));
                    return;
                }
                runInBackground<StatusAnswer>(
                    this,
                    [asked, old, made] {
                        return statusOf(cloud::ServiceAccountCalls(asked).setEncryption(old.id(), made.id(),
                                                                                        made.verifier()));
                    },
                    [this, old, made, done](StatusAnswer set) {
                        if (!set.ok) {
                            // The account keeps the old key; so does this computer.
                            keep(old, [](std::optional<QString>) {});
                            done(failure(set.error.code == cloud::CloudErrorCode::serverRecordChanged
                                             ? QStringLiteral("Another computer changed the key meanwhile.")
                                             : reachFailure(set.error)));
                            emit syncRestartNeeded();
                            return;
                        }
                        markReencryptionPending();
                        key = made;
                        former = old;
                        lastKeyId = made.id();
                        current.reencryptLeft = 1;
                        emit stateChanged();
                        qCInfo(lcSync) << "the history key changed to" << made.id();
                        done(Outcome{true, {}, made});
                        emit syncRestartNeeded();
                    });
            });
        });
}

void AccountEncryption::useKey(const crypto::HistoryKey& typed, Done done) {
    if (!account) {
        done(signedOut());
        return;
    }
    const cloud::ServiceAccount asked = *account;
    runInBackground<StateAnswer>(
        this, [asked] { return readState(asked); },
        [this, typed, done](StateAnswer answer) {
            if (!answer.ok) {
                done(failure(reachFailure(answer.error)));
                return;
            }
            const EncryptionState& server = answer.state;
            if (!server.enabled()) {
                done(failure(QStringLiteral("Encryption is off for this account.")));
                return;
            }
            if (typed.id() != server.keyId || typed.verifier() != server.verifier) {
                done(failure(
                    QStringLiteral("This recovery phrase is not the one of this account's key: it may "
                                   "be of an older key or another account.")));
                return;
            }
            keep(typed, [this, typed, done](std::optional<QString> notKept) {
                if (notKept) {
                    done(failure(*notKept));
                    return;
                }
                key = typed;
                lastKeyId = typed.id();
                current.enabled = true;
                current.haveKey = true;
                emit stateChanged();
                done(Outcome{true, {}, std::nullopt});
                emit syncRestartNeeded();
            });
        });
}

} // namespace snipjar
