#pragma once

#include <QObject>
#include <QStringList>

#include <functional>
#include <optional>

class QProcess;

namespace snipjar {

// Writes Snipjar's custom keybinding into GNOME's settings with the desktop's own gsettings tool:
// one entry of its own (entryPath) joins the list of custom keybindings once, the user's other
// entries are kept, and its name, command and accelerator are set. The tool runs without being
// waited for, each step with a time limit; done is called once per write, on the main thread. A
// write asked for while another runs follows it.
class GnomeShortcutWriter : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(std::optional<QString> error)>;

    static constexpr const char* schema = "org.gnome.settings-daemon.plugins.media-keys";
    static constexpr const char* entryPath =
        "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/snipjar/";
    static constexpr int stepTimeoutMs = 10000;

    using QObject::QObject;

    void write(const QString& accelerator, const QString& command, Done done);

    // The text form of a list of strings as gsettings prints it ("@as []", "['/a/', '/b/']"), and
    // back; none when the text is not such a list.
    static std::optional<QStringList> parseList(const QString& text);
    static QString listText(const QStringList& items);
    static QString stringText(const QString& text);

private:
    struct Request {
        QString accelerator;
        QString command;
        Done done;
    };

    void start();
    void run(const QStringList& arguments, std::function<void(const QString& output)> next);
    void finish(std::optional<QString> error);

    std::optional<Request> current;
    std::optional<Request> queued;
};

} // namespace snipjar
