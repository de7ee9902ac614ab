#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace snipjar {

// The uniform type identifiers that the history stores ("public.png", "com.compuserve.gif", ...)
// and their clipboard MIME targets and file-name extensions, from one table.
class TypeIdentifier {
public:
    static constexpr const char* plainText = "public.utf8-plain-text";
    static constexpr const char* rtf = "public.rtf";
    static constexpr const char* html = "public.html";
    static constexpr const char* heic = "public.heic";
    static constexpr const char* jpeg = "public.jpeg";
    static constexpr const char* gif = "com.compuserve.gif";
    static constexpr const char* png = "public.png";
    static constexpr const char* pdf = "com.adobe.pdf";
    static constexpr const char* tiff = "public.tiff";
    static constexpr const char* svg = "public.svg-image";
    static constexpr const char* fileURL = "public.file-url";
    static constexpr const char* url = "public.url";
    static constexpr const char* concealedMarker = "org.nspasteboard.ConcealedType";
    static constexpr const char* transientMarker = "org.nspasteboard.TransientType";
    static constexpr const char* remoteClipboardMarker = "com.apple.is-remote-clipboard";

    // True when the identifier names a type this system knows (the table, or "public." + an image
    // subtype taken from an image/* target).
    static bool isKnown(const QString& identifier);
    // Conforms to the general image type (PDF does not; use isPDF).
    static bool conformsToImage(const QString& identifier);
    static bool isPDF(const QString& identifier);
    // The preferred file-name extension ("jpeg" for public.jpeg, "heic", "png", "gif", "pdf", ...).
    static std::optional<QString> preferredFilenameExtension(const QString& identifier);

    // MIME targets read for an identifier, first found wins; the first one is also the one written.
    static QStringList mimeTypes(const QString& identifier);
    // The identifier for a MIME target, or none when the target carries no content this system
    // understands (pseudo-targets, unknown non-image targets).
    static std::optional<QString> fromMimeType(const QString& mimeType);
};

} // namespace snipjar
