#include "platform/wayland/PortalGlobalHotKeys.h"

#include "platform/LogCategories.h"
#include "platform/wayland/DesktopPortal.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QTimer>

namespace snipjar {

// One shortcut as the portal lists them, (sa{sv}): its id and its properties.
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace snipjar

Q_DECLARE_METATYPE(snipjar::PortalShortcut)

namespace snipjar {

namespace {

const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

// A shortcut's id is its trigger, which stays the same from one start to the next, so that the
// desktop knows it again: "hot-key-CTRL+ALT+v".
QString shortcutId(const QString& trigger) {
    return QStringLiteral("hot-key-") + trigger;
}

} // namespace

PortalGlobalHotKeys::PortalGlobalHotKeys(QDBusConnection bus)
    : bus(std::move(bus)) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    DesktopPortal::probe(this->bus, shortcutsInterface, this, [this](uint version) {
        if (version == 0) {
            qCInfo(lcHotKey) << "The desktop portal offers no global shortcuts";
            return;
        }
        request(QStringLiteral("CreateSession"), {},
                {{QStringLiteral("session_handle_token"), QStringLiteral("snipjar_session")}},
                SLOT(sessionCreated(uint, QVariantMap)));
    });
}

PortalGlobalHotKeys::~PortalGlobalHotKeys() {
    if (grabsKeys()) {
        DesktopPortal::closeSession(bus, session.path());
    }
}

QString PortalGlobalHotKeys::trigger(const QString& keyLabel, quint32 modifierBits) {
    QStringList parts;
    for (const auto& [bit, name] : {std::pair{commandBit, "CTRL"}, std::pair{optionBit, "ALT"},
                                    std::pair{shiftBit, "SHIFT"}, std::pair{controlBit, "LOGO"}}) {
        if (modifierBits & bit) {
            parts << QString::fromLatin1(name);
        }
    }
    parts << keyLabel.toLower();
    return parts.join(QLatin1Char('+'));
}

void PortalGlobalHotKeys::request(const QString& method, const QVariantList& arguments,
                                  const QVariantMap& options, const char* slot) {
    if (!DesktopPortal::request(bus, shortcutsInterface, method, arguments, options, this, slot)) {
        qCWarning(lcHotKey) << "Cannot listen to the desktop portal's answers";
    }
}

void PortalGlobalHotKeys::sessionCreated(uint response, const QVariantMap& results) {
    const QString handle = results.value(QStringLiteral("session_handle")).toString();
    if (response != 0 || handle.isEmpty()) {
        qCInfo(lcHotKey) << "The desktop portal opened no shortcut session; answer" << response;
        return;
    }
    session = QDBusObjectPath(handle);
    bus.connect(DesktopPortal::service, DesktopPortal::path, shortcutsInterface, QStringLiteral("Activated"),
                this, SLOT(activated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    qCInfo(lcHotKey) << "Global shortcuts come from the desktop portal";
    if (onGrabsKeysChanged) {
        onGrabsKeysChanged();
    }
    bindLater();
}

std::optional<int> PortalGlobalHotKeys::grab(const QString& keyLabel, quint32 modifierBits,
                                             std::function<void()> onPress) {
    if (!grabsKeys()) {
        return std::nullopt;
    }
    const int registration = nextRegistration++;
    bindings[registration] = {trigger(keyLabel, modifierBits), std::move(onPress)};
    bindLater();
    return registration;
}

void PortalGlobalHotKeys::ungrab(int registration) {
    bindings.erase(registration);
}

void PortalGlobalHotKeys::bindLater() {
    // A grab that is let go at once (a probe of whether a combination is free) never reaches the
    // portal, whose answer may be a dialog for the user.
    if (bindScheduled) {
        return;
    }
    bindScheduled = true;
    QTimer::singleShot(0, this, [this] {
        bindScheduled = false;
        QStringList triggers;
        for (const auto& [registration, binding] : bindings) {
            triggers << binding.trigger;
        }
        triggers.sort();
        triggers.removeDuplicates();
        // The same shortcuts again (a combination probed and let go) are not asked for again.
        if (!grabsKeys() || triggers.isEmpty() || triggers == boundTriggers) {
            return;
        }
        boundTriggers = triggers;
        QList<PortalShortcut> shortcuts;
        for (const QString& trigger : std::as_const(triggers)) {
            shortcuts.append({shortcutId(trigger),
                              {{QStringLiteral("description"), tr("Open the Snipjar panel")},
                               {QStringLiteral("preferred_trigger"), trigger}}});
        }
        request(QStringLiteral("BindShortcuts"),
                {QVariant::fromValue(session), QVariant::fromValue(shortcuts), QString()}, {},
                SLOT(bound(uint, QVariantMap)));
    });
}

void PortalGlobalHotKeys::bound(uint response, const QVariantMap& results) {
    if (response != 0) {
        qCInfo(lcHotKey) << "The shortcut was not given by the desktop; answer" << response;
        return;
    }
    const auto shortcuts =
        qdbus_cast<QList<PortalShortcut>>(results.value(QStringLiteral("shortcuts")).value<QDBusArgument>());
    for (const PortalShortcut& shortcut : shortcuts) {
        qCInfo(lcHotKey).noquote()
            << "The desktop runs" << shortcut.id << "on"
            << shortcut.properties.value(QStringLiteral("trigger_description")).toString();
    }
}

void PortalGlobalHotKeys::activated(const QDBusObjectPath& from, const QString& shortcut, qulonglong,
                                    const QVariantMap&) {
    if (from != session) {
        return;
    }
    // The newest registration of the combination: an older one is being replaced by it.
    for (auto binding = bindings.rbegin(); binding != bindings.rend(); ++binding) {
        if (shortcutId(binding->second.trigger) == shortcut) {
            // The callback may let go of its registration.
            const std::function<void()> onPress = binding->second.onPress;
            onPress();
            return;
        }
    }
}

} // namespace snipjar
