#pragma once

#include <QColor>
#include <QWidget>

#include <optional>

namespace snipjar {

// One piece of the panel's glass: a rounded fill that hosts a view. With a compositor the fill is
// translucent, so the desktop shows through softly; without one it is opaque, since an X server
// without a compositor cannot blend a window with what lies behind it.
class GlassView : public QWidget {
    Q_OBJECT
public:
    enum class Material { translucent, opaque };

    explicit GlassView(qreal cornerRadius, QWidget* parent = nullptr);

    qreal cornerRadius() const { return radius; }
    void setMaterial(Material material);
    // A colour laid over the fill (the highlighted kind circle); none for the plain glass.
    void setTint(const std::optional<QColor>& tint);
    const std::optional<QColor>& tint() const { return currentTint; }

    // The content fills the glass.
    void setContent(QWidget* content);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    qreal radius;
    Material material = Material::opaque;
    std::optional<QColor> currentTint;
    QWidget* content = nullptr;
};

} // namespace snipjar
