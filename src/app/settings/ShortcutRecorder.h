#pragma once

#include "paste/HotKeyCombo.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QKeyEvent;
class QLabel;
class QPushButton;

namespace snipjar {

// The control that records the global shortcut: a button showing the combination in Linux form
// ("Ctrl+Alt+V"); a click starts recording ("Type shortcut…") and the next key press with at least
// one modifier and a letter or digit becomes the new combination. While recording the button
// grabs the keyboard, so the keys reach it and not the rest of the window; the window losing
// activation ends the recording, so keys meant for another program are never taken.
//
// A press without a modifier, of a lone modifier or of a key outside the key table keeps the
// recording going; so does a combination that HotKeyCombo::refusal() refuses (Shift+A, Ctrl+V),
// with the reason under the button. Escape, a second click or the button losing focus cancel it. A
// combination that tryRegister refuses (another program holds it) is not taken: the old one stays and a line
// below the button says so.
class ShortcutRecorder : public QWidget {
    Q_OBJECT
public:
    // Answers whether the combination could be registered with the window system now.
    using TryRegister = std::function<bool(const HotKeyCombo&)>;

    explicit ShortcutRecorder(TryRegister tryRegister, QWidget* parent = nullptr);
    ~ShortcutRecorder() override;

    HotKeyCombo combo() const { return current; }
    // Shows a combination chosen elsewhere; ignored while recording, so that a redraw of the
    // settings never overwrites "Type shortcut…".
    void setCombo(const HotKeyCombo& combo);

    bool isRecording() const { return recording; }
    void startRecording();
    void stopRecording();

    // The button's title and the message under it (empty unless a combination was refused).
    QString title() const;
    QString message() const;
    QPushButton* button() const { return recorderButton; }

    static QString recordingTitle();

signals:
    // Once per accepted recording, after combo() changed to it.
    void comboRecorded(const HotKeyCombo& combo);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void toggle();
    // True when the press was taken by the recorder.
    bool handleKeyPress(const QKeyEvent& event);
    void showTitle();

    TryRegister tryRegister;
    HotKeyCombo current = HotKeyCombo::defaultCombo();
    bool recording = false;
    QPushButton* recorderButton = nullptr;
    QLabel* messageLabel = nullptr;
    // The window whose deactivation ends the recording, while recording.
    QPointer<QWidget> watchedWindow;
};

} // namespace snipjar
