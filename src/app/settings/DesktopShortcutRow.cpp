#include "app/settings/DesktopShortcutRow.h"

#include "app/settings/GnomeShortcutWriter.h"
#include "app/settings/KdeShortcutWriter.h"
#include "app/settings/SettingsSection.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace snipjar {

namespace {

QString noteFor(DesktopShortcut::Desktop desktop) {
    switch (desktop) {
    case DesktopShortcut::Desktop::sway:
        return QStringLiteral("This desktop runs the shortcut for Snipjar. Add this line to your sway "
                              "configuration (~/.config/sway/config), then reload sway:");
    case DesktopShortcut::Desktop::gnome:
        return QStringLiteral("This desktop runs the shortcut for Snipjar, as one of GNOME's custom "
                              "keyboard shortcuts.");
    case DesktopShortcut::Desktop::kde:
        return QStringLiteral("This desktop runs the shortcut for Snipjar, as one of KDE's shortcuts "
                              "(System Settings, Shortcuts).");
    case DesktopShortcut::Desktop::other:
        break;
    }
    return QStringLiteral("This desktop runs the shortcut for Snipjar. In its keyboard settings, add a "
                          "shortcut that runs:");
}

} // namespace

DesktopShortcutRow::DesktopShortcutRow(DesktopShortcut::Desktop desktop, QWidget* parent)
    : QWidget(parent)
    , desktop(desktop) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    noteLabel = new QLabel(noteFor(desktop), this);
    noteLabel->setWordWrap(true);
    SettingsSection::makeSecondary(*noteLabel, false);
    layout->addWidget(noteLabel);

    auto* actionRow = new QHBoxLayout;
    const bool gnomeDesktop = desktop == DesktopShortcut::Desktop::gnome;
    const bool kdeDesktop = desktop == DesktopShortcut::Desktop::kde;
    if (!gnomeDesktop && !kdeDesktop) {
        lineEdit = new QLineEdit(this);
        lineEdit->setObjectName(QStringLiteral("desktopShortcutLine"));
        lineEdit->setReadOnly(true);
        actionRow->addWidget(lineEdit, 1);
    }
    button = new QPushButton(gnomeDesktop ? QStringLiteral("Add to GNOME Shortcuts")
                             : kdeDesktop ? QStringLiteral("Add to KDE Shortcuts")
                                          : QStringLiteral("Copy"),
                             this);
    button->setObjectName(QStringLiteral("desktopShortcutAction"));
    actionRow->addWidget(button, 0, lineEdit ? Qt::Alignment() : Qt::AlignLeft);
    layout->addLayout(actionRow);

    statusLabel = new QLabel(this);
    statusLabel->setWordWrap(true);
    SettingsSection::makeSecondary(*statusLabel, true);
    statusLabel->hide();
    layout->addWidget(statusLabel);

    if (gnomeDesktop) {
        gnome = new GnomeShortcutWriter(this);
    } else if (kdeDesktop) {
        kde = new KdeShortcutWriter(this);
    }
    connect(button, &QPushButton::clicked, this, &DesktopShortcutRow::act);
    setCombo(combo, false);
}

void DesktopShortcutRow::setCombo(const HotKeyCombo& newCombo, bool recorded) {
    combo = newCombo;
    if (lineEdit) {
        const QString command = DesktopShortcut::showPanelCommand();
        lineEdit->setText(
            desktop == DesktopShortcut::Desktop::sway ? DesktopShortcut::swayLine(combo, command) : command);
        lineEdit->setCursorPosition(0);
        if (desktop != DesktopShortcut::Desktop::sway) {
            lineEdit->setToolTip(QStringLiteral("Bind it to %1").arg(combo.linuxDisplayString()));
        }
    }
    if (recorded && addedToDesktop) {
        addToDesktop();
    }
}

void DesktopShortcutRow::act() {
    if (gnome || kde) {
        addToDesktop();
        return;
    }
    QGuiApplication::clipboard()->setText(lineEdit->text());
    statusLabel->setText(QStringLiteral("Copied."));
    statusLabel->show();
}

void DesktopShortcutRow::addToDesktop() {
    button->setEnabled(false);
    statusLabel->setText(QStringLiteral("Adding…"));
    statusLabel->show();
    const QString keys = combo.linuxDisplayString();
    QPointer<DesktopShortcutRow> self(this);
    auto done = [self, keys](std::optional<QString> error) {
        if (!self) {
            return;
        }
        self->button->setEnabled(true);
        if (error) {
            self->statusLabel->setText(*error + QLatin1Char('.'));
            return;
        }
        self->addedToDesktop = true;
        self->statusLabel->setText(QStringLiteral("Added: %1 opens Snipjar.").arg(keys));
    };
    if (gnome) {
        gnome->write(DesktopShortcut::gnomeAccelerator(combo), DesktopShortcut::showPanelCommand(), done);
    } else {
        kde->write(combo, DesktopShortcut::showPanelCommand(), done);
    }
}

} // namespace snipjar
