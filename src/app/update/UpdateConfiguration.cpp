#include "app/update/UpdateConfiguration.h"

#include "app/update/UpdateFeed.h"
#include "platform/KeyText.h"
#include "platform/UserSettings.h"

#include <QCoreApplication>

namespace snipjar {

UpdateConfiguration UpdateConfiguration::current() {
    return resolve(QStringLiteral(SNIPJAR_UPDATE_FEED_URL), QStringLiteral(SNIPJAR_UPDATE_PUBLIC_KEY));
}

UpdateConfiguration UpdateConfiguration::resolve(const QString& builtFeedUrl, const QString& builtPublicKey) {
    UpdateConfiguration configuration;
    const QUrl built(builtFeedUrl, QUrl::StrictMode);
    if (!built.isValid() || built.host().isEmpty()) {
        return configuration;
    }
    configuration.feedUrl = UserSettings::updateFeedURL().value_or(built);
    if (const auto key = UserSettings::updatePublicKey()) {
        configuration.publicKey = *key;
    } else if (const auto builtKey = KeyText::decode(builtPublicKey, UpdateFeed::publicKeyBytes)) {
        configuration.publicKey = *builtKey;
    }
    return configuration;
}

bool UpdateConfiguration::canCheck() const {
    return feedUrl.isValid() && !feedUrl.isEmpty() && publicKey.size() == UpdateFeed::publicKeyBytes;
}

QString UpdateConfiguration::menuItemText() const {
    if (canCheck()) {
        return QCoreApplication::translate("Updater", "Check for Updates…");
    }
    return QCoreApplication::translate("Updater", "Updates Come from Your Package Manager");
}

} // namespace snipjar
