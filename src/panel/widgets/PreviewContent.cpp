#include "PreviewContent.h"

#include "PanelFonts.h"
#include "PanelPalette.h"
#include "PreviewImageView.h"
#include "PreviewTextView.h"
#include "SymbolLabel.h"
#include "panel/PanelPreview.h"

#include <QLabel>
#include <QScrollArea>
#include <QUrl>
#include <QVBoxLayout>

namespace snipjar {

namespace {

constexpr int inset = 16;

QLabel* makeLabel(const QString& text, const QFont& font, const QColor& colour, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    setForeground(*label, colour);
    return label;
}

// A symbol with a line under it, both centred in the area.
QWidget* placeholder(const QString& symbol, int size, const QString& text, QWidget* parent) {
    const QColor colour = PanelPalette::instance().secondary;
    auto* widget = new QWidget(parent);
    auto* layout = new QVBoxLayout(widget);
    layout->setSpacing(8);
    layout->addStretch(1);
    layout->addWidget(new SymbolLabel(symbol, size, colour, widget), 0, Qt::AlignHCenter);
    if (!text.isEmpty()) {
        layout->addWidget(makeLabel(text, PanelFonts::body(), colour, widget), 0, Qt::AlignHCenter);
    }
    layout->addStretch(1);
    return widget;
}

QScrollArea* transparentScrollArea(QWidget* parent) {
    auto* area = new QScrollArea(parent);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setFocusPolicy(Qt::NoFocus);
    area->setAutoFillBackground(false);
    area->viewport()->setAutoFillBackground(false);
    return area;
}

QWidget* fileList(const QStringList& fileURLs, QWidget* parent) {
    const PanelPalette& palette = PanelPalette::instance();
    QScrollArea* area = transparentScrollArea(parent);
    auto* list = new QWidget;
    list->setAutoFillBackground(false);
    auto* layout = new QVBoxLayout(list);
    layout->setContentsMargins(inset, inset, inset, inset);
    layout->setSpacing(10);
    for (const QString& text : fileURLs) {
        const QUrl url(text, QUrl::StrictMode);
        if (!url.isValid() || url.isEmpty()) {
            continue;
        }
        auto* line = new QHBoxLayout;
        line->setSpacing(8);
        line->addWidget(new SymbolLabel(QStringLiteral("doc"), 20, palette.secondary, list), 0, Qt::AlignTop);
        auto* names = new QVBoxLayout;
        names->setSpacing(1);
        const QString path = url.isLocalFile() ? url.toLocalFile() : url.path();
        names->addWidget(makeLabel(url.fileName(), PanelFonts::body(), palette.primary, list));
        names->addWidget(makeLabel(path, PanelFonts::caption(), palette.secondary, list));
        line->addLayout(names, 1);
        layout->addLayout(line);
    }
    layout->addStretch(1);
    area->setWidget(list);
    return area;
}

} // namespace

QWidget* makePreviewContent(const PanelPreview& preview, QWidget* parent) {
    if (preview.concealed) {
        return placeholder(QStringLiteral("key.fill"), 44, QObject::tr("Secure item \u2014 value hidden"),
                           parent);
    }
    switch (preview.kind) {
    case ClipKind::image:
        if (preview.image.isNull()) {
            return placeholder(QStringLiteral("photo"), 48, {}, parent);
        }
        return new PreviewImageView(preview.image, parent);
    case ClipKind::file:
        return fileList(preview.fileURLs, parent);
    case ClipKind::text:
    case ClipKind::richText:
    case ClipKind::unknown:
        break;
    }
    // The loader built and laid out the whole document, the truncation note included.
    return new PreviewTextView(preview.document, parent);
}

} // namespace snipjar
