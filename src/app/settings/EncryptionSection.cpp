#include "app/settings/EncryptionSection.h"

#include "sync/crypto/RecoveryPhrase.h"
#include "sync/crypto/WordList.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace snipjar {
namespace {

using Outcome = EncryptionActions::Outcome;
using Step = EncryptionFlow::Step;
using Input = EncryptionFlow::Input;

// How many words the pairing confirmation shows: 44 of its bits, enough that a stranger in the
// middle cannot make both computers show the same words by chance.
constexpr int confirmationWords = 4;

QPushButton* button(QWidget* parent, const QString& text, const char* name) {
    auto* action = new QPushButton(text, parent);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

QWidget* buttonRow(QWidget* parent, std::initializer_list<QPushButton*> buttons) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QPushButton* action : buttons) {
        action->setParent(row);
        layout->addWidget(action);
    }
    layout->addStretch(1);
    return row;
}

QString statusText(const EncryptionActions::State& state) {
    if (!state.signedIn) {
        return QStringLiteral("Sign in to your sync server to encrypt the synced history.");
    }
    if (!state.enabled) {
        return QStringLiteral("Encryption is off: the sync server can read the synced history.");
    }
    QString text;
    if (!state.haveKey && state.needsPassphrase) {
        text = QStringLiteral("Encryption is on, but the file that keeps the key on this computer is locked: "
                              "enter its passphrase.");
    } else if (!state.haveKey) {
        text =
            QStringLiteral("Encryption is on, but this computer lacks the key: enter the recovery phrase or "
                           "pair with a computer that has it.");
    } else if (state.reencryptLeft > 0) {
        text = QStringLiteral("Encryption is on: re-encrypting, %1 left.")
                   .arg(state.reencryptLeft == 1 ? QStringLiteral("1 clip")
                                                 : QStringLiteral("%1 clips").arg(state.reencryptLeft));
    } else {
        text = QStringLiteral("Encryption is on: the sync server cannot read the synced history.");
    }
    if (state.undecryptable > 0) {
        text += state.undecryptable == 1
                    ? QStringLiteral(" 1 clip could not be decrypted.")
                    : QStringLiteral(" %1 clips could not be decrypted.").arg(state.undecryptable);
    }
    return text;
}

} // namespace

EncryptionSection::EncryptionSection(QWidget* parent)
    : SettingsSection(QStringLiteral("Encryption"), parent) {
    toggle = new QCheckBox(QStringLiteral("Encrypt the synced history"), this);
    toggle->setObjectName(QStringLiteral("encryptionEnabled"));
    addRow(toggle);

    auto* tasks = new QWidget(this);
    auto* lines = new QVBoxLayout(tasks);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(6);
    status = new QLabel(tasks);
    status->setObjectName(QStringLiteral("encryptionStatus"));
    status->setWordWrap(true);
    lines->addWidget(status);
    showPhraseAction = button(tasks, QStringLiteral("Show recovery phrase…"), "encryptionShowPhrase");
    addComputerAction = button(tasks, QStringLiteral("Add a computer…"), "encryptionAddComputer");
    changeKeyAction = button(tasks, QStringLiteral("Change key…"), "encryptionChangeKey");
    keyButtons = buttonRow(tasks, {showPhraseAction, addComputerAction, changeKeyAction});
    lines->addWidget(keyButtons);
    usePhraseAction = button(tasks, QStringLiteral("Use a recovery phrase…"), "encryptionUsePhrase");
    pairAction = button(tasks, QStringLiteral("Pair with another computer…"), "encryptionPair");
    joinButtons = buttonRow(tasks, {usePhraseAction, pairAction});
    lines->addWidget(joinButtons);
    passphraseAction = button(tasks, QStringLiteral("Key file passphrase…"), "encryptionPassphrase");
    passphraseButtons = buttonRow(tasks, {passphraseAction});
    lines->addWidget(passphraseButtons);
    panel = new EncryptionFlow(tasks);
    lines->addWidget(panel);
    addRow(tasks);

    setFootnote(QStringLiteral("Clips are encrypted on your computers with a key the server never sees. "
                               "Whoever has the recovery phrase can read them; without it and without "
                               "a computer that has the key, the synced history cannot be recovered."));

    connect(toggle, &QCheckBox::clicked, this, &EncryptionSection::toggled);
    connect(showPhraseAction, &QPushButton::clicked, this, &EncryptionSection::showPhrase);
    connect(addComputerAction, &QPushButton::clicked, this, &EncryptionSection::addComputer);
    connect(changeKeyAction, &QPushButton::clicked, this, &EncryptionSection::changeKey);
    connect(usePhraseAction, &QPushButton::clicked, this, &EncryptionSection::usePhrase);
    connect(pairAction, &QPushButton::clicked, this, &EncryptionSection::pair);
    connect(passphraseAction, &QPushButton::clicked, this, &EncryptionSection::enterPassphrase);
    connect(panel, &EncryptionFlow::accepted, this, [this] {
        if (onAccept && !busy && actions) {
            onAccept();
        }
    });
    connect(panel, &EncryptionFlow::cancelled, this, &EncryptionSection::end);
    reload();
}

