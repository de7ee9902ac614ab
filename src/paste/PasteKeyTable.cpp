#include "paste/PasteKeyTable.h"

#include "platform/LogCategories.h"
#include "platform/UserSettings.h"

#include <QHash>
#include <QStringList>

namespace snipjar {

namespace {

// Lower-case WM_CLASS names (class and instance names both) whose paste is not Ctrl+V.
const QHash<QString, PasteKeystroke>& builtInTable() {
    static const QHash<QString, PasteKeystroke> table = [] {
        QHash<QString, PasteKeystroke> entries;
        for (const char* name : {"gnome-terminal",
                                 "gnome-terminal-server",
                                 "org.gnome.terminal",
                                 "org.gnome.console",
                                 "kgx",
                                 "org.gnome.ptyxis",
                                 "konsole",
                                 "org.kde.konsole",
                                 "yakuake",
                                 "kitty",
                                 "alacritty",
                                 "foot",
                                 "footclient",
                                 "st",
                                 "st-256color",
                                 "terminator",
                                 "tilix",
                                 "com.gexperts.tilix",
                                 "xfce4-terminal",
                                 "wezterm",
                                 "org.wezfurlong.wezterm",
                                 "termite",
                                 "lxterminal",
                                 "mate-terminal",
                                 "qterminal",
                                 "terminology",
                                 "sakura",
                                 "guake",
                                 "tilda",
                                 "roxterm",
                                 "cool-retro-term",
                                 "deepin-terminal",
                                 "ghostty",
                                 "com.mitchellh.ghostty",
                                 "contour",
                                 "hyper",
                                 "tabby"}) {
            entries.insert(QString::fromLatin1(name), PasteKeystroke::controlShiftV);
        }
        // Shift+Insert pastes the primary selection here, and nothing pastes the clipboard.
        for (const char* name : {"xterm", "uxterm", "koi8rxterm", "lxterm", "urxvt", "urxvtc", "urxvtd",
                                 "rxvt", "rxvt-unicode", "aterm", "eterm", "mrxvt"}) {
            entries.insert(QString::fromLatin1(name), PasteKeystroke::shiftInsert);
        }
        return entries;
    }();
    return table;
}

} // namespace

PasteKeystroke PasteKeyTable::defaultKeystrokeFor(const QString& windowClass) {
    return builtInTable().value(windowClass.toLower(), PasteKeystroke::controlV);
}

std::optional<PasteKeystroke> PasteKeyTable::userKeystrokeFor(const QString& name) {
    if (name.isEmpty()) {
        return std::nullopt;
    }
    const QString wanted = name.toLower();
    for (const auto& [key, value] :
         UserSettings::valuesIn(QString::fromLatin1(UserSettings::pasteKeysGroup))) {
        if (key.toLower() != wanted) {
            continue;
        }
        if (std::optional<PasteKeystroke> keystroke = parse(value.toString())) {
            return keystroke;
        }
        qCWarning(lcPaste) << "Ignoring the paste keystroke" << value.toString() << "set for" << key
                           << "(use Ctrl+V, Ctrl+Shift+V or Shift+Insert)";
    }
    return std::nullopt;
}

PasteKeystroke PasteKeyTable::keystrokeFor(const QString& windowClass, const QString& instanceName) {
    // The user's entries come first, then the built-in ones; the class before the instance name.
    if (std::optional<PasteKeystroke> keystroke = userKeystrokeFor(windowClass)) {
        return *keystroke;
    }
    if (std::optional<PasteKeystroke> keystroke = userKeystrokeFor(instanceName)) {
        return *keystroke;
    }
    const PasteKeystroke byClass = defaultKeystrokeFor(windowClass);
    return byClass != PasteKeystroke::controlV ? byClass : defaultKeystrokeFor(instanceName);
}

std::optional<PasteKeystroke> PasteKeyTable::parse(const QString& text) {
    QStringList parts = text.toLower().split(QLatin1Char('+'));
    for (QString& part : parts) {
        part = part.trimmed();
    }
    const bool control =
        parts.removeAll(QStringLiteral("ctrl")) + parts.removeAll(QStringLiteral("control")) == 1;
    const bool shift = parts.removeAll(QStringLiteral("shift")) == 1;
    if (parts.size() != 1) {
        return std::nullopt;
    }
    const QString& key = parts.first();
    if (key == QLatin1String("v") && control) {
        return shift ? PasteKeystroke::controlShiftV : PasteKeystroke::controlV;
    }
    if ((key == QLatin1String("insert") || key == QLatin1String("ins")) && shift && !control) {
        return PasteKeystroke::shiftInsert;
    }
    return std::nullopt;
}

QString PasteKeyTable::text(PasteKeystroke keystroke) {
    switch (keystroke) {
    case PasteKeystroke::controlV:
        return QStringLiteral("Ctrl+V");
    case PasteKeystroke::controlShiftV:
        return QStringLiteral("Ctrl+Shift+V");
    case PasteKeystroke::shiftInsert:
        return QStringLiteral("Shift+Insert");
    }
    return {};
}

} // namespace snipjar
