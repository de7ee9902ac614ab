#include "app/update/UpdateConfiguration.h"

#include "app/update/UpdateFeed.h"
#include "platform/KeyText.h"
#include "platform/UserSettings.h"

#include <QCoreApplication>

namespace snipjar {

UpdateConfiguration UpdateConfiguration::current() {
    UpdateConfiguration configuration;
    if (const auto url = UserSettings::updateFeedURL()) {
        configuration.feedUrl = *url;
    } else {
        const QUrl built(QStringLiteral(SNIPJAR_UPDATE_FEED_URL), QUrl::StrictMode);
        if (built.isValid() && !built.host().isEmpty()) {
            configuration.feedUrl = built;
        }
    }
    if (const auto key = UserSettings::updatePublicKey()) {
        configuration.publicKey = *key;
    } else if (const auto built =
                   KeyText::decode(QStringLiteral(SNIPJAR_UPDATE_PUBLIC_KEY), UpdateFeed::publicKeyBytes)) {
        configuration.publicKey = *built;
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
