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

    auto* layout = new QVBoxLayout(this);
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

    reload();
    // At least the usual height, and never less than the form needs, so no row is squeezed.
    resize(contentWidth, std::max(contentHeight, sizeHint().height()));
    connect(loginToggle, &QCheckBox::toggled, this, &SettingsWindow::launchAtLoginToggled);
    // A task of the encryption section opens a panel; the window grows to hold it (see event) and
    // shrinks back to the usual height after, once the layouts have taken the change in.
    connect(encryption, &EncryptionSection::heightChanged, this, [this] {
        QTimer::singleShot(0, this, [this] { resize(width(), std::max(contentHeight, neededHeight())); });
    });
}

int SettingsWindow::neededHeight() const {
    // Wrapped lines count at the window's width, not at the width a label would like.
    return std::max(sizeHint().height(),
                    layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width()) : 0);
}

bool SettingsWindow::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    // The top layout was laid out again (a line wrapped anew, a row appeared): a window never
    // squeezes its form, since nothing here scrolls.
    if (event->type() == QEvent::LayoutRequest && height() < neededHeight()) {
        resize(width(), neededHeight());
    }
    return handled;
}

void SettingsWindow::showDesktopShortcut(DesktopShortcut::Desktop desktop) {
    shortcut->showDesktopShortcut(desktop);
    // The new row's wrapped lines count fully once the nested layouts have taken it in.
    QTimer::singleShot(0, this, [this] { resize(width(), std::max(height(), sizeHint().height())); });
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
