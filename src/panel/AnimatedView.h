#pragma once

#include <QRectF>

#include <functional>

class QObject;

namespace snipjar {

// Something whose frame a SpringAnimator reads once and then moves: a widget of the panel window, a
// window, or a stand-in in a test. The panel's core never links Qt Widgets, so it sees views only
// through these two functions.
struct AnimatedView {
    std::function<QRectF()> frame;
    std::function<void(const QRectF&)> setFrame;

    // A view reached through a QObject property such as QWidget's "geometry". A QRect property is
    // written rounded to whole pixels. Once the object is destroyed its frame reads as empty and
    // writes do nothing, so an animation can outlive a view without touching freed memory.
    static AnimatedView ofProperty(QObject* object, const char* propertyName = "geometry");
};

} // namespace snipjar
