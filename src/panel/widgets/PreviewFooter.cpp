#include "PreviewFooter.h"

#include "FooterButton.h"
#include "PanelFonts.h"
#include "PanelPalette.h"
#include "SourceAppIcon.h"
#include "SymbolLabel.h"
#include "panel/PanelPreview.h"
#include "panel/PreviewDetails.h"
#include "paste/HotKeyCombo.h"
#include "paste/KeyComboText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

namespace snipjar {

namespace {

constexpr int sourceIconSize = 14;

QLabel* makeLabel(const QString& text, const QColor& colour, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(PanelFonts::caption());
    label->setTextFormat(Qt::PlainText);
    setForeground(*label, colour);
    return label;
}

QString shortcut(const char* key) {
    return keyComboText(HotKeyCombo::commandBit, QString::fromLatin1(key));
}

} // namespace

PreviewFooter::PreviewFooter(ResultsCallbacks callbacks, QWidget* parent)
    : QWidget(parent)
    , callbacks(std::move(callbacks))
    , pin(new FooterButton(this))
    , remove(new FooterButton(this))
    , localOnly(new SymbolLabel(QStringLiteral("icloud.slash"), 12, PanelPalette::instance().secondary, this))
    , details(new QWidget(this))
    , detailsLayout(new QHBoxLayout(details)) {
    const PanelPalette& palette = PanelPalette::instance();
    setFont(PanelFonts::caption());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 8, 16, 8);
    layout->setSpacing(6);

    auto* actions = new QHBoxLayout;
    actions->setContentsMargins(0, 0, 0, 0);
    actions->setSpacing(8);
    actions->addWidget(pin);
    actions->addWidget(remove);
    actions->addWidget(localOnly);
    actions->addStretch(1);
    actions->addWidget(
        makeLabel(tr("%1 paste").arg(keyComboText(0, QStringLiteral("Return"))), palette.tertiary, this));
    layout->addLayout(actions);

    detailsLayout->setContentsMargins(0, 0, 0, 0);
    detailsLayout->setSpacing(4);
    layout->addWidget(details);

    localOnly->setToolTip(tr("Not synced \u2014 stays on this computer"));
    localOnly->setAccessibleName(localOnly->toolTip());
    connect(pin, &FooterButton::clicked, this, [this] {
        if (this->callbacks.onTogglePin) {
            this->callbacks.onTogglePin();
        }
    });
    connect(remove, &FooterButton::clicked, this, [this] {
        if (this->callbacks.onDelete) {
            this->callbacks.onDelete();
        }
    });
}

void PreviewFooter::showPreview(const PanelPreview& preview, bool deleteArmed) {
    const PanelPalette& palette = PanelPalette::instance();
    if (preview.pinned) {
        pin->setLook(QStringLiteral("pin.fill"), tr("Pinned"), palette.accent, false);
        pin->setToolTip(tr("Unpin (%1)").arg(shortcut("P")));
    } else {
        pin->setLook(QStringLiteral("pin"), tr("Pin"), palette.secondary, false);
        pin->setToolTip(tr("Pin (%1)").arg(shortcut("P")));
    }
    localOnly->setVisible(preview.localOnly);
    setDeleteArmed(deleteArmed);
    rebuildDetails(preview);
}

void PreviewFooter::setDeleteArmed(bool armed) {
    if (armed) {
        remove->setLook(QStringLiteral("trash.fill"), tr("Confirm Delete?"), Qt::white, true);
        remove->setToolTip(tr("Click again to delete from all your computers"));
    } else {
        remove->setLook(QStringLiteral("trash"), tr("Delete"), PanelPalette::instance().secondary, false);
        remove->setToolTip(tr("Delete (%1)").arg(shortcut("Backspace")));
    }
}

void PreviewFooter::rebuildDetails(const PanelPreview& preview) {
    const PanelPalette& palette = PanelPalette::instance();
    while (QLayoutItem* item = detailsLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const QLocale locale;
    if (preview.sourceName) {
        const QIcon icon = preview.sourceBundleID ? sourceAppIcon(*preview.sourceBundleID) : QIcon();
        if (!icon.isNull()) {
            auto* iconLabel = new QLabel(details);
            iconLabel->setObjectName(QStringLiteral("sourceIcon"));
            iconLabel->setPixmap(icon.pixmap(QSize(sourceIconSize, sourceIconSize), devicePixelRatioF()));
            iconLabel->setFixedSize(sourceIconSize, sourceIconSize);
            detailsLayout->addWidget(iconLabel);
        }
        detailsLayout->addWidget(makeLabel(*preview.sourceName, palette.secondary, details));
    }
    if (!preview.originNames.isEmpty()) {
        const QString allNames = preview.originNames.join(QStringLiteral(", "));
        auto* computer = new SymbolLabel(QStringLiteral("desktopcomputer"), 12, palette.secondary, details);
        computer->setToolTip(allNames);
        detailsLayout->addWidget(computer);
        QLabel* names = makeLabel(originsText(preview.originNames), palette.secondary, details);
        names->setToolTip(allNames);
        detailsLayout->addWidget(names);
    }
    detailsLayout->addWidget(
        makeLabel(relativeAgeText(preview.createdAt, QDateTime::currentDateTimeUtc(), locale),
                  palette.secondary, details));
    detailsLayout->addWidget(
        makeLabel(locale.formattedDataSize(preview.byteSize), palette.secondary, details));
    if (preview.lineCount && preview.charCount) {
        detailsLayout->addWidget(makeLabel(statisticsText(*preview.lineCount, *preview.charCount, locale),
                                           palette.secondary, details));
    } else if (preview.pixelWidth && preview.pixelHeight) {
        detailsLayout->addWidget(
            makeLabel(pixelSizeText(*preview.pixelWidth, *preview.pixelHeight), palette.secondary, details));
    }
    detailsLayout->addStretch(1);
    // Children added to a visible parent would otherwise appear only at the next turn of the event
    // loop, a frame after the rest of the footer.
    for (QWidget* child : details->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        child->show();
    }
}

QStringList PreviewFooter::detailTexts() const {
    QStringList texts;
    for (int i = 0; i < detailsLayout->count(); ++i) {
        const auto* label = qobject_cast<QLabel*>(detailsLayout->itemAt(i)->widget());
        if (label != nullptr && !label->text().isEmpty()) {
            texts.append(label->text());
        }
    }
    return texts;
}

bool PreviewFooter::showsSourceIcon() const {
    return details->findChild<QLabel*>(QStringLiteral("sourceIcon")) != nullptr;
}

} // namespace snipjar
