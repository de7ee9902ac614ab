#include "sync/pairing/Pairing.h"

#include "platform/LogCategories.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>

namespace snipjar::sync {

namespace {

// Crockford's base32: no I, L, O or U, so that what is read aloud or retyped is not mistaken. Twelve
// characters carry 60 bits: far beyond what the server's limit of 20 wrong mailbox names per ten
// minutes lets anyone guess, and each guess of the mailbox costs a slow hash.
constexpr char alphabet[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
constexpr int codeLength = 12;
// The longest a mailbox read waits on the server before it is asked again.
constexpr int longestWait = 25;

// The slots of the mailbox, each written once: the offering computer's public key, the joining
// computer's public key with its proof of the code, and the sealed history key.
constexpr char offerSlot[] = "offer";
constexpr char answerSlot[] = "answer";
constexpr char keySlot[] = "key";
constexpr int proofSize = 32;

QByteArray bytesOf(const unsigned char* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

const unsigned char* data(const QByteArray& bytes) {
    return reinterpret_cast<const unsigned char*>(bytes.constData());
}

QString normalise(const QString& typed) {
    QString code;
    for (QChar c : typed) {
        if (c.isSpace() || c == QLatin1Char('-')) {
            continue;
        }
        c = c.toUpper();
        if (c == QLatin1Char('O')) {
            c = QLatin1Char('0');
        } else if (c == QLatin1Char('I') || c == QLatin1Char('L')) {
            c = QLatin1Char('1');
        }
        code += c;
    }
    return code;
}

bool isCode(const QString& code) {
    return code.size() == codeLength && std::all_of(code.begin(), code.end(), [](QChar c) {
               return c.unicode() < 128 && std::strchr(alphabet, char(c.unicode())) != nullptr &&
                      c != QChar();
           });
}

} // namespace

Pairing::Pairing(cloud::ServiceAccount account, std::optional<crypto::HistoryKey> key, QString code)
    : calls(account)
    , accountId(account.accountId)
    , key(std::move(key))
    , normalisedCode(std::move(code)) {
    if (sodium_init() < 0) {
        std::abort();
    }
}

Pairing::~Pairing() {
    sodium_memzero(secretKey.data(), secretKey.size());
    for (QByteArray* secret : {&session, &codeSecret}) {
        sodium_memzero(secret->data(), size_t(secret->size()));
    }
}

std::unique_ptr<Pairing> Pairing::offer(cloud::ServiceAccount account, crypto::HistoryKey key) {
    QString code;
    for (int i = 0; i < codeLength; ++i) {
        code += QLatin1Char(alphabet[randombytes_uniform(32)]);
    }
    return std::unique_ptr<Pairing>(new Pairing(std::move(account), std::move(key), code));
}

std::unique_ptr<Pairing> Pairing::join(cloud::ServiceAccount account, const QString& typedCode) {
    return std::unique_ptr<Pairing>(new Pairing(std::move(account), std::nullopt, normalise(typedCode)));
}

QString Pairing::code() const {
    return normalisedCode.mid(0, 4) + QLatin1Char('-') + normalisedCode.mid(4, 4) + QLatin1Char('-') +
           normalisedCode.mid(8);
}

bool Pairing::deriveMailbox() {
    // A slow hash, salted with the account, from the code to the mailbox's name and the secret that
    // the session key mixes in: the server would need the code before the pairing ends to sit in
    // the middle, and 60 bits through Argon2id are out of its reach in ten minutes.
    unsigned char salt[crypto_pwhash_SALTBYTES];
    const QByteArray label = "snipjar pairing " + accountId.toUtf8();
    crypto_generichash(salt, sizeof(salt), data(label), size_t(label.size()), nullptr, 0);
    unsigned char derived[48];
    const QByteArray code = normalisedCode.toLatin1();
    if (crypto_pwhash(derived, sizeof(derived), code.constData(), size_t(code.size()), salt,
                      crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE,
                      crypto_pwhash_ALG_ARGON2ID13) != 0) {
        return false;
    }
    mailbox = QString::fromLatin1(bytesOf(derived, 16).toHex());
    codeSecret = bytesOf(derived + 16, 32);
    sodium_memzero(derived, sizeof(derived));
    return true;
}

bool Pairing::agree(const QByteArray& peerPublicKey) {
    if (peerPublicKey.size() != crypto_kx_PUBLICKEYBYTES) {
        return false;
    }
    unsigned char received[crypto_kx_SESSIONKEYBYTES];
    unsigned char sent[crypto_kx_SESSIONKEYBYTES];
    // The offering computer takes the exchange's server role; both order the two directions'
    // keys from the joining computer to the offering one, so that both hash the same bytes.
    const int failed = isOffering() ? crypto_kx_server_session_keys(received, sent, publicKey.data(),
                                                                    secretKey.data(), data(peerPublicKey))
                                    : crypto_kx_client_session_keys(received, sent, publicKey.data(),
                                                                    secretKey.data(), data(peerPublicKey));
    if (failed != 0) {
        return false;
    }
    QByteArray material = "snipjar pairing session";
    material += isOffering() ? bytesOf(received, sizeof(received)) + bytesOf(sent, sizeof(sent))
                             : bytesOf(sent, sizeof(sent)) + bytesOf(received, sizeof(received));
    session.resize(32);
    crypto_generichash(reinterpret_cast<unsigned char*>(session.data()), size_t(session.size()),
                       data(material), size_t(material.size()), data(codeSecret), size_t(codeSecret.size()));
    sodium_memzero(material.data(), size_t(material.size()));
    sodium_memzero(received, sizeof(received));
    sodium_memzero(sent, sizeof(sent));
    confirmation = subkey("confirmation", confirmationSize);
    return true;
}

QByteArray Pairing::subkey(const char* label, int length) const {
    QByteArray out(std::max<int>(length, crypto_generichash_BYTES_MIN), Qt::Uninitialized);
    crypto_generichash(reinterpret_cast<unsigned char*>(out.data()), size_t(out.size()),
                       reinterpret_cast<const unsigned char*>(label), std::strlen(label), data(session),
                       size_t(session.size()));
    return out.left(length);
}

QString Pairing::failure(const cloud::CloudError& error, const QString& missing) {
    if (cancelled || error.code == cloud::CloudErrorCode::operationCancelled) {
        return tr("Pairing was cancelled.");
    }
    switch (error.code) {
    case cloud::CloudErrorCode::unknownItem:
        return missing;
    case cloud::CloudErrorCode::limitExceeded:
        return tr("Too many pairing attempts; wait ten minutes and try again.");
    default:
        qCInfo(lcSync) << "pairing failed:" << error.description;
        return tr("The sync service could not be reached: %1").arg(error.description);
    }
}

std::variant<QByteArray, QString> Pairing::await(const char* slot) {
    const QString ended = tr("The pairing was ended on the other computer, or it expired.");
    for (;;) {
        const auto remaining =
            std::chrono::duration_cast<std::chrono::seconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (cancelled) {
            return failure({cloud::CloudErrorCode::operationCancelled, {}, std::nullopt}, ended);
        }
        if (remaining <= 0) {
            return tr("The other computer did not answer in time; start again with a new code.");
        }
        const auto answer =
            calls.read(mailbox, QString::fromLatin1(slot), int(std::min<qint64>(remaining, longestWait)));
        if (!answer) {
            return failure(answer.error(), ended);
        }
        if (answer.value()) {
            return *answer.value();
        }
    }
}

std::optional<QString> Pairing::open() {
    if (opened) {
        return std::nullopt;
    }
    if (!isOffering() && !isCode(normalisedCode)) {
        return tr("A pairing code has twelve letters and digits, as the other computer shows it.");
    }
    if (!deriveMailbox()) {
        return tr("Not enough memory to derive the pairing's keys.");
    }
    deadline = std::chrono::steady_clock::now() + lifetime;
    crypto_kx_keypair(publicKey.data(), secretKey.data());
    if (isOffering()) {
        if (const auto made = calls.openMailbox(mailbox); !made) {
            return failure(made.error(), tr("The pairing could not be started."));
        }
        if (const auto posted = calls.post(mailbox, offerSlot, bytesOf(publicKey.data(), publicKey.size()));
            !posted) {
            decline();
            return failure(posted.error(), tr("The pairing could not be started."));
        }
    }
    opened = true;
    return std::nullopt;
}

std::optional<QString> Pairing::connect() {
    if (auto why = open()) {
        return why;
    }
    const QByteArray ownKey = bytesOf(publicKey.data(), publicKey.size());
    if (isOffering()) {
        auto answer = await(answerSlot);
        if (const auto* why = std::get_if<QString>(&answer)) {
            decline();
            return *why;
        }
        const QByteArray& bytes = std::get<QByteArray>(answer);
        if (bytes.size() != crypto_kx_PUBLICKEYBYTES + proofSize ||
            !agree(bytes.left(crypto_kx_PUBLICKEYBYTES)) ||
            sodium_memcmp(data(bytes) + crypto_kx_PUBLICKEYBYTES, data(subkey("joining proof", proofSize)),
                          proofSize) != 0) {
            decline();
            return tr("The other computer's answer does not match this code; nothing was sent. Start again "
                      "with a new code.");
        }
        return std::nullopt;
    }
    const auto offered = calls.read(mailbox, offerSlot, 5);
    if (!offered) {
        return failure(offered.error(),
                       tr("No computer of this account is offering a pairing with this code. "
                          "Check the code, or make a new one on the other computer."));
    }
    if (!offered.value() || !agree(*offered.value())) {
        return tr("The other computer's offer is incomplete or damaged; start again with a new code.");
    }
    const auto answered = calls.post(mailbox, answerSlot, ownKey + subkey("joining proof", proofSize));
    if (!answered) {
        if (answered.error().code == cloud::CloudErrorCode::permissionFailure) {
            return tr("Another computer answered this code already; make a new code on the other computer.");
        }
        return failure(answered.error(), tr("The pairing was ended on the other computer, or it expired."));
    }
    return std::nullopt;
}

std::optional<QString> Pairing::sendKey() {
    if (!isOffering() || session.isEmpty()) {
        return tr("The computers are not connected.");
    }
    QByteArray sealed(crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES + crypto::HistoryKey::size,
                      Qt::Uninitialized);
    auto* nonce = reinterpret_cast<unsigned char*>(sealed.data());
    randombytes_buf(nonce, crypto_secretbox_NONCEBYTES);
    QByteArray plain = key->bytes();
    QByteArray sealingKey = subkey("history key", crypto_secretbox_KEYBYTES);
    crypto_secretbox_easy(nonce + crypto_secretbox_NONCEBYTES, data(plain), size_t(plain.size()), nonce,
                          data(sealingKey));
    sodium_memzero(plain.data(), size_t(plain.size()));
    sodium_memzero(sealingKey.data(), size_t(sealingKey.size()));
    if (const auto posted = calls.post(mailbox, keySlot, sealed); !posted) {
        return failure(posted.error(), tr("The pairing was ended on the other computer, or it expired."));
    }
    return std::nullopt;
}

std::variant<crypto::HistoryKey, QString> Pairing::receiveKey() {
    if (isOffering() || session.isEmpty()) {
        return tr("The computers are not connected.");
    }
    auto sealed = await(keySlot);
    if (const auto* why = std::get_if<QString>(&sealed)) {
        return *why;
    }
    const QByteArray& bytes = std::get<QByteArray>(sealed);
    std::optional<crypto::HistoryKey> received;
    if (bytes.size() == crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES + crypto::HistoryKey::size) {
        QByteArray plain(crypto::HistoryKey::size, Qt::Uninitialized);
        const QByteArray sealingKey = subkey("history key", crypto_secretbox_KEYBYTES);
        if (crypto_secretbox_open_easy(
                reinterpret_cast<unsigned char*>(plain.data()), data(bytes) + crypto_secretbox_NONCEBYTES,
                size_t(bytes.size()) - crypto_secretbox_NONCEBYTES, data(bytes), data(sealingKey)) == 0) {
            received = crypto::HistoryKey::fromBytes(plain);
        }
        sodium_memzero(plain.data(), size_t(plain.size()));
    }
    // Whatever came, the mailbox has served: nothing more goes through it.
    decline();
    if (!received) {
        return tr("The key arrived damaged or not from the other computer; it was not accepted.");
    }
    const auto state = calls.encryption();
    if (!state) {
        return failure(state.error(), tr("The account could not be read."));
    }
    const QByteArray verifier = received->verifier();
    if (state.value().keyId != received->id() || state.value().verifier.size() != verifier.size() ||
        sodium_memcmp(data(state.value().verifier), data(verifier), size_t(verifier.size())) != 0) {
        return tr("The key received is not this account's encryption key; it was not accepted.");
    }
    return *received;
}

void Pairing::decline() {
    if (!mailbox.isEmpty()) {
        // Best effort: a mailbox left behind expires with its code.
        (void)calls.closeMailbox(mailbox);
    }
    session.clear();
    confirmation.clear();
}

void Pairing::cancel() {
    cancelled = true;
    calls.cancel();
}

} // namespace snipjar::sync
