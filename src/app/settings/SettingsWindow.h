#pragma once

#include "app/settings/DesktopShortcut.h"
#include "paste/HotKeyCombo.h"

#include <QWidget>

#include <functional>

class QCheckBox;
class QScrollArea;

namespace snipjar {

class SettingsHeader;

class ClipStore;
class ClipboardSection;
class EncryptionActions;
class EncryptionSection;
class HistorySection;
class SelectedTextSection;
class ShortcutSection;
class SyncAccount;
class SyncSection;

// The "Snipjar Settings" window: launch at login, the history limits, the global shortcut, the
// clipboard's behaviour (keeping it, recording selected text) and sync, with the size of the synced
// history and its encryption. Every change is written to UserSettings as it is made and takes effect at once;
// the ones the shell acts on are announced through SettingsEvents. The store must outlive the window.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int contentWidth = 420;
    // The least height; the window is as tall as its form needs when that is more, up to the
    // screen's height, beyond which the form scrolls.
    static constexpr int contentHeight = 700;

    SettingsWindow(ClipStore& store, std::function<bool(const HotKeyCombo&)> tryRegisterHotKey,
                   QWidget* parent = nullptr);

    QCheckBox* launchAtLoginToggle() const { return loginToggle; }
    HistorySection* historySection() const { return history; }
    ShortcutSection* shortcutSection() const { return shortcut; }
    ClipboardSection* clipboardSection() const { return clipboard; }
    SyncSection* syncSection() const { return sync; }
    EncryptionSection* encryptionSection() const { return encryption; }
    SelectedTextSection* selectedTextSection() const { return selectedText; }

    // Where the desktop runs the hot key instead of Snipjar: the shortcut section says how to set
    // it up there, and the window grows to hold it.
    void showDesktopShortcut(DesktopShortcut::Desktop desktop);
    // The platform Snipjar runs on and what this desktop does not let it do (SettingsHeader).
    void setPlatform(const QString& backend, const QStringList& limits);
    // Shows the values the settings and the autostart entry hold now.
    void reload();
    // The account whose device token the sync section keeps in the keyring; without one, signing
    // in is not offered. The account must outlive the window, or be unset first.
    void setSyncAccount(SyncAccount* account);
    // What the encryption section asks of the application; without it, encryption is not offered.
    // The actions must outlive the window, or be unset first.
    void setEncryptionActions(EncryptionActions* actions);
    // How a running sync goes, shown in the sync section; empty hides the line.
    void setSyncStatus(const QString& text);

protected:
    // The values are read again and the synced size measured each time the window is shown, not
    // while it stays open.
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The height the form needs at the window's width, within the usual height and the screen.
    int fittingHeight() const;

    SettingsHeader* header = nullptr;
    void launchAtLoginToggled(bool enabled);

    QScrollArea* scroller = nullptr;
    QWidget* form = nullptr;

    ClipStore& store;
    QCheckBox* loginToggle = nullptr;
    HistorySection* history = nullptr;
    ShortcutSection* shortcut = nullptr;
    ClipboardSection* clipboard = nullptr;
    SyncSection* sync = nullptr;
    EncryptionSection* encryption = nullptr;
    SelectedTextSection* selectedText = nullptr;
};

} // namespace snipjar
