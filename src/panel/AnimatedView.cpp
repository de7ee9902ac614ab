#include "panel/AnimatedView.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QVariant>

namespace snipjar {

AnimatedView AnimatedView::ofProperty(QObject* object, const char* propertyName) {
    QPointer<QObject> guarded(object);
    const QByteArray name(propertyName);
    AnimatedView view;
    view.frame = [guarded, name] {
        return guarded ? guarded->property(name.constData()).toRectF() : QRectF();
    };
    view.setFrame = [guarded, name](const QRectF& frame) {
        if (!guarded) {
            return;
        }
        if (guarded->property(name.constData()).metaType().id() == QMetaType::QRect) {
            guarded->setProperty(name.constData(), frame.toRect());
        } else {
            guarded->setProperty(name.constData(), frame);
        }
    };
    return view;
}

} // namespace snipjar
