#include "app/settings/DesktopShortcut.h"

#include "platform/LaunchAtLogin.h"

#include <QRegularExpression>

namespace snipjar {

DesktopShortcut::Desktop DesktopShortcut::detect(const QProcessEnvironment& environment) {
    const QStringList desktops =
        environment.value(QStringLiteral("XDG_CURRENT_DESKTOP")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& desktop : desktops) {
        if (desktop.compare(QLatin1String("GNOME"), Qt::CaseInsensitive) == 0) {
            return Desktop::gnome;
        }
        if (desktop.compare(QLatin1String("KDE"), Qt::CaseInsensitive) == 0) {
            return Desktop::kde;
        }
        if (desktop.compare(QLatin1String("sway"), Qt::CaseInsensitive) == 0) {
            return Desktop::sway;
        }
    }
    return environment.contains(QStringLiteral("SWAYSOCK")) ? Desktop::sway : Desktop::other;
}

QString DesktopShortcut::shellQuoted(const QString& text) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./+:=@%-]+$"));
    if (plain.match(text).hasMatch()) {
        return text;
    }
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString DesktopShortcut::showPanelCommand() {
    const std::optional<QString> installed = LaunchAtLogin::commandPath();
    // The package's own place needs no path: desktops search /usr/bin.
    const QString program = !installed || *installed == QLatin1String("/usr/bin/snipjar")
                                ? QStringLiteral("snipjar")
                                : shellQuoted(*installed);
    return program + QLatin1String(" show-panel");
}

QString DesktopShortcut::swayLine(const HotKeyCombo& combo, const QString& command) {
    QStringList keys;
    // Super, Ctrl, Alt and Shift as sway names them.
    if (combo.carbonModifiers & HotKeyCombo::controlBit) {
        keys << QStringLiteral("Mod4");
    }
    if (combo.carbonModifiers & HotKeyCombo::commandBit) {
        keys << QStringLiteral("Ctrl");
    }
    if (combo.carbonModifiers & HotKeyCombo::optionBit) {
        keys << QStringLiteral("Mod1");
    }
    if (combo.carbonModifiers & HotKeyCombo::shiftBit) {
        keys << QStringLiteral("Shift");
    }
    keys << combo.keyLabel.toLower();
    return QStringLiteral("bindsym %1 exec %2").arg(keys.join(QLatin1Char('+')), command);
}

QString DesktopShortcut::gnomeAccelerator(const HotKeyCombo& combo) {
    QString accelerator;
    if (combo.carbonModifiers & HotKeyCombo::controlBit) {
        accelerator += QLatin1String("<Super>");
    }
    if (combo.carbonModifiers & HotKeyCombo::commandBit) {
        accelerator += QLatin1String("<Control>");
    }
    if (combo.carbonModifiers & HotKeyCombo::optionBit) {
        accelerator += QLatin1String("<Alt>");
    }
    if (combo.carbonModifiers & HotKeyCombo::shiftBit) {
        accelerator += QLatin1String("<Shift>");
    }
    return accelerator + combo.keyLabel.toLower();
}

} // namespace snipjar
