#include "app/settings/SettingsWindow.h"

#include "app/settings/ClipboardSection.h"
#include "app/settings/EncryptionSection.h"
#include "app/settings/HistorySection.h"
#include "app/settings/SelectedTextSection.h"
#include "app/settings/SettingsEvents.h"
#include "app/settings/SettingsHeader.h"
#include "app/settings/ShortcutSection.h"
#include "app/settings/SyncSection.h"
#include "platform/LaunchAtLogin.h"
#include "store/ClipStore.h"

#include <QCheckBox>
#include <QEvent>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace snipjar {

SettingsWindow::SettingsWindow(ClipStore& store, std::function<bool(const HotKeyCombo&)> tryRegisterHotKey,
                               QWidget* parent)
    : QWidget(parent, Qt::Window)
    , store(store) {
    setWindowTitle(QStringLiteral("Snipjar Settings"));
    resize(contentWidth, contentHeight);

    // The form scrolls only where the screen is shorter than the form.
    scroller = new QScrollArea(this);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setWidgetResizable(true);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroller);
    form = new QWidget(scroller);
    form->setObjectName(QStringLiteral("settingsForm"));
    form->installEventFilter(this);
    auto* layout = new QVBoxLayout(form);
    layout->setContentsMargins(20, 12, 20, 16);
    layout->setSpacing(14);
    header = new SettingsHeader(this);
    layout->addWidget(header);

    auto* login = new SettingsSection(QString(), this);
    loginToggle = new QCheckBox(QStringLiteral("Launch Snipjar at login"), login);
    loginToggle->setObjectName(QStringLiteral("launchAtLogin"));
    login->addRow(loginToggle);
    layout->addWidget(login);

    history = new HistorySection(store, this);
    layout->addWidget(history);
    shortcut = new ShortcutSection(std::move(tryRegisterHotKey), this);
    layout->addWidget(shortcut);
    clipboard = new ClipboardSection(this);
    layout->addWidget(clipboard);
    // Selected text right under the clipboard's own behaviour: both are about what is recorded.
    selectedText = new SelectedTextSection(this);
    layout->addWidget(selectedText);
    sync = new SyncSection(this);
    layout->addWidget(sync);
    encryption = new EncryptionSection(this);
    layout->addWidget(encryption);
    layout->addStretch(1);
    scroller->setWidget(form);

    reload();
    // At least the usual height, and as tall as the form needs where the screen allows it.
    resize(contentWidth, fittingHeight());
    connect(loginToggle, &QCheckBox::toggled, this, &SettingsWindow::launchAtLoginToggled);
    // A task of the encryption section opens a panel: the window grows to hold it (see
    // eventFilter), shows it, and shrinks back to the usual height after.
    connect(encryption, &EncryptionSection::heightChanged, this, [this] {
        QTimer::singleShot(0, this, [this] {
            resize(width(), fittingHeight());
            if (!encryption->flow()->isHidden()) {
                scroller->ensureWidgetVisible(encryption->flow());
            }
        });
    });
}

int SettingsWindow::fittingHeight() const {
    // Wrapped lines count at the window's width, not at the width a label would like.
    QLayout* rows = form->layout();
    const int needed = std::max(form->sizeHint().height(),
                                rows->hasHeightForWidth() ? rows->totalHeightForWidth(width()) : 0);
    // Room for the title bar and the desktop's panels, roughly.
    const QScreen* display = screen();
    const int available = display ? display->availableGeometry().height() - 60 : needed;
    return std::max(contentHeight, std::min(needed, available));
}

bool SettingsWindow::eventFilter(QObject* watched, QEvent* event) {
    // The form was laid out again (a line wrapped anew, a row appeared): the window grows with it
    // rather than hiding a row behind the scroll bar while the screen has room.
    if (watched == form && event->type() == QEvent::LayoutRequest) {
        QTimer::singleShot(0, this, [this] {
            if (height() < fittingHeight()) {
                resize(width(), fittingHeight());
            }
        });
    }
    return QWidget::eventFilter(watched, event);
}

void SettingsWindow::showDesktopShortcut(DesktopShortcut::Desktop desktop) {
    shortcut->showDesktopShortcut(desktop);
    // The new row's wrapped lines count fully once the nested layouts have taken it in.
    QTimer::singleShot(0, this, [this] { resize(width(), std::max(height(), fittingHeight())); });
}

void SettingsWindow::setPlatform(const QString& backend, const QStringList& limits) {
    header->setPlatform(backend, limits);
}

void SettingsWindow::reload() {
    {
        const QSignalBlocker blocker(loginToggle);
        loginToggle->setChecked(LaunchAtLogin::isEnabled());
    }
    history->reload();
    shortcut->reload();
    clipboard->reload();
    sync->reload();
    encryption->reload();
    selectedText->reload();
}

void SettingsWindow::setSyncAccount(SyncAccount* account) {
    sync->setAccount(account);
}

void SettingsWindow::setEncryptionActions(EncryptionActions* actions) {
    encryption->setActions(actions);
}

void SettingsWindow::setSyncStatus(const QString& text) {
    sync->setSyncStatus(text);
}

void SettingsWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The window is kept when closed; what changed meanwhile (by the command line, a hand-edited
    // file, the tray) shows when it opens again.
    reload();
    sync->showSyncedBytes(store.syncedBytes());
}

void SettingsWindow::launchAtLoginToggled(bool enabled) {
    LaunchAtLogin::setEnabled(enabled);
    // A failure is logged by LaunchAtLogin; the toggle shows what the autostart entry now says.
    const bool nowEnabled = LaunchAtLogin::isEnabled();
    if (nowEnabled != enabled) {
        const QSignalBlocker blocker(loginToggle);
        loginToggle->setChecked(nowEnabled);
        return;
    }
    emit SettingsEvents::instance().launchAtLoginChanged();
}

} // namespace snipjar
