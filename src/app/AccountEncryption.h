#pragma once

#include "app/settings/EncryptionActions.h"
#include "platform/account/HistoryKeyVault.h"
#include "sync/cloud/service/ServiceAccount.h"
#include "sync/cloud/service/ServiceAccountCalls.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace snipjar {

class PasswordVault;

namespace cloud {
class CloudDatabase;
class EncryptedCloudDatabase;
} // namespace cloud
namespace sync {
class Pairing;
class Reencryption;
} // namespace sync

// The encryption of the signed-in sync account, as this computer sees and changes it: the state on
// the server (read on a worker thread), the key in this computer's keyring, switching on, revealing
// the key after the password, taking a key from a recovery phrase or a pairing. The sync switch
// gives it the account and asks it what to start with; the settings drive the rest. Main thread
// only; every answer comes on the main thread.
class AccountEncryption : public EncryptionActions {
    Q_OBJECT
public:
    // What the sync engine may start with, once the state was read.
    struct Decision {
        enum class Kind { unknown, plain, sealed, lacksKey };
        Kind kind = Kind::unknown;
        // The key to seal with (sealed only).
        std::optional<crypto::HistoryKey> key;
        // The account's key id on the server ("" while encryption is off): a change means another
        // computer switched encryption on or off, or changed the key.
        QString keyId;
        // Why the state could not be read (unknown only).
        QString message;
    };

    // `keyring` must outlive this; `stateFolder` holds the per-account re-encryption flag files.
    AccountEncryption(PasswordVault& keyring, QString keyFolder, QString stateFolder,
                      QObject* parent = nullptr);
    ~AccountEncryption() override;

    // The account (with its device token) or none when signed out; what binds values to it is its
    // id and the server's epoch, never the server's address, which may change.
    void setAccount(std::optional<cloud::ServiceAccount> account);
    static QString bindingOf(const cloud::ServiceAccount& account);
    QString binding() const;
    // The file whose existence says this computer still has the account's records to re-encrypt.
    QString pendingFlagFile() const;
    // Makes that file, so that a crash before the rewrite finished leaves it for the next start.
    void markReencryptionPending();

    // Reads the server's state and this computer's key, then answers with what sync may do.
    void decide(std::function<void(Decision)> done);
    // The last decision's key id; none before the first.
    std::optional<QString> knownKeyId() const { return lastKeyId; }

    // The account's records through `inner`, sealed with the key: plain ones are taken while this
    // computer's re-encryption is pending; records that do not open are counted in the state.
    std::shared_ptr<cloud::EncryptedCloudDatabase> sealedDatabase(std::shared_ptr<cloud::CloudDatabase> inner,
                                                                  const crypto::HistoryKey& key);
    // While this computer's re-encryption is pending: rewrites the account's plain records sealed
    // through `inner` (a connection of its own) on a thread of its own, and once none is left clears
    // the flag and makes `sealed` refuse plain records. None when nothing is pending. Cancelling
    // the run leaves the flag for the next start.
    std::shared_ptr<sync::Reencryption>
    reencryptIfPending(std::shared_ptr<cloud::CloudDatabase> inner, const crypto::HistoryKey& key,
                       std::shared_ptr<cloud::EncryptedCloudDatabase> sealed);

    // Progress of this computer's re-encryption and the count of records that did not open.
    void setReencryptLeft(int left);
    void setUndecryptable(int count);

    State state() const override;
    void setEnabled(bool enabled, Done done) override;
    void revealKey(const QString& password, Done done) override;
    void changeKey(Done done) override;
    void useKey(const crypto::HistoryKey& key, Done done) override;
    void usePassphrase(const QString& passphrase, Done done) override;
    void offerKey(Progress progress) override;
    void requestKey(const QString& code, Progress progress) override;
    void confirmPairing(bool same) override;
    void cancelPairing() override;

signals:
    // The key or the account's encryption changed here: sync starts again with the new state.
    void syncRestartNeeded();

private:
    // Notes what the vault's answer says of the passphrase: wanted, wrong, or no longer needed.
    void noteVaultAnswer(const crypto::HistoryKeyVault::Result& result);
    // Keeps a key that the server confirmed as the account's, then answers.
    void keep(const crypto::HistoryKey& key, std::function<void(std::optional<QString> failure)> done);
    void switchOff(Done done);
    // Where the key a change replaced is kept until every record is rewritten with the new one.
    QString formerName() const;
    std::vector<crypto::HistoryKey> formerKeys() const;
    void dropFormerKey();
    void pairingStep(quint64 asked, PairingStep step);
    Outcome signedOut() const;

    std::unique_ptr<crypto::HistoryKeyVault> vault;
    // The passphrase of the key file, where no keyring answers; asked once a session, never stored.
    QString passphrase;
    QString stateFolder;
    std::optional<cloud::ServiceAccount> account;
    State current;
    std::optional<crypto::HistoryKey> key;
    std::optional<crypto::HistoryKey> former;
    std::optional<QString> lastKeyId;
    // The running engine's sealed database, which takes plain records while encryption goes off.
    std::weak_ptr<cloud::EncryptedCloudDatabase> lastSealed;
    // The pairing under way, shared with the worker thread that waits on it.
    std::shared_ptr<sync::Pairing> pairing;
    Progress pairingProgress;
    quint64 pairingGeneration = 0;
};

} // namespace snipjar
