#pragma once

#include "platform/Pasteboard.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <QStringList>

#include <optional>

namespace snipjar {

// How the clipboard's type identifiers meet X11 selection targets (MIME names and the old ICCCM
// atoms). Pure functions, so that the rules can be checked without a display.
class X11PasteboardMimeMapping {
public:
    // The KDE password-manager hint: concealed only when its value says "secret".
    static constexpr const char* passwordManagerHint = "x-kde-passwordManagerHint";
    static constexpr const char* uriList = "text/uri-list";
    static constexpr const char* mozURL = "text/x-moz-url";
    static constexpr const char* gnomeCopiedFiles = "x-special/gnome-copied-files";

    // Targets that describe the selection or drive the protocol (TARGETS, MULTIPLE, TIMESTAMP,
    // SAVE_TARGETS, INCR, DELETE, ...) and never carry content.
    static bool isPseudoTarget(const QByteArray& target);
    // The identifier a content target stands for; unknown targets keep their own name. None for
    // pseudo-targets. The password-manager hint maps to its own name: only its value can make it
    // the concealed marker (see isSecretHint).
    static std::optional<QString> identifierForTarget(const QByteArray& target);
    // True when a password-manager hint's value is "secret" (trailing white space or NULs allowed).
    static bool isSecretHint(const QByteArray& value);

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
