#pragma once

#include <QObject>

namespace snipjar {

// The announcements of the settings window, for the application shell: one process-wide object,
// one signal per change that others must act on. Each is emitted after the new value was written
// to UserSettings, on the main thread, and observers run synchronously.
class SettingsEvents : public QObject {
    Q_OBJECT
public:
    static SettingsEvents& instance();

signals:
    // "hotKey" holds a newly recorded combination; the global hot key is to be registered again.
    void hotKeyChanged();
    // "syncEnabled" was switched; syncing is to start or stop.
    void syncEnabledChanged();
    // "syncServer" was changed, or the server's password was stored in or removed from the
    // keyring; a running sync is to start again with the new account.
    void syncAccountChanged();
    // "keepClipboardWhenOwnerQuits" was switched.
    void keepClipboardChanged();
    // The autostart entry was written or removed.
    void launchAtLoginChanged();
    // "historyLength" or "retentionDays" changed and the store has applied them.
    void limitsChanged();
    // "recordSelectedText" was switched; recording of the selected text is to start or stop.
    void recordSelectedTextChanged();

private:
    SettingsEvents() = default;
};

} // namespace snipjar
