#include "app/AccountEncryption.h"

#include "app/settings/BackgroundCall.h"
#include "sync/pairing/Pairing.h"

// Pairing as the settings drive it: each blocking step of sync::Pairing on a worker thread, each
// answer a step of the settings' progress on the main thread.
namespace snipjar {
namespace {

// The step a worker reached, or why it failed.
using PairingAnswer = EncryptionActions::PairingStep;

} // namespace

void AccountEncryption::pairingStep(quint64 asked, PairingStep step) {
    if (asked != pairingGeneration || !pairingProgress) {
        return;
    }
    const Progress progress = pairingProgress;
    if (step.kind == PairingStep::Kind::failed || step.kind == PairingStep::Kind::done) {
        pairing.reset();
        pairingProgress = {};
    }
    progress(std::move(step));
}

namespace {

// Both sides' key exchange, on a worker: the confirmation to show, or why it failed.
PairingAnswer connectStep(sync::Pairing& pairing) {
    if (const auto problem = pairing.connect()) {
        return PairingAnswer{PairingAnswer::Kind::failed, {}, {}, *problem};
    }
    return PairingAnswer{PairingAnswer::Kind::confirmation, {}, pairing.confirmationBytes(), {}};
}

} // namespace

void AccountEncryption::offerKey(Progress progress) {
    cancelPairing();
    if (!account || !key) {
        progress(PairingStep{PairingStep::Kind::failed,
                             {},
                             {},
                             QStringLiteral("This computer does not hold the account's key.")});
        return;
    }
    pairing = sync::Pairing::offer(*account, *key);
    pairingProgress = std::move(progress);
    const quint64 asked = pairingGeneration;
    const std::shared_ptr<sync::Pairing> offered = pairing;
    // The code is shown only once its mailbox exists, so that a code typed at once is found.
    runInBackground<PairingAnswer>(
        this,
        [offered]() -> PairingAnswer {
            if (const auto problem = offered->open()) {
                return PairingStep{PairingStep::Kind::failed, {}, {}, *problem};
            }
            return PairingStep{PairingStep::Kind::code, offered->code(), {}, {}};
        },
        [this, asked, offered](PairingAnswer step) {
            const bool opened = step.kind == PairingStep::Kind::code;
            pairingStep(asked, step);
            if (!opened || asked != pairingGeneration) {
                return;
            }
            runInBackground<PairingAnswer>(
                this, [offered] { return connectStep(*offered); },
                [this, asked](PairingAnswer reached) { pairingStep(asked, reached); });
        });
}

void AccountEncryption::requestKey(const QString& code, Progress progress) {
    cancelPairing();
    if (!account) {
        progress(PairingStep{PairingStep::Kind::failed, {}, {}, signedOut().message});
        return;
    }
    pairing = sync::Pairing::join(*account, code);
    pairingProgress = std::move(progress);
    const quint64 asked = pairingGeneration;
    const std::shared_ptr<sync::Pairing> joining = pairing;
    runInBackground<PairingAnswer>(
        this, [joining] { return connectStep(*joining); },
        [this, asked](PairingAnswer reached) { pairingStep(asked, reached); });
}

void AccountEncryption::confirmPairing(bool same) {
    if (!pairing) {
        return;
    }
    const std::shared_ptr<sync::Pairing> confirmed = pairing;
    const quint64 asked = pairingGeneration;
    if (!same) {
        runInBackground<bool>(
            this,
            [confirmed] {
                confirmed->decline();
                return true;
            },
            [](bool) {});
        pairingStep(asked, PairingStep{PairingStep::Kind::failed,
                                       {},
                                       {},
                                       QStringLiteral("The words differ: the pairing was ended.")});
        return;
    }
    if (confirmed->isOffering()) {
        runInBackground<PairingAnswer>(
            this,
            [confirmed]() -> PairingAnswer {
                if (const auto problem = confirmed->sendKey()) {
                    return PairingStep{PairingStep::Kind::failed, {}, {}, *problem};
                }
                return PairingStep{PairingStep::Kind::done, {}, {}, {}};
            },
            [this, asked](PairingAnswer reached) { pairingStep(asked, reached); });
        return;
    }
    // The key travels as its bytes: a key object has no empty state to start the answer with.
    struct Received {
        QByteArray key;
        QString problem;
    };
    runInBackground<Received>(
        this,
        [confirmed] {
            const std::variant<crypto::HistoryKey, QString> received = confirmed->receiveKey();
            if (const QString* problem = std::get_if<QString>(&received)) {
                return Received{{}, *problem};
            }
            return Received{std::get<crypto::HistoryKey>(received).bytes(), {}};
        },
        [this, asked](Received received) {
            if (asked != pairingGeneration) {
                return;
            }
            const std::optional<crypto::HistoryKey> paired = crypto::HistoryKey::fromBytes(received.key);
            if (!paired) {
                pairingStep(asked, PairingStep{PairingStep::Kind::failed, {}, {}, received.problem});
                return;
            }
            // The pairing checked the key against the account's verifier; keeping it goes the way
            // of a typed phrase's.
            useKey(*paired, [this, asked](Outcome kept) {
                pairingStep(asked, kept.ok ? PairingStep{PairingStep::Kind::done, {}, {}, {}}
                                           : PairingStep{PairingStep::Kind::failed, {}, {}, kept.message});
            });
        });
}

void AccountEncryption::cancelPairing() {
    ++pairingGeneration;
    pairingProgress = {};
    if (pairing) {
        pairing->cancel();
        pairing.reset();
    }
}

} // namespace snipjar
