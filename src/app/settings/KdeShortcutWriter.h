#pragma once

#include "paste/HotKeyCombo.h"

#include <QDBusMessage>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace snipjar {

// Adds Snipjar's shortcut to KDE Plasma's global shortcuts the way Plasma's own Shortcuts settings
// add a command: a hidden desktop entry that runs the command, in the user's applications folder,
// which KDE's shortcut service (kglobalaccel, inside KWin on Wayland) takes as a component of its own
// once an action of it is registered over the session bus; the combination is then set on the
// entry's launch action, and the service keeps it in kglobalshortcutsrc for the next sessions. The
// calls are not waited for; done is called once per write, on the main thread, with what went wrong.
class KdeShortcutWriter : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(std::optional<QString> error)>;

    // The desktop entry's file name, which names the component in kglobalaccel.
    static constexpr const char* entryName = "app.snipjar.Snipjar.ShowPanel.desktop";
    static constexpr int callTimeoutMs = 10000;

    using QObject::QObject;

    void write(const HotKeyCombo& combo, const QString& command, Done done);

    // The action the entry runs on: component, action, and their names as Plasma's settings show them.
    static QStringList actionID();
    // Where the entry goes: applications/ under XDG_DATA_HOME.
    static QString entryPath();
    // The combination as Qt (and so kglobalaccel) codes a key: modifiers and key in one number; none
    // for a key Qt has no code for.
    static std::optional<int> qtKeyCode(const HotKeyCombo& combo);

private:
    // One call to the service; next gets its answer, or the write ends with an error.
    void call(const QString& method, const QVariantList& arguments, const std::shared_ptr<Done>& finish,
              std::function<void(const QDBusMessage& reply)> next);
};

} // namespace snipjar
