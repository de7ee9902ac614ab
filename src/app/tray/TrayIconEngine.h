#pragma once

#include <QColor>
#include <QIconEngine>

namespace snipjar {

// The tray icon: the paperclip symbol drawn straight from its outline in one colour, at the size
// the tray host asks for. Start-up shows it before anything else needs a picture, and drawing it
// here spares loading the SVG icon plugin and rendering five sizes nobody may look at.
class TrayIconEngine : public QIconEngine {
public:
    explicit TrayIconEngine(QColor colour);

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override;
    QIconEngine* clone() const override;
    QString key() const override;

private:
    QColor colour;
};

} // namespace snipjar
