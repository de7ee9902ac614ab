#include "app/AppDelegate.h"

#include "capture/ClipboardMonitor.h"
#include "model/ClipStore.h"
#include "panel/widgets/PanelController.h"
#include "paste/HotKey.h"
#include "paste/HotKeyCombo.h"
#include "paste/Paster.h"
#include "platform/AppIdentity.h"
#include "platform/LogCategories.h"
#include "platform/UserSettings.h"
#include "platform/x11/X11Platform.h"

#include <QPointer>

namespace snipjar {

AppDelegate::AppDelegate(X11Platform& platform, QObject* parent)
    : QObject(parent)
    , platform(platform) {}

AppDelegate::~AppDelegate() {
    // The hot key and the monitor call back into the store; they go first.
    hotKey.reset();
    monitor.reset();
    panelController.reset();
    paster.reset();
    clipStore.reset();
}

void AppDelegate::launch() {
    clipStore = std::make_unique<ClipStore>();
    paster = std::make_unique<Paster>(*platform.pasteboard, *platform.workspace, *platform.keySynthesizer,
                                      *platform.desktopNotifier);
    X11Platform* const services = &platform;
    panelController = std::make_unique<PanelController>(*clipStore, *paster, *platform.workspace,
                                                        [services] { return services->isCompositing(); });
    clipStore->registerThisMac();
    // No sync callback is set yet, so deletions made here are not sent anywhere.
    clipStore->enforceLimitsNow();

    monitor = std::make_unique<ClipboardMonitor>(*clipStore, *platform.pasteboard, *platform.workspace);
    monitor->start();

    registerHotKey();

    if (clipStore->didFallBackToMemory()) {
        reportStoreFallback();
    }
}

void AppDelegate::registerHotKey() {
    HotKeyCombo combo = HotKeyCombo::defaultCombo();
    if (const auto stored = UserSettings::hotKey()) {
        combo = HotKeyCombo::parseSetting(*stored).value_or(HotKeyCombo::defaultCombo());
    }
    QPointer<AppDelegate> self(this);
    // The new registration is made before the old one is released, so a replacement by the same
    // combination stays registered.
    auto replacement = std::make_unique<HotKey>(*platform.globalHotKeys, combo, [self] {
        if (self) {
            self->togglePanel();
        }
    });
    if (!replacement->isRegistered()) {
        qCInfo(lcHotKey) << "The hot key" << combo.linuxDisplayString() << "is held by another application";
    }
    hotKey = std::move(replacement);
    // The panel holds the keyboard while it is open, so it sees the combination itself.
    panelController->setHotKey(combo);
}

void AppDelegate::togglePanel() {
    qCInfo(lcApp) << "Panel requested";
    if (panelController) {
        panelController->toggle();
    }
}

void AppDelegate::reportStoreFallback() {
    qCCritical(lcStore).noquote()
        << QStringLiteral(
               "Snipjar can\u2019t save your history. The history store couldn\u2019t be opened, so items "
               "are "
               "kept only in memory and will be lost when Snipjar quits. Check disk space and permissions "
               "for ~/.local/share/%1.")
               .arg(AppIdentity::folderName());
}

} // namespace snipjar
