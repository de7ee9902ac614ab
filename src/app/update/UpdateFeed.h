#pragma once

#include "app/update/UpdateInfo.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace snipjar {

// The update feed: one JSON object that names the newest release and carries an Ed25519
// signature made with libsodium (crypto_sign_detached):
//
//   {
//     "version": "1.4.0",                                  Semantic Versioning 2.0
//     "notesUrl": "https://example.org/snipjar/1.4.0.html", the release notes (https)
//     "downloadUrl": "https://example.org/snipjar-1.4.0.tar.xz",  the download (https)
//     "sha256": "<64 lowercase hex digits>",               SHA-256 of the download's bytes
//     "size": 1234567,                                     the download's size in bytes
//     "signature": "<base64 of 64 bytes>"
//   }
//
// The signature covers the signed text (signedText() below), one "name=value" line per field in a
// fixed order under a fixed first line, built from the values exactly as they appear in the feed.
// Signing that text rather than the JSON bytes means the feed may be re-indented or have its keys
// reordered without breaking the signature, and any tool that can print lines can rebuild it.
//
// A signature over only the version would let whoever controls the server point a genuine version
// at any file. Signing the version, both addresses and the download's SHA-256 and size together
// binds one announced version to one exact file, which UpdateDownload checks before the file is
// offered: a feed whose version, addresses or digest were changed in transit, or that was not
// signed with the release key, is rejected as a whole and never offered as an update. Fields that
// are not listed above are ignored and not signed. A replayed older feed can only claim that an
// older release is the newest, which reads as "up to date".
class UpdateFeed {
public:
    struct Result {
        std::optional<UpdateInfo> info;
        // Why the feed was rejected, as a sentence for the user; empty when info is set.
        QString reason;

        explicit operator bool() const { return info.has_value(); }
    };

    static constexpr qsizetype publicKeyBytes = 32;
    static constexpr qsizetype secretKeyBytes = 64;
    static constexpr qsizetype signatureBytes = 64;

    // Parses and verifies a feed. Anything short of a complete, well-formed feed whose signature
    // verifies with publicKey is a failure with a reason.
    static Result parse(const QByteArray& json, const QByteArray& publicKey);

    // The exact bytes the signature covers.
    static QByteArray signedText(const UpdateInfo& info);

    // The feed for info, signed with a libsodium secret key (64 bytes, or its 32-byte seed).
    // Empty when the key cannot be used.
    static QByteArray sign(const UpdateInfo& info, const QByteArray& secretKey);
};

} // namespace snipjar
