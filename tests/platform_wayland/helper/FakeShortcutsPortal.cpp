// A desktop portal that offers global shortcuts the way the GlobalShortcuts interface describes
// them, for the hot-key tests: Debian 12's portal has no such interface. It opens sessions, binds
// every shortcut asked for to its preferred trigger (printing "bound ID TRIGGER"), and reports a
// press of a shortcut named on its standard input ("press ID"). Prints "ready" once on the bus.
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

class Portal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)
public:
    uint version() const { return 1; }
    QString session;

public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options) {
        session = QStringLiteral("/org/freedesktop/portal/desktop/session/") + sender() + QLatin1Char('/') +
                  options.value(QStringLiteral("session_handle_token")).toString();
        return respond(options, {{QStringLiteral("session_handle"), session}});
    }
    QDBusObjectPath BindShortcuts(const QDBusObjectPath&, const QList<Shortcut>& shortcuts, const QString&,
                                  const QVariantMap& options) {
        QList<Shortcut> bound;
        for (Shortcut shortcut : shortcuts) {
            const QString trigger = shortcut.properties.value(QStringLiteral("preferred_trigger")).toString();
            std::printf("bound %s %s\n", qPrintable(shortcut.id), qPrintable(trigger));
            std::fflush(stdout);
            bound.append({shortcut.id, {{QStringLiteral("trigger_description"), trigger}}});
        }
        return respond(options, {{QStringLiteral("shortcuts"), QVariant::fromValue(bound)}});
    }

private:
    QString sender() const {
        QString name = message().service().mid(1);
        name.replace(QLatin1Char('.'), QLatin1Char('_'));
        return name;
    }
    // The request's path, and its response a moment later, as the portal answers after a dialog.
    QDBusObjectPath respond(const QVariantMap& options, const QVariantMap& results) {
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/") + sender() +
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

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
    Portal portal;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) ||
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
            activated << QVariant::fromValue(QDBusObjectPath(portal.session)) << text.mid(6) << qulonglong(0)
                      << QVariantMap();
            QDBusConnection::sessionBus().send(activated);
        }
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return application.exec();
}

#include "FakeShortcutsPortal.moc"
