#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <optional>
#include <utility>

namespace snipjar {

// The user defaults of the whole application, in one QSettings file under the config folder
// ($XDG_CONFIG_HOME/Snipjar/Snipjar.conf). Every read opens the file anew, so a value written by
// the settings window, by another process or by a test is seen at the next read, on any thread.
class UserSettings {
public:
    // Keys, exactly as stored.
    static constexpr const char* historyLengthKey = "historyLength";
    static constexpr const char* retentionDaysKey = "retentionDays";
    static constexpr const char* maxStoreBytesKey = "maxStoreBytes";
    static constexpr const char* syncEnabledKey = "syncEnabled";
    static constexpr const char* keepClipboardKey = "keepClipboardWhenOwnerQuits";
    static constexpr const char* hotKeyKey = "hotKey";
    static constexpr const char* didOnboardKey = "didOnboard";
    static constexpr const char* didConfigureLoginItemKey = "didConfigureLoginItem";
    static constexpr const char* menuClipLimitKey = "menuClipLimit";
    static constexpr const char* maxCaptureRepBytesKey = "maxCaptureRepBytes";
    static constexpr const char* updateFeedURLKey = "updateFeedURL";
    static constexpr const char* updatePublicKeyKey = "updatePublicKey";
    static constexpr const char* lastUpdateCheckKey = "lastUpdateCheck";
    // The group of the user's paste keystrokes per window class (pasteKeys/XTerm=Ctrl+Shift+V).
    static constexpr const char* pasteKeysGroup = "pasteKeys";
    static constexpr const char* recordSelectedTextKey = "recordSelectedText";
    static constexpr const char* syncServerKey = "syncServer";
    // The desktop portal's token for typing again without asking the user (RemoteDesktop).
    static constexpr const char* remoteDesktopRestoreTokenKey = "remoteDesktopRestoreToken";

    static QString filePath();

    // Most unpinned items of this computer kept: 1 to 1000, else 100.
    static int historyLength();
    // Age in days after which unpinned items are removed: greater than 0, else 7.
    static int retentionDays();
    // Byte budget for the items of this computer in one store: greater than 0, else 500,000,000.
    static qint64 maxStoreBytes();
    // Absent means on.
    static bool syncEnabled();
    // Whether the clipboard is kept when the program that copied quits. Absent means on.
    static bool keepClipboard();
    // The combination as written: the stored symbol form (⌥⌘V), or the Linux form (Ctrl+Alt+V) of
    // a file edited by hand. HotKeyCombo::parseSetting() reads both.
    static std::optional<QString> hotKey();
    static bool didOnboard();
    // Absent (never configured) is distinguished from false.
    static std::optional<bool> didConfigureLoginItem();
    // Clips shown in the menu: 1 to 30, else 15.
    static int menuClipLimit();
    // Largest image representation read at all: greater than 0, else 300,000,000.
    static qint64 maxCaptureRepBytes();
    // Whether the text selected with the mouse is recorded too. Absent means off.
    static bool recordSelectedText();
    // The sync server's address (https://sync.example.org), as written, without surrounding white
    // space; none when absent or blank. SyncAccount checks it.
    static std::optional<QString> syncServer();

    // Override of the update feed's address built in: an absolute http or https address with a
    // host, else not set.
    static std::optional<QUrl> updateFeedURL();
    // Override of the feed's Ed25519 public key built in: 32 bytes written in base64 or hex, else
    // not set.
    static std::optional<QByteArray> updatePublicKey();
    // When the last update check got an answer from the feed (UTC, ISO 8601 as stored).
    static std::optional<QDateTime> lastUpdateCheck();
    static void setLastUpdateCheck(const QDateTime& time);

    static std::optional<QVariant> value(const QString& key);
    // Every key of a group ("pasteKeys/XTerm" gives "XTerm"), as stored, with its value.
    static QList<std::pair<QString, QVariant>> valuesIn(const QString& group);
    static void setValue(const QString& key, const QVariant& value);
    static void remove(const QString& key);
};

} // namespace snipjar
