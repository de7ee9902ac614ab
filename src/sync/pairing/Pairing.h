#pragma once

#include "sync/cloud/service/ServiceAccount.h"
#include "sync/cloud/service/ServiceAccountCalls.h"
#include "sync/crypto/HistoryKey.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <variant>

namespace snipjar::sync {

// Gives the account's history key to another computer of the account through the sync service,
// which cannot read it. The computer that has the key offers: it shows a short code, which the
// user types on the joining computer. The code names a mailbox on the server by a slow hash (the
// server never sees the code) and is mixed into the session key the two computers agree on with a
// key exchange through that mailbox, so that the server, not knowing the code, cannot sit between
// them unnoticed. Both computers then show the same confirmation; once the user confirmed it on
// the offering computer, the key goes to the joining one sealed under the session key, and the
// joining computer accepts it only if it matches the account's key verifier.
//
// Every call but cancel() blocks on the network: a worker thread's, never the GUI thread's. A
// failure is a sentence for the user; no call waits longer than the code's lifetime.
class Pairing {
    Q_DECLARE_TR_FUNCTIONS(Pairing)

public:
    // How long a code works (the server's mailbox lifetime).
    static constexpr std::chrono::seconds lifetime{600};
    static constexpr int confirmationSize = 6;

    // The offering side, for this key; code() is new and random.
    static std::unique_ptr<Pairing> offer(cloud::ServiceAccount account, crypto::HistoryKey key);
    // The joining side, with the code the user typed (case, spaces and dashes do not matter, nor O
    // for 0 or I and L for 1).
    static std::unique_ptr<Pairing> join(cloud::ServiceAccount account, const QString& typedCode);
    ~Pairing();

    bool isOffering() const { return key.has_value(); }
    // Twelve characters in three groups, "7K3M-9QXF-2HPR"; as normalised on the joining side.
    QString code() const;

    // Offering: opens the code's mailbox on the server, to be done before the code is shown, so
    // that a code typed at once is found. connect() opens it when this was not done.
    std::optional<QString> open();
    // Offering: waits for the joining computer's answer. Joining: answers
    // the offer (at once "no computer is offering…" for a wrong code). Afterwards
    // confirmationBytes() is the same on both computers unless someone sits between them.
    std::optional<QString> connect();
    // Empty until connect() succeeded.
    QByteArray confirmationBytes() const { return confirmation; }
    // Offering, once the user confirmed that both computers show the same confirmation.
    std::optional<QString> sendKey();
    // Joining: waits for the key, opens it and checks it against the account's verifier.
    std::variant<crypto::HistoryKey, QString> receiveKey();
    // Ends the pairing on both computers (the other side's wait ends with a message), when the
    // confirmations differ or the user gives up.
    void decline();
    // From any thread: the call in progress ends soon with "cancelled".
    void cancel();

private:
    Pairing(cloud::ServiceAccount account, std::optional<crypto::HistoryKey> key, QString code);

    bool deriveMailbox();
    bool agree(const QByteArray& peerPublicKey);
    QByteArray subkey(const char* label, int length) const;
    // A slot's body, waiting for it until the pairing's deadline; or why not.
    std::variant<QByteArray, QString> await(const char* slot);
    QString failure(const cloud::CloudError& error, const QString& missing);

    cloud::ServiceAccountCalls calls;
    QString accountId;
    std::optional<crypto::HistoryKey> key;
    QString normalisedCode;
    QString mailbox;
    QByteArray codeSecret;
    std::array<unsigned char, 32> publicKey{};
    std::array<unsigned char, 32> secretKey{};
    QByteArray session;
    QByteArray confirmation;
    std::chrono::steady_clock::time_point deadline;
    bool opened = false;
    std::atomic<bool> cancelled = false;
};

} // namespace snipjar::sync
