#include "app/tray/StatusItem.h"
#include "app/tray/TrayIconEngine.h"

#include "paste/StoredClipPaster.h"
#include "platform/DesktopNotifier.h"
#include "platform/LogCategories.h"
#include "platform/UserSettings.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QPalette>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

namespace snipjar {

namespace {

QIcon trayIconImage() {
    // Drawn in the text colour of the desktop's palette, as tray icons of other applications are.
    return QIcon(new TrayIconEngine(QApplication::palette().color(QPalette::WindowText)));
}

} // namespace

StatusItem::StatusItem(ClipStore& store, StoredClipPaster& paster, Workspace& workspace,
                       DesktopNotifier& notifier, TrayMenuBuilder::Actions commands, QObject* parent)
    : QObject(parent)
    , store(store)
    , paster(paster)
    , workspace(workspace)
    , notifier(notifier)
    , commands(std::move(commands))
    , trayMenu(std::make_unique<QMenu>())
    , trayIcon(std::make_unique<QSystemTrayIcon>())
    , trayLook(std::make_unique<QTimer>()) {
    trayMenu->setObjectName(QStringLiteral("SnipjarTrayMenu"));
    connect(trayMenu.get(), &QMenu::aboutToShow, this, &StatusItem::aboutToOpen);
    // Closing the menu always returns it to the top level.
    connect(trayMenu.get(), &QMenu::aboutToHide, this, [this] {
        qCDebug(lcApp) << "Tray menu closed";
        computerScope.reset();
    });

    trayIcon->setIcon(trayIconImage());
    trayIcon->setToolTip(QStringLiteral("Snipjar"));
    trayIcon->setContextMenu(trayMenu.get());
    // A left click opens the same menu, as the right click does.
    connect(trayIcon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                qCDebug(lcApp) << "Tray icon activated" << reason;
                if (reason == QSystemTrayIcon::Trigger) {
                    trayMenu->popup(QCursor::pos());
                }
            });
    trayIcon->show();

    trayLook->setInterval(trayLookMilliseconds);
    connect(trayLook.get(), &QTimer::timeout, this, &StatusItem::lookForTrayHost);
    // The first look comes from the event loop, once the owner has set currentState: the notice
    // names the combination in use, not the default one.
    QTimer::singleShot(0, this, &StatusItem::lookForTrayHost);
}

StatusItem::~StatusItem() {
    trayIcon->hide();
}

void StatusItem::setRecordingPaused(bool paused) {
    trayIcon->setToolTip(paused ? QStringLiteral("Snipjar \u2014 recording paused")
                                : QStringLiteral("Snipjar"));
    if (trayMenu->isVisible()) {
        rebuildMenu();
    }
}

bool StatusItem::isEmbedded() const {
    return QSystemTrayIcon::isSystemTrayAvailable() && trayIcon->isVisible();
}

void StatusItem::lookForTrayHost() {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        if (trayLook->isActive()) {
            // Qt docks the icon in a tray host that starts later by itself.
            trayLook->stop();
            qCInfo(lcApp) << "A system tray appeared; the Snipjar icon is in it";
        }
        return;
    }
    if (!toldAboutMissingTray) {
        toldAboutMissingTray = true;
        const TrayMenuBuilder::State state = currentState ? currentState() : TrayMenuBuilder::State{};
        const QString opening =
            state.desktopRunsHotKey
                ? QStringLiteral(
                      "Run “snipjar show-panel” (bind it to a shortcut in your desktop’s settings)")
                : QStringLiteral("Press %1").arg(state.hotKey.linuxDisplayString());
        const QString body =
            QStringLiteral("There is no system tray on this desktop. %1 to open your clipboard "
                           "history; the Snipjar menu appears once a tray is available.")
                .arg(opening);
        qCInfo(lcApp).noquote() << "Snipjar is running." << body;
        notifier.notify(QStringLiteral("Snipjar is running"), body);
    }
    trayLook->start();
}

void StatusItem::aboutToOpen() {
    qCDebug(lcApp) << "Tray menu opened";
    // The window the user was working in: opening the menu never activates this application.
    menuTarget = workspace.frontmostApplication();
    rebuildMenu();
    // As when the panel opens: a look at the menu is a moment the user wants the other computers'
    // clips, so a running sync fetches and sends now.
    if (commands.syncNow && currentState && currentState().syncAvailable) {
        commands.syncNow();
    }
}

void StatusItem::rebuildMenu() {
    TrayMenuBuilder::State state = currentState ? currentState() : TrayMenuBuilder::State{};
    state.computerScope = computerScope;
    TrayMenuBuilder::Actions actions = commands;
    const QPointer<StatusItem> self(this);
    actions.pasteClip = [self](const QUuid& id) {
        if (self) {
            self->paster.paste(id, self->menuTarget);
        }
    };
    actions.drill = [self](const std::optional<QString>& scope) {
        if (self) {
            self->computerScope = scope;
            self->rebuildMenu();
        }
    };
    TrayMenuBuilder::fill(*trayMenu, &store, state, actions);
}

} // namespace snipjar
