#pragma once

#include "panel/widgets/GlassView.h"

#include <functional>

namespace snipjar {

// Glass that runs an action when it is pressed: the kind-filter circles.
class ClickableGlassView : public GlassView {
    Q_OBJECT
public:
    using GlassView::GlassView;

    std::function<void()> onClick;

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

} // namespace snipjar
