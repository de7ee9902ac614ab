#include "PanelSymbols.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QPixmapCache>

// The bundled symbols are compiled into this static library, whose resource registration the
// linker would drop unless something refers to it; the first symbol asked for registers them.
static void registerBundledSymbols() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(symbols);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace snipjar {

namespace {

// Only "-symbolic" theme names are asked for. Full-colour theme icons (the usual document, picture
// and bin icons) would turn into flat silhouettes once recoloured, and the panel draws every symbol
// in one text colour; symbolic icons are monochrome by the freedesktop convention and recolour
// cleanly. Symbols without a fitting theme name (the pin, the dashed question mark) always use the
// bundled SVG.
const QHash<QString, QString>& themeNames() {
    static const QHash<QString, QString> names{
        {QStringLiteral("magnifyingglass"), QStringLiteral("edit-find-symbolic")},
        {QStringLiteral("text.alignleft"), QStringLiteral("format-justify-left-symbolic")},
        {QStringLiteral("textformat"), QStringLiteral("format-text-rich-symbolic")},
        {QStringLiteral("photo"), QStringLiteral("image-x-generic-symbolic")},
        {QStringLiteral("doc"), QStringLiteral("text-x-generic-symbolic")},
        {QStringLiteral("doc.on.doc"), QStringLiteral("edit-copy-symbolic")},
        {QStringLiteral("key.fill"), QStringLiteral("dialog-password-symbolic")},
        {QStringLiteral("doc.on.clipboard"), QStringLiteral("edit-paste-symbolic")},
        {QStringLiteral("trash"), QStringLiteral("user-trash-symbolic")},
        {QStringLiteral("trash.fill"), QStringLiteral("user-trash-full-symbolic")},
        {QStringLiteral("icloud.slash"), QStringLiteral("network-offline-symbolic")},
        {QStringLiteral("desktopcomputer"), QStringLiteral("computer-symbolic")},
        {QStringLiteral("chevron.right"), QStringLiteral("go-next-symbolic")},
        {QStringLiteral("chevron.left"), QStringLiteral("go-previous-symbolic")},
    };
    return names;
}

QString bundledPath(const QString& designName) {
    return QStringLiteral(":/symbols/") + designName + QStringLiteral(".svg");
}

} // namespace

QIcon panelSymbol(const QString& designName) {
    registerBundledSymbols();
    const QString path = bundledPath(designName);
    if (!QFile::exists(path)) {
        return {};
    }
    const QIcon bundled(path);
    const QString themeName = themeNames().value(designName);
    return themeName.isEmpty() ? bundled : QIcon::fromTheme(themeName, bundled);
}

QPixmap panelSymbolPixmap(const QString& designName, int pixelSize, const QColor& colour,
                          qreal devicePixelRatio) {
    const QString key = QStringLiteral("panelSymbol/%1/%2/%3/%4")
                            .arg(designName)
                            .arg(pixelSize)
                            .arg(colour.name(QColor::HexArgb))
                            .arg(devicePixelRatio);
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap)) {
        return pixmap;
    }
    const QSize devicePixels = QSize(pixelSize, pixelSize) * devicePixelRatio;
    pixmap = QPixmap(devicePixels);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const QIcon icon = panelSymbol(designName);
        if (!icon.isNull()) {
            icon.paint(&painter, QRect(QPoint(0, 0), devicePixels));
        }
        // Keep the symbol's coverage, replace its colours.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), colour);
    }
    pixmap.setDevicePixelRatio(devicePixelRatio);
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

} // namespace snipjar
