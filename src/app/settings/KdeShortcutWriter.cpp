#include "app/settings/KdeShortcutWriter.h"

#include "platform/LogCategories.h"

#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QKeySequence>
#include <QSaveFile>
#include <QStandardPaths>

namespace snipjar {

QStringList KdeShortcutWriter::actionID() {
    return {QString::fromLatin1(entryName), QStringLiteral("_launch"), QStringLiteral("Snipjar"),
            QStringLiteral("Open Snipjar")};
}

QString KdeShortcutWriter::entryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation) + QLatin1Char('/') +
           QString::fromLatin1(entryName);
}

std::optional<int> KdeShortcutWriter::qtKeyCode(const HotKeyCombo& combo) {
    const QKeySequence key = QKeySequence::fromString(combo.keyLabel, QKeySequence::PortableText);
    if (key.count() != 1 || key[0].keyboardModifiers() != Qt::NoModifier) {
        return std::nullopt;
    }
    int code = key[0].toCombined();
    // The combination's bits as the rest of Snipjar names them: command is Ctrl, control is Super.
    const std::pair<quint32, Qt::KeyboardModifier> modifiers[] = {
        {HotKeyCombo::commandBit, Qt::ControlModifier},
        {HotKeyCombo::optionBit, Qt::AltModifier},
        {HotKeyCombo::shiftBit, Qt::ShiftModifier},
        {HotKeyCombo::controlBit, Qt::MetaModifier},
    };
    for (const auto& [bit, modifier] : modifiers) {
        if (combo.carbonModifiers & bit) {
            code |= int(modifier);
        }
    }
    return code;
}

void KdeShortcutWriter::write(const HotKeyCombo& combo, const QString& command, Done done) {
    const std::optional<int> code = qtKeyCode(combo);
    if (!code) {
        done(QStringLiteral("KDE cannot bind %1").arg(combo.linuxDisplayString()));
        return;
    }
    // The entry is read by KDE's shortcut service (kglobalaccel splits Exec as a shell would, so the
    // command's quoting holds) and is hidden from menus.
    const QString path = entryPath();
    if (!QDir().mkpath(QFileInfo(path).path())) {
        done(QStringLiteral("The folder %1 cannot be made").arg(QFileInfo(path).path()));
        return;
    }
    QSaveFile entry(path);
    entry.setDirectWriteFallback(false);
    if (!entry.open(QIODevice::WriteOnly)) {
        done(QStringLiteral("%1 cannot be written").arg(path));
        return;
    }
    entry.write("[Desktop Entry]\nType=Application\nName=Open Snipjar\nComment=Opens Snipjar's clipboard "
                "history\nIcon=app.snipjar.Snipjar\nNoDisplay=true\nExec=" +
                command.toUtf8() + "\n");
    if (!entry.commit()) {
        done(QStringLiteral("%1 cannot be written").arg(path));
        return;
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    const QStringList action = actionID();
    const QString keys = combo.linuxDisplayString();
    const auto finish = std::make_shared<Done>(std::move(done));
    // Registering an action of a component named after a desktop entry makes the service read the
    // entry; the keys it keeps afterwards tell a combination that another shortcut holds.
    call(QStringLiteral("doRegister"), {action}, finish,
         [this, action, code, keys, finish](const QDBusMessage&) {
             call(QStringLiteral("setForeignShortcut"), {action, QVariant::fromValue(QList<int>{*code})},
                  finish, [this, action, code, keys, finish](const QDBusMessage&) {
                      call(QStringLiteral("shortcut"), {action}, finish,
                           [code, keys, finish](const QDBusMessage& reply) {
                               if (!QDBusPendingReply<QList<int>>(reply).value().contains(*code)) {
                                   (*finish)(QStringLiteral("%1 is taken by another KDE shortcut").arg(keys));
                                   return;
                               }
                               (*finish)(std::nullopt);
                           });
                  });
         });
}

void KdeShortcutWriter::call(const QString& method, const QVariantList& arguments,
                             const std::shared_ptr<Done>& finish,
                             std::function<void(const QDBusMessage& reply)> next) {
    QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.kde.kglobalaccel"),
                                                          QStringLiteral("/kglobalaccel"),
                                                          QStringLiteral("org.kde.KGlobalAccel"), method);
    message.setArguments(arguments);
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, finish, next = std::move(next)] {
        watcher->deleteLater();
        if (watcher->isError()) {
            qCWarning(lcHotKey).noquote() << "KDE's shortcut service failed:" << watcher->error().message();
            (*finish)(QStringLiteral("KDE's shortcut service did not answer"));
            return;
        }
        next(watcher->reply());
    });
}

} // namespace snipjar
