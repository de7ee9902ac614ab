#pragma once

#include "sync/crypto/HistoryKey.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace snipjar {

// What the encryption settings ask of the rest of the application: the account's encryption
// state on the sync server, the key kept on this computer, pairing and re-encryption. Every call
// returns at once and answers later, on the GUI thread, through its callback, exactly once (a
// pairing through several steps); the settings never wait. The settings may be gone by the time
// an answer comes, and then ignore it.
class EncryptionActions : public QObject {
    Q_OBJECT
public:
    struct State {
        // Signed in to a sync account: nothing else is offered before.
        bool signedIn = false;
        // The account's history is encrypted (or being re-encrypted).
        bool enabled = false;
        // This computer holds the account's key.
        bool haveKey = false;
        // Clips still to be re-encrypted on the server: 0 once it holds no plain (or old-key) clip.
        int reencryptLeft = 0;
        // Clips that came from the server and could not be decrypted (wrong key, damaged).
        int undecryptable = 0;
        // No keyring answers on this computer: the key is kept in a file sealed with a passphrase,
        // which this session does not know yet.
        bool needsPassphrase = false;
    };

    struct Outcome {
        bool ok = false;
        // Why not, as a sentence to show, when not ok.
        QString message;
        // The key to show as a recovery phrase: a new key made by switching encryption on for the
        // first time or by changing it, or the key revealed after the password.
        std::optional<crypto::HistoryKey> key;
    };

    // One step of a pairing, in order: code (offering side only), confirmation, then done or
    // failed; failed may come at any point and ends the pairing.
    struct PairingStep {
        enum class Kind { code, confirmation, done, failed };
        Kind kind = Kind::failed;
        // The short code the offering computer shows and the other one types.
        QString code;
        // The bytes both computers derived, shown as words on both to be compared.
        QByteArray confirmation;
        // Why it failed.
        QString message;
    };

    using Done = std::function<void(Outcome)>;
    using Progress = std::function<void(PairingStep)>;

    // What is known now, without waiting; stateChanged tells when it changes.
    virtual State state() const = 0;

    // Switches encryption of the account on (making its key on the first computer; the outcome
    // carries a new key to be shown once) or off; the server's clips are rewritten in the
    // background.
    virtual void setEnabled(bool enabled, Done done) = 0;
    // Checks the account password with the server, then hands over this computer's key.
    virtual void revealKey(const QString& password, Done done) = 0;
    // Makes a new key and re-encrypts every clip with it; the outcome carries the new key.
    virtual void changeKey(Done done) = 0;
    // Takes a key read from a recovery phrase: checked against the account's, then kept.
    virtual void useKey(const crypto::HistoryKey& key, Done done) = 0;
    // Where no keyring answers: the passphrase of the file that keeps the key on this computer.
    // It opens the file when there is one (refused when it does not), and seals the key from then
    // on; it is kept for this session only.
    virtual void usePassphrase(const QString& passphrase, Done done) = 0;

    // On a computer that has the key: offers it to the computer that will type the code shown.
    virtual void offerKey(Progress progress) = 0;
    // On a computer without the key: asks for it with the code the other computer shows.
    virtual void requestKey(const QString& code, Progress progress) = 0;
    // The person compared the confirmation words: the pairing under way goes on (same) or ends.
    virtual void confirmPairing(bool same) = 0;
    // Ends the pairing under way; its progress is not called any more.
    virtual void cancelPairing() = 0;

signals:
    void stateChanged();
};

} // namespace snipjar
