#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace snipjar {

// Where update checks go and which key must have signed the feed. Both come from the build
// (SNIPJAR_UPDATE_FEED_URL and SNIPJAR_UPDATE_PUBLIC_KEY) and can be overridden one by one in the
// settings file (updateFeedURL, updatePublicKey). Distribution packages build without a feed
// address: their updates come from the package manager, the menu item says so, and no setting
// turns checks on (a line in a settings file must not make a packaged copy fetch and offer files
// from wherever it names).
struct UpdateConfiguration {
    QUrl feedUrl;
    QByteArray publicKey;

    // The configuration of this build.
    static UpdateConfiguration current();
    // The settings' overrides over the values built in, or nothing when no feed address is built in;
    // a value that does not read as an address or a key counts as not set.
    static UpdateConfiguration resolve(const QString& builtFeedUrl, const QString& builtPublicKey);

    // Both an address and a key: without the key no answer could be trusted, so no check is made.
    bool canCheck() const;
    // The text of the menu item: "Check for Updates…", or, when no check is possible, a note that
    // updates come from the distribution's package manager.
    QString menuItemText() const;
};

} // namespace snipjar
