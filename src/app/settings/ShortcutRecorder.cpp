#include "app/settings/ShortcutRecorder.h"

#include "platform/KeyPosition.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace snipjar {

namespace {

constexpr int minimumButtonWidth = 120;

} // namespace

ShortcutRecorder::ShortcutRecorder(TryRegister tryRegister, QWidget* parent)
    : QWidget(parent)
    , tryRegister(std::move(tryRegister)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    recorderButton = new QPushButton(this);
    recorderButton->setObjectName(QStringLiteral("recorderButton"));
    recorderButton->setMinimumWidth(minimumButtonWidth);
    recorderButton->setFocusPolicy(Qt::StrongFocus);
    recorderButton->installEventFilter(this);
    layout->addWidget(recorderButton, 0, Qt::AlignRight);

    messageLabel = new QLabel(this);
    messageLabel->setObjectName(QStringLiteral("recorderMessage"));
    messageLabel->setAlignment(Qt::AlignRight);
    messageLabel->setForegroundRole(QPalette::PlaceholderText);
    messageLabel->hide();
    layout->addWidget(messageLabel);

    connect(recorderButton, &QPushButton::clicked, this, &ShortcutRecorder::toggle);
    showTitle();
}

ShortcutRecorder::~ShortcutRecorder() {
    if (recording) {
        recorderButton->releaseKeyboard();
    }
}

QString ShortcutRecorder::recordingTitle() {
    return QStringLiteral("Type shortcut…");
}

void ShortcutRecorder::setCombo(const HotKeyCombo& combo) {
    if (recording) {
        return;
    }
    current = combo;
    showTitle();
}

QString ShortcutRecorder::title() const {
    return recorderButton->text();
}

QString ShortcutRecorder::message() const {
    return messageLabel->text();
}

void ShortcutRecorder::toggle() {
    if (recording) {
        stopRecording();
    } else {
        startRecording();
    }
}

void ShortcutRecorder::startRecording() {
    if (recording) {
        return;
    }
    recording = true;
    messageLabel->clear();
    messageLabel->hide();
    recorderButton->setText(recordingTitle());
    recorderButton->setFocus(Qt::OtherFocusReason);
    recorderButton->grabKeyboard();
    // The grab would keep taking keys after the user moved to another program; that ends it.
    watchedWindow = window();
    watchedWindow->installEventFilter(this);
}

void ShortcutRecorder::stopRecording() {
    if (!recording) {
        return;
    }
    recording = false;
    recorderButton->releaseKeyboard();
    if (watchedWindow) {
        watchedWindow->removeEventFilter(this);
        watchedWindow = nullptr;
    }
    showTitle();
}

void ShortcutRecorder::showTitle() {
    recorderButton->setText(recording ? recordingTitle() : current.linuxDisplayString());
}

bool ShortcutRecorder::eventFilter(QObject* watched, QEvent* event) {
    if (recording && watched == watchedWindow && event->type() == QEvent::WindowDeactivate) {
        stopRecording();
        return QWidget::eventFilter(watched, event);
    }
    if (watched != recorderButton || !recording) {
        return QWidget::eventFilter(watched, event);
    }
    switch (event->type()) {
    case QEvent::KeyPress:
        return handleKeyPress(static_cast<const QKeyEvent&>(*event));
    case QEvent::KeyRelease:
        // The release of a key pressed while recording must not click the button (Space).
        return true;
    case QEvent::FocusOut:
    case QEvent::Hide:
        // The user went elsewhere: the keys are theirs again.
        stopRecording();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

bool ShortcutRecorder::handleKeyPress(const QKeyEvent& event) {
    if (event.key() == Qt::Key_Escape) {
        stopRecording();
        return true;
    }
    // The key by its place where the layout types no Latin letter or digit there (AZERTY's digit
    // row, a Cyrillic layout), as the grab and the panel read it.
    const std::optional<HotKeyCombo> pressed = HotKeyCombo::fromKeyPress(
        KeyPosition::shortcutKey(event.key(), event.nativeScanCode()), event.modifiers());
    if (!pressed) {
        // A lone letter, a lone modifier or a key outside the table: keep waiting.
        return true;
    }
    if (const std::optional<QString> refusal = pressed->refusal()) {
        // Shift+A or Ctrl+V: say why, and keep waiting for another.
        messageLabel->setText(*refusal);
        messageLabel->show();
        return true;
    }
    // The combination held now is ours already, so only a different one needs asking about.
    if (*pressed != current && tryRegister && !tryRegister(*pressed)) {
        messageLabel->setText(
            QStringLiteral("%1 is taken by another program.").arg(pressed->linuxDisplayString()));
        messageLabel->show();
        stopRecording();
        return true;
    }
    current = *pressed;
    stopRecording();
    emit comboRecorded(current);
    return true;
}

} // namespace snipjar
