#pragma once

#include <QDBusConnection>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <functional>

class QObject;

namespace snipjar {

// The desktop portal (xdg-desktop-portal) on the session bus, as its interfaces are called: a
// method that may ask the user answers later, with a Response signal on a request object whose
// path the caller knows in advance from its handle token.
class DesktopPortal {
public:
    static const QString service;
    static const QString path;

    // Asks whether the portal offers the interface (its "version" property), without waiting;
    // answered is called with the version, or 0 when it offers none.
    static void probe(const QDBusConnection& bus, const QString& interface, QObject* context,
                      std::function<void(uint version)> answered);

    // Calls method on the portal's interface with options (its last argument) given a fresh
    // handle token, having first connected the request's Response(uint, QVariantMap) to slot of
    // receiver, as the portal asks. QtDBus connects bus signals by signature only; the slot is
    // checked when it connects. False when it could not listen.
    static bool request(QDBusConnection& bus, const QString& interface, const QString& method,
                        QVariantList arguments, QVariantMap options, QObject* receiver, const char* slot);

    // Ends a session the portal opened.
    static void closeSession(const QDBusConnection& bus, const QString& session);
};

} // namespace snipjar
