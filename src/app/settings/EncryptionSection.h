#pragma once

#include "app/settings/EncryptionActions.h"
#include "app/settings/EncryptionFlow.h"
#include "app/settings/SettingsSection.h"

#include <QPointer>

#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;

namespace snipjar {

// "Encryption": whether the synced history is encrypted on the computers before the server
// stores it, how that stands (off, on, re-encrypting, this computer lacks the key, clips that could
// not be decrypted), and the tasks around the key, each run in the panel under the buttons: show
// the recovery phrase again (after the account password), add a computer (a code to type there,
// then words to compare), change the key; on a computer without the key, enter the recovery
// phrase or pair with a computer that has it; where no keyring answers, the passphrase of the file
// that keeps the key. All of it goes through EncryptionActions.
class EncryptionSection : public SettingsSection {
    Q_OBJECT
public:
    explicit EncryptionSection(QWidget* parent = nullptr);
    ~EncryptionSection() override;

    // Without actions, encryption is not offered. The actions must outlive the section, or be
    // unset first.
    void setActions(EncryptionActions* actions);
    // Shows the state the actions report now.
    void reload();

    QCheckBox* encryptionToggle() const { return toggle; }
    QLabel* statusLabel() const { return status; }
    QPushButton* showPhraseButton() const { return showPhraseAction; }
    QPushButton* addComputerButton() const { return addComputerAction; }
    QPushButton* changeKeyButton() const { return changeKeyAction; }
    QPushButton* usePhraseButton() const { return usePhraseAction; }
    QPushButton* pairButton() const { return pairAction; }
    QPushButton* passphraseButton() const { return passphraseAction; }
    EncryptionFlow* flow() const { return panel; }

signals:
    // The section grew or shrank (a task started or ended): the window may need to follow.
    void heightChanged();

private:
    void toggled(bool enabled);
    void showPhrase();
    void addComputer();
    void changeKey();
    void usePhrase();
    void pair();
    void enterPassphrase();
    void pairingStep(const EncryptionActions::PairingStep& step);
    void showKey(const crypto::HistoryKey& key, const QString& prompt);
    // Starts a step of the panel; accepting it runs onAccept.
    void begin(const EncryptionFlow::Step& step, std::function<void()> onAccept);
    void end();
    void failed(const EncryptionActions::Outcome& outcome);
    void setBusy(bool busy);
    // A callback that runs only while this section and the task it belongs to are still there;
    // for a task that makes a key (makesKey), while the section is.
    EncryptionActions::Done answer(std::function<void(const EncryptionActions::Outcome&)> then,
                                   bool makesKey = false);

    QPointer<EncryptionActions> actions;
    QCheckBox* toggle = nullptr;
    QLabel* status = nullptr;
    QPushButton* showPhraseAction = nullptr;
    QPushButton* addComputerAction = nullptr;
    QPushButton* changeKeyAction = nullptr;
    QPushButton* usePhraseAction = nullptr;
    QPushButton* pairAction = nullptr;
    QPushButton* passphraseAction = nullptr;
    QWidget* keyButtons = nullptr;
    QWidget* passphraseButtons = nullptr;
    QWidget* joinButtons = nullptr;
    EncryptionFlow* panel = nullptr;
    std::function<void()> onAccept;
    // Bumped by each task, so that the answer of an abandoned one is dropped.
    int task = 0;
    bool busy = false;
    bool pairing = false;
};

} // namespace snipjar
