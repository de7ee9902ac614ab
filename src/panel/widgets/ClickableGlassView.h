#pragma once

#include "panel/widgets/GlassView.h"

#include <functional>

namespace snipjar {

// Glass that runs an action when it is pressed: the kind-filter circles. Screen readers see it as
// a button, checked while its filter is the current one and invisible while it cannot be clicked.
class ClickableGlassView : public GlassView {
    Q_OBJECT
public:
    explicit ClickableGlassView(qreal cornerRadius, QWidget* parent = nullptr);

    std::function<void()> onClick;

    bool isChecked() const { return checked; }
    void setChecked(bool checked);
    // Whether it takes clicks now (the circles are hidden while every kind is shown).
    bool isOffered() const { return !testAttribute(Qt::WA_TransparentForMouseEvents); }
    void setOffered(bool offered);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    bool checked = false;
};

} // namespace snipjar
