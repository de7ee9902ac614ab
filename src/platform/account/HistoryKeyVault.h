#pragma once

#include "sync/crypto/HistoryKey.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace snipjar {
class PasswordVault;
}

namespace snipjar::crypto {

// Where a computer keeps the history key of each sync account it belongs to: in the desktop's
// keyring, under "history-key@" and the account identity; where no keyring answers, in a file of
// its own in the config folder (0600, in a 0700 folder), sealed with a passphrase the person
// chooses. Every operation finishes later on the calling (main) thread, by calling done once,
// unless the receiver is gone by then; sealing and opening a file (Argon2id, deliberately slow)
// run on a thread of their own.
class HistoryKeyVault {
public:
    // The cost of turning a passphrase into the file's key, for files written from now on; a file
    // keeps the costs it was sealed with.
    struct Cost {
        quint64 operations;
        quint64 memoryBytes;
    };
    // Costs a file may name; beyond them it is refused as damaged, so that a planted file
    // cannot make the program work for hours or exhaust the memory.
    static constexpr quint64 maxOperations = 16;
    static constexpr quint64 maxMemoryBytes = quint64(1) << 30;

    enum class Place { keyring, file };

    struct Result {
        enum class Status {
            found,           // key holds the account's key (load)
            stored,          // the key is kept (store)
            absent,          // this computer holds no key for the account
            needsPassphrase, // the key is (load) or must be (store) in a sealed file: ask for the passphrase
            wrongPassphrase, // the sealed file did not open with the passphrase given
            damaged,         // the keyring's entry or the file is not a key of the account
            failed,          // the key could not be kept (the file could not be written)
        };
        Status status = Status::failed;
        Place place = Place::keyring;
        std::optional<HistoryKey> key;
        // A sentence to show for the statuses that are not success.
        QString reason;
    };

    // keyring must outlive the vault; folder is where sealed files go (the config folder).
    HistoryKeyVault(PasswordVault& keyring, QString folder);

    // The account's key: from the keyring, else from the sealed file with passphrase (needsPassphrase when
    // the passphrase is empty and a file exists).
    void load(const QString& account, const QString& passphrase, QObject* receiver,
              std::function<void(Result)> done);
    // Keeps the account's key in the keyring, and then removes any sealed file; where the keyring
    // refuses, seals it in the file with the passphrase (needsPassphrase when it is empty).
    void store(const QString& account, const HistoryKey& key, const QString& passphrase, QObject* receiver,
               std::function<void(Result)> done);
    // Removes the key from the keyring and the file: done(true) when neither holds it any more;
    // false also where no keyring answers, since it cannot say what it holds.
    void forget(const QString& account, QObject* receiver, std::function<void(bool)> done);

    // The sealed file of the account (whether it exists or not).
    QString filePath(const QString& account) const;
    static QString keyringKey(const QString& account);
    // The default is Argon2id's "moderate" cost (3 passes over 256 MiB).
    void setCost(Cost cost) { sealCost = cost; }

private:
    PasswordVault& keyring;
    QString folder;
    Cost sealCost;
};

} // namespace snipjar::crypto
