// A desktop portal with the GlobalShortcuts and RemoteDesktop interfaces, for the tests (Debian 12's
// has no global shortcuts, and its remote keyboard asks in a dialog); every request is granted a
// moment later. Prints "ready" once on the bus, "bound ID TRIGGER" for each shortcut (bound to its
// preferred trigger), "keyboard TYPES PERSIST RESTORE-TOKEN" when a keyboard is asked for (its
// token is "granted-N") and "key KEYSYM STATE" (hex keysym) per key typed; "press ID" on its
// standard input reports a press of that shortcut.
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QSocketNotifier>

#include <cstdio>

#include <unistd.h>

struct Shortcut {
    QString id;
    QVariantMap properties;
};
Q_DECLARE_METATYPE(Shortcut)

QDBusArgument& operator<<(QDBusArgument& argument, const Shortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Shortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

void say(const QString& line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// The portal's object; its adaptors are its interfaces. Calls to them come with its context.
class Portal : public QObject, public QDBusContext {
    Q_OBJECT
public:
    QString shortcutSession;
    int grants = 0;

    // The caller's part of request and session paths.
    static QString caller(const QDBusMessage& call) {
        return call.service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    }
    static QString sessionFor(const QDBusMessage& call, const QVariantMap& options) {
        return QStringLiteral("/org/freedesktop/portal/desktop/session/") + caller(call) + QLatin1Char('/') +
               options.value(QStringLiteral("session_handle_token")).toString();
    }
    // The request's path, and its granted response a moment later, as a portal answers after a dialog.
    QDBusObjectPath respond(const QDBusMessage& call, const QVariantMap& options,
                            const QVariantMap& results) {
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/") + caller(call) +
                             QLatin1Char('/') + options.value(QStringLiteral("handle_token")).toString();
        QMetaObject::invokeMethod(
            this,
            [path, results] {
                QDBusMessage response = QDBusMessage::createSignal(
                    path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
                response << 0U << results;
                QDBusConnection::sessionBus().send(response);
            },
            Qt::QueuedConnection);
        return QDBusObjectPath(path);
    }
};

class GlobalShortcuts : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)
public:
    explicit GlobalShortcuts(Portal* portal)
        : QDBusAbstractAdaptor(portal)
        , portal(portal) {}
    uint version() const { return 1; }

public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options) {
        portal->shortcutSession = Portal::sessionFor(portal->message(), options);
        return portal->respond(portal->message(), options,
                               {{QStringLiteral("session_handle"), portal->shortcutSession}});
    }
    QDBusObjectPath BindShortcuts(const QDBusObjectPath&, const QList<Shortcut>& shortcuts, const QString&,
                                  const QVariantMap& options) {
        QList<Shortcut> bound;
        for (const Shortcut& shortcut : shortcuts) {
            const QString trigger = shortcut.properties.value(QStringLiteral("preferred_trigger")).toString();
            say(QStringLiteral("bound %1 %2").arg(shortcut.id, trigger));
            bound.append({shortcut.id, {{QStringLiteral("trigger_description"), trigger}}});
        }
        return portal->respond(portal->message(), options,
                               {{QStringLiteral("shortcuts"), QVariant::fromValue(bound)}});
    }

private:
    Portal* portal;
};

class RemoteDesktop : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.RemoteDesktop")
    Q_PROPERTY(uint version READ version)
public:
    explicit RemoteDesktop(Portal* portal)
        : QDBusAbstractAdaptor(portal)
        , portal(portal) {}
    uint version() const { return 2; }

public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options) {
        return portal->respond(
            portal->message(), options,
            {{QStringLiteral("session_handle"), Portal::sessionFor(portal->message(), options)}});
    }
    QDBusObjectPath SelectDevices(const QDBusObjectPath&, const QVariantMap& options) {
        say(QStringLiteral("keyboard %1 %2 %3")
                .arg(options.value(QStringLiteral("types")).toUInt())
                .arg(options.value(QStringLiteral("persist_mode")).toUInt())
                .arg(options.value(QStringLiteral("restore_token"), QStringLiteral("-")).toString()));
        return portal->respond(portal->message(), options, {});
    }
    QDBusObjectPath Start(const QDBusObjectPath&, const QString&, const QVariantMap& options) {
        return portal->respond(
            portal->message(), options,
            {{QStringLiteral("devices"), 1U},
             {QStringLiteral("restore_token"), QStringLiteral("granted-%1").arg(++portal->grants)}});
    }
    void NotifyKeyboardKeysym(const QDBusObjectPath&, const QVariantMap&, int keysym, uint state) {
        say(QStringLiteral("key %1 %2").arg(keysym, 0, 16).arg(state));
    }

private:
    Portal* portal;
};

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
    Portal portal;
    new GlobalShortcuts(&portal);
    new RemoteDesktop(&portal);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                            QDBusConnection::ExportAdaptors) ||
        !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"))) {
        return 1;
    }
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &portal, [&portal] {
        char line[256] = {};
        if (!std::fgets(line, sizeof line, stdin)) {
            QCoreApplication::quit();
            return;
        }
        const QString text = QString::fromLatin1(line).trimmed();
        if (text.startsWith(QLatin1String("press "))) {
            QDBusMessage activated = QDBusMessage::createSignal(
                QStringLiteral("/org/freedesktop/portal/desktop"),
                QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), QStringLiteral("Activated"));
            activated << QVariant::fromValue(QDBusObjectPath(portal.shortcutSession)) << text.mid(6)
                      << qulonglong(0) << QVariantMap();
            QDBusConnection::sessionBus().send(activated);
        }
    });
    say(QStringLiteral("ready"));
    return application.exec();
}

#include "FakeDesktopPortal.moc"
