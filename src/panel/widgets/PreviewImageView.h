#pragma once

#include <QImage>
#include <QWidget>

namespace snipjar {

// The rendered image of an image clip, fitted into the area with its aspect kept, centred and
// inset 16. The image is decoded once; every resize scales from the decoded pixels.
class PreviewImageView : public QWidget {
    Q_OBJECT
public:
    explicit PreviewImageView(QImage image, QWidget* parent = nullptr);

    const QImage& image() const { return decoded; }
    // Where the image lands in the current size.
    QRect imageRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QImage decoded;
    QPixmap scaled;
};

} // namespace snipjar
