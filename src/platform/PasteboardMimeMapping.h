#pragma once

#include "platform/Pasteboard.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <QStringList>

#include <optional>

namespace snipjar {

// How the clipboard's type identifiers meet the MIME types of X11 selections and Wayland offers
// (and X11's old ICCCM atoms). Pure functions, so that the rules can be checked without a display.
class PasteboardMimeMapping {
public:
    // The KDE password-manager hint: concealed only when its value says "secret".
    static constexpr const char* passwordManagerHint = "x-kde-passwordManagerHint";
    // wl-clipboard's clipboard state: concealed only when its value says "sensitive".
    static constexpr const char* clipboardState = "CLIPBOARD_STATE";
    static constexpr const char* uriList = "text/uri-list";
    static constexpr const char* mozURL = "text/x-moz-url";
    static constexpr const char* gnomeCopiedFiles = "x-special/gnome-copied-files";

    // Targets that describe the selection or drive the protocol (TARGETS, MULTIPLE, TIMESTAMP,
    // SAVE_TARGETS, INCR, DELETE, ...) and never carry content.
    static bool isPseudoTarget(const QByteArray& target);
    // The identifier a content target stands for; unknown targets keep their own name. None for
    // pseudo-targets. The marker targets (the password-manager hint, the clipboard state) map to
    // their own names: only their values can make them the concealed marker (isConcealingValue).
    static std::optional<QString> identifierForTarget(const QByteArray& target);
    // True when a password-manager hint's value is "secret" (trailing white space or NULs allowed).
    static bool isSecretHint(const QByteArray& value);
    // True when a marker target's value says what it must for the copy to be concealed: "secret"
    // for the password-manager hint, "sensitive" for the clipboard state.
    static bool isConcealingValue(const QByteArray& target, const QByteArray& value);

    // The offered targets that carry an identifier, best first: its table targets in table order,
    // then any other offered target of the same identifier in offer order (text/plain;charset=...,
    // STRING, image/x-...). An identifier that is not in the table finds the target of its name.
    static QByteArrayList targetsForIdentifier(const QString& identifier, const QByteArrayList& offered);

    // Text of a plain-text target, decoded by what the target name says about its encoding.
    static QString decodeText(const QByteArray& target, const QByteArray& bytes);
    // The entries of a text/uri-list (comments, blank lines and entries with control characters
    // skipped), file URLs normalised to the absolute "file:///" form.
    static QStringList parseURIList(const QByteArray& bytes);
    // The address on the first line of a text/x-moz-url (UTF-16 or UTF-8).
    static std::optional<QString> parseMozURL(const QByteArray& bytes);
    // The URLs of an x-special/gnome-copied-files value ("copy" or "cut", then one URL a line).
    static QStringList parseGnomeCopiedFiles(const QByteArray& bytes);
    static bool isFileURL(const QString& url);

    // What one target of a written content is served as: the property type and the bytes.
    struct ServedTarget {
        QByteArray target;
        QByteArray type;
        QByteArray data;
    };
    // Every target under which a content is offered, in offer order without repeats.
    static QList<ServedTarget> servedTargets(const PasteboardContent& content);
};

} // namespace snipjar
