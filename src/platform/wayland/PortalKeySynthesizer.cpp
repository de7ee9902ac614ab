#include "platform/wayland/PortalKeySynthesizer.h"

#include "platform/LogCategories.h"
#include "platform/UserSettings.h"
#include "platform/wayland/DesktopPortal.h"

#include <QDBusMessage>
#include <QDBusObjectPath>

namespace snipjar {

namespace {

const QString remoteDesktopInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");

// The portal's device types and how long its consent lasts.
constexpr uint keyboardDevice = 1;
constexpr uint persistUntilRevoked = 2;

// X keysyms, which the portal takes for keys.
constexpr int controlKeysym = 0xffe3;
constexpr int shiftKeysym = 0xffe1;
constexpr int vKeysym = 0x76;
constexpr int insertKeysym = 0xff63;

} // namespace

PortalKeySynthesizer::PortalKeySynthesizer(QDBusConnection bus)
    : bus(std::move(bus)) {
    DesktopPortal::probe(this->bus, remoteDesktopInterface, this, [this](uint version) {
        offered = version > 0;
        qCInfo(lcPaste) << (offered ? "Pasting types through the desktop portal's remote keyboard"
                                    : "The desktop portal offers no remote keyboard");
    });
}

PortalKeySynthesizer::~PortalKeySynthesizer() {
    endSession();
}

void PortalKeySynthesizer::endSession() {
    if (!session.path().isEmpty()) {
        DesktopPortal::closeSession(bus, session.path());
    }
    session = {};
    running = false;
    starting = false;
}

void PortalKeySynthesizer::request(const QString& method, const QVariantList& arguments,
                                   const QVariantMap& options, const char* slot) {
    if (!DesktopPortal::request(bus, remoteDesktopInterface, method, arguments, options, this, slot)) {
        qCWarning(lcPaste) << "Cannot listen to the desktop portal's answers";
        endSession();
    }
}

void PortalKeySynthesizer::postPaste(PasteKeystroke keystroke) {
    if (!offered) {
        return;
    }
    if (running) {
        type(keystroke);
        return;
    }
    waiting = keystroke;
    if (!starting) {
        starting = true;
        request(QStringLiteral("CreateSession"), {},
                {{QStringLiteral("session_handle_token"), QStringLiteral("snipjar_keyboard")}},
                SLOT(sessionCreated(uint, QVariantMap)));
    }
}

void PortalKeySynthesizer::sessionCreated(uint response, const QVariantMap& results) {
    session = QDBusObjectPath(results.value(QStringLiteral("session_handle")).toString());
    if (response != 0 || session.path().isEmpty()) {
        qCInfo(lcPaste) << "The desktop portal opened no keyboard session; answer" << response;
        endSession();
        return;
    }
    bus.connect(DesktopPortal::service, session.path(), QStringLiteral("org.freedesktop.portal.Session"),
                QStringLiteral("Closed"), this, SLOT(sessionClosed()));
    QVariantMap options{{QStringLiteral("types"), keyboardDevice},
                        {QStringLiteral("persist_mode"), persistUntilRevoked}};
    const QString token = UserSettings::value(QString::fromLatin1(UserSettings::remoteDesktopRestoreTokenKey))
                              .value_or(QVariant())
                              .toString();
    if (!token.isEmpty()) {
        options.insert(QStringLiteral("restore_token"), token);
    }
    request(QStringLiteral("SelectDevices"), {QVariant::fromValue(session)}, options,
            SLOT(devicesSelected(uint, QVariantMap)));
}

void PortalKeySynthesizer::devicesSelected(uint response, const QVariantMap&) {
    if (response != 0) {
        qCInfo(lcPaste) << "The desktop portal gave no keyboard; answer" << response;
        endSession();
        return;
    }
    // The desktop may ask the user now, unless the token still holds.
    request(QStringLiteral("Start"), {QVariant::fromValue(session), QString()}, {},
            SLOT(started(uint, QVariantMap)));
}

void PortalKeySynthesizer::started(uint response, const QVariantMap& results) {
    starting = false;
    if (response != 0 || !(results.value(QStringLiteral("devices")).toUInt() & keyboardDevice)) {
        qCInfo(lcPaste) << "Typing was not allowed by the desktop; the clip waits on the clipboard";
        endSession();
        waiting.reset();
        return;
    }
    running = true;
    const QString token = results.value(QStringLiteral("restore_token")).toString();
    if (!token.isEmpty()) {
        UserSettings::setValue(QString::fromLatin1(UserSettings::remoteDesktopRestoreTokenKey), token);
    }
    if (const std::optional<PasteKeystroke> keystroke = std::exchange(waiting, std::nullopt)) {
        type(*keystroke);
    }
}

void PortalKeySynthesizer::sessionClosed() {
    qCInfo(lcPaste) << "The desktop ended the keyboard session";
    session = {};
    endSession();
}

void PortalKeySynthesizer::type(PasteKeystroke keystroke) {
    QList<int> modifiers;
    int letter = vKeysym;
    switch (keystroke) {
    case PasteKeystroke::controlV:
        modifiers = {controlKeysym};
        break;
    case PasteKeystroke::controlShiftV:
        modifiers = {controlKeysym, shiftKeysym};
        break;
    case PasteKeystroke::shiftInsert:
        modifiers = {shiftKeysym};
        letter = insertKeysym;
        break;
    }
    for (const int modifier : modifiers) {
        key(modifier, true);
    }
    key(letter, true);
    key(letter, false);
    for (auto modifier = modifiers.crbegin(); modifier != modifiers.crend(); ++modifier) {
        key(*modifier, false);
    }
}

void PortalKeySynthesizer::key(int keysym, bool pressed) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(DesktopPortal::service, DesktopPortal::path, remoteDesktopInterface,
                                       QStringLiteral("NotifyKeyboardKeysym"));
    call << QVariant::fromValue(session) << QVariantMap() << keysym << uint(pressed ? 1 : 0);
    // Sent in order on the one connection; the answers are not waited for.
    bus.call(call, QDBus::NoBlock);
}

} // namespace snipjar
