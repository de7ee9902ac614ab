#pragma once

#include "app/settings/DesktopShortcut.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace snipjar {

class GnomeShortcutWriter;
class KdeShortcutWriter;

// Under the shortcut recorder where the desktop, not Snipjar, runs the hot key: what sets it up on
// the desktop in use. sway: the configuration line with a Copy button. GNOME and KDE: a button that
// adds the shortcut to the desktop's own (and a recorded combination is written there at once).
// Others: the command to bind in the desktop's keyboard settings, with a Copy button.
class DesktopShortcutRow : public QWidget {
    Q_OBJECT
public:
    DesktopShortcutRow(DesktopShortcut::Desktop desktop, QWidget* parent = nullptr);

    // The combination the line names; on GNOME and KDE, one recorded after the shortcut was added
    // there is written there too.
    void setCombo(const HotKeyCombo& combo, bool recorded);

    QLabel* note() const { return noteLabel; }
    QLineEdit* line() const { return lineEdit; }
    QPushButton* actionButton() const { return button; }
    QLabel* status() const { return statusLabel; }

private:
    void act();
    void addToDesktop();

    DesktopShortcut::Desktop desktop;
    HotKeyCombo combo = HotKeyCombo::defaultCombo();
    bool addedToDesktop = false;
    QLabel* noteLabel = nullptr;
    QLineEdit* lineEdit = nullptr;
    QPushButton* button = nullptr;
    QLabel* statusLabel = nullptr;
    GnomeShortcutWriter* gnome = nullptr;
    KdeShortcutWriter* kde = nullptr;
};

} // namespace snipjar
