#pragma once

#include "platform/DesktopNotifier.h"

#include <QList>

namespace snipjar {

// Records the notifications it was asked to show.
class FakeDesktopNotifier : public DesktopNotifier {
public:
    struct Notification {
        QString summary;
        QString body;

        bool operator==(const Notification&) const = default;
    };

    void notify(const QString& summary, const QString& body) override;

    QList<Notification> notifications;
};

} // namespace snipjar