EncryptionSection::~EncryptionSection() {
    if (pairing && actions) {
        actions->cancelPairing();
    }
}

void EncryptionSection::setActions(EncryptionActions* newActions) {
    if (actions) {
        disconnect(actions, nullptr, this, nullptr);
    }
    end();
    actions = newActions;
    if (actions) {
        connect(actions, &EncryptionActions::stateChanged, this, &EncryptionSection::reload);
    }
    reload();
}

void EncryptionSection::reload() {
    const EncryptionActions::State state = actions ? actions->state() : EncryptionActions::State{};
    {
        const QSignalBlocker blocker(toggle);
        toggle->setChecked(state.enabled);
    }
    toggle->setEnabled(state.signedIn && !busy);
    status->setText(statusText(state));
    keyButtons->setVisible(state.signedIn && state.enabled && state.haveKey);
    joinButtons->setVisible(state.signedIn && state.enabled && !state.haveKey);
    passphraseButtons->setVisible(state.signedIn && state.needsPassphrase);
    for (QPushButton* action : {showPhraseAction, addComputerAction, changeKeyAction, usePhraseAction,
                                pairAction, passphraseAction}) {
        action->setEnabled(!busy && panel->isHidden());
    }
    emit heightChanged();
}

EncryptionActions::Done EncryptionSection::answer(std::function<void(const Outcome&)> then, bool makesKey) {
    setBusy(true);
    return [guard = QPointer<EncryptionSection>(this), current = task, then = std::move(then),
            makesKey](Outcome outcome) {
        // A new key is shown even when its task was left meanwhile: its phrase is shown this
        // once, and the key is in use by then whatever the panel shows.
        const bool newKey = makesKey && outcome.ok && outcome.key;
        if (!guard || (guard->task != current && !newKey)) {
            return;
        }
        guard->setBusy(false);
        if (!outcome.ok) {
            guard->failed(outcome);
            return;
        }
        then(outcome);
    };
}

void EncryptionSection::toggled(bool enabled) {
    // The box shows the account's state, which changes only once the actions say so.
    toggle->setChecked(!enabled);
    if (!actions || busy) {
        return;
    }
    if (enabled) {
        begin({QStringLiteral("Switching encryption on…"), Input::none, {}, {}, {}}, {});
        actions->setEnabled(
            true, answer(
                      [this](const Outcome& outcome) {
                          if (outcome.key) {
                              showKey(*outcome.key,
                                      QStringLiteral("Encryption is on. Write these words down and keep them "
                                                     "safe: they are the only way to read the synced history "
                                                     "if every computer is lost. They are shown again only "
                                                     "after your password."));
                          } else {
                              end();
                          }
                      },
                      true));
        return;
    }
    begin({QStringLiteral("Switch encryption off? Every synced clip is sent to the server again as it is, "
                          "readable by whoever runs the server."),
           Input::none,
           {},
           {},
           QStringLiteral("Switch Off")},
          [this] { actions->setEnabled(false, answer([this](const Outcome&) { end(); })); });
}

void EncryptionSection::showPhrase() {
    begin({QStringLiteral("Enter the password of your sync account to see the recovery phrase."),
           Input::password,
           {},
           {},
           QStringLiteral("Show")},
          [this] {
              if (panel->inputText().isEmpty()) {
                  return;
              }
              const QString password = panel->inputText();
              panel->lineField()->clear();
              actions->revealKey(
                  password, answer([this](const Outcome& outcome) {
                      if (outcome.key) {
                          showKey(*outcome.key,
                                  QStringLiteral("Your recovery phrase. Anyone who sees it can read "
                                                 "your synced history."));
                      } else {
                          end();
                      }
                  }));
          });
}

void EncryptionSection::changeKey() {
    begin(
        {QStringLiteral("Make a new key? Every synced clip is re-encrypted with it, the old recovery phrase "
                        "stops working, and your other computers need the new key: pair them again or "
                        "enter the new phrase."),
         Input::none,
         {},
         {},
         QStringLiteral("Change Key")},
        [this] {
            actions->changeKey(answer(
                [this](const Outcome& outcome) {
                    if (outcome.key) {
                        showKey(*outcome.key,
                                QStringLiteral("The new key's recovery phrase. Write it down; the "
                                               "old one no longer works."));
                    } else {
                        end();
                    }
                },
                true));
        });
}

