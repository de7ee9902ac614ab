#pragma once

#include <QStringList>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace snipjar {

// The panel under the encryption settings in which one task runs at a time (showing the recovery
// phrase, pairing, entering a phrase, confirming a change): what to do, what to type or compare,
// a note on how it went, and the buttons to go on or stop. Inline rather than a dialog, so that
// nothing waits on a modal loop while the network answers.
class EncryptionFlow : public QWidget {
    Q_OBJECT
public:
    enum class Input { none, password, passphrase, code, phrase };

    struct Step {
        QString prompt;
        Input input = Input::none;
        // A code to read out, shown large.
        QString code;
        // Words to write down or compare, shown numbered.
        QStringList words;
        // The button that goes on; none when empty.
        QString accept;
        // The button that stops; none when empty (a step that cannot be left).
        QString cancel = QStringLiteral("Cancel");
    };

    explicit EncryptionFlow(QWidget* parent = nullptr);

    // Shows the step in place of the previous one; an input is emptied and focused.
    void start(const Step& step);
    // Hides the panel, forgetting what was typed and shown.
    void finish();
    // A line under the step: how it went, or (problem) why it did not.
    void setNote(const QString& text, bool problem = false);
    // While an answer is awaited, nothing can be typed or clicked but Cancel.
    void setBusy(bool busy);
    QString inputText() const;

    QLabel* promptLabel() const { return prompt; }
    QLineEdit* lineField() const { return line; }
    QPlainTextEdit* phraseField() const { return phrase; }
    QLabel* codeLabel() const { return code; }
    QLabel* wordsLabel() const { return words; }
    QStringList shownWords() const { return currentWords; }
    QLabel* noteLabel() const { return note; }
    QPushButton* acceptButton() const { return accept; }
    QPushButton* cancelButton() const { return cancel; }

signals:
    void accepted();
    void cancelled();

private:
    QLabel* prompt = nullptr;
    QLineEdit* line = nullptr;
    QPlainTextEdit* phrase = nullptr;
    QLabel* code = nullptr;
    QLabel* words = nullptr;
    QLabel* note = nullptr;
    QPushButton* accept = nullptr;
    QPushButton* cancel = nullptr;
    QStringList currentWords;
    Input input = Input::none;
};

} // namespace snipjar