void EncryptionSection::usePhrase() {
    begin({QStringLiteral("Type or paste the 24 words of the recovery phrase. The first four letters of each "
                          "word are enough."),
           Input::phrase,
           {},
           {},
           QStringLiteral("Use Phrase")},
          [this] {
              const crypto::RecoveryPhrase::Parsed parsed = crypto::RecoveryPhrase::parse(panel->inputText());
              if (!parsed.key) {
                  panel->setNote(parsed.reason, true);
                  return;
              }
              actions->useKey(*parsed.key, answer([this](const Outcome&) { end(); }));
          });
}

void EncryptionSection::enterPassphrase() {
    begin({QStringLiteral("No keyring answers on this computer, so the key is kept in a file sealed with a "
                          "passphrase. Enter it, or choose one if there is no file yet. It is asked once "
                          "each time Snipjar starts."),
           Input::passphrase,
           {},
           {},
           QStringLiteral("Unlock")},
          [this] {
              if (panel->inputText().isEmpty()) {
                  return;
              }
              const QString passphrase = panel->inputText();
              panel->lineField()->clear();
              actions->usePassphrase(passphrase, answer([this](const Outcome&) { end(); }));
          });
}

void EncryptionSection::addComputer() {
    if (!actions) {
        return;
    }
    begin({QStringLiteral("Asking the server for a pairing code…"), Input::none, {}, {}, {}}, {});
    pairing = true;
    setBusy(true);
    actions->offerKey(
        [guard = QPointer<EncryptionSection>(this), current = task](EncryptionActions::PairingStep step) {
            if (guard && guard->task == current) {
                guard->pairingStep(step);
            }
        });
}

void EncryptionSection::pair() {
    begin({QStringLiteral(
               "On the computer that has the key, choose Add a computer, then type the code it shows."),
           Input::code,
           {},
           {},
           QStringLiteral("Pair")},
          [this] {
              const QString code = panel->inputText().trimmed();
              if (code.isEmpty()) {
                  return;
              }
              pairing = true;
              setBusy(true);
              actions->requestKey(code, [guard = QPointer<EncryptionSection>(this),
                                         current = task](EncryptionActions::PairingStep step) {
                  if (guard && guard->task == current) {
                      guard->pairingStep(step);
                  }
              });
          });
}

void EncryptionSection::pairingStep(const EncryptionActions::PairingStep& step) {
    using Kind = EncryptionActions::PairingStep::Kind;
    setBusy(false);
    switch (step.kind) {
    case Kind::code:
        panel->start(
            {QStringLiteral("On the new computer, choose Pair with another computer and type this code:"),
             Input::none,
             step.code,
             {},
             {}});
        setBusy(true);
        break;
    case Kind::confirmation:
        panel->start(
            {QStringLiteral("Check that the other computer shows the same words, then confirm on both."),
             Input::none,
             {},
             crypto::WordList::wordsFor(step.confirmation, confirmationWords),
             QStringLiteral("Confirm")});
        onAccept = [this] {
            setBusy(true);
            actions->confirmPairing(true);
        };
        break;
    case Kind::done:
        pairing = false;
        end();
        break;
    case Kind::failed:
        pairing = false;
        panel->start({QString(), Input::none, {}, {}, {}, QStringLiteral("Close")});
        panel->setNote(step.message, true);
        onAccept = {};
        break;
    }
    emit heightChanged();
}

void EncryptionSection::showKey(const crypto::HistoryKey& key, const QString& prompt) {
    begin({prompt, Input::none, {}, crypto::RecoveryPhrase::words(key), {}, QStringLiteral("Done")}, {});
}

void EncryptionSection::begin(const Step& step, std::function<void()> accept) {
    if (pairing && actions) {
        actions->cancelPairing();
    }
    pairing = false;
    ++task;
    busy = false;
    onAccept = std::move(accept);
    panel->start(step);
    reload();
}

void EncryptionSection::end() {
    if (pairing && actions) {
        actions->cancelPairing();
    }
    pairing = false;
    ++task;
    busy = false;
    onAccept = {};
    panel->finish();
    reload();
}

void EncryptionSection::failed(const Outcome& outcome) {
    // The step stays, so that what was asked can be tried again (another password) or left.
    panel->setNote(outcome.message, true);
    emit heightChanged();
}

void EncryptionSection::setBusy(bool nowBusy) {
    busy = nowBusy;
    panel->setBusy(nowBusy);
    reload();
}

} // namespace snipjar
