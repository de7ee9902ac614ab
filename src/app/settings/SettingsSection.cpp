#include "app/settings/SettingsSection.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace snipjar {

SettingsSection::SettingsSection(const QString& title, QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    if (!title.isEmpty()) {
        auto* heading = new QLabel(title, this);
        QFont font = heading->font();
        font.setBold(true);
        heading->setFont(font);
        heading->setContentsMargins(4, 0, 0, 0);
        layout->addWidget(heading);
    }

    box = new QFrame(this);
    box->setObjectName(QStringLiteral("settingsSectionBox"));
    // The grouped look: a rounded, slightly raised box on the window's background.
    box->setStyleSheet(QStringLiteral("QFrame#settingsSectionBox { background: palette(base);"
                                      " border: 1px solid palette(midlight); border-radius: 8px; }"));
    rows = new QVBoxLayout(box);
    rows->setContentsMargins(12, 6, 12, 6);
    rows->setSpacing(6);
    layout->addWidget(box);

    footnote = new QLabel(this);
    footnote->setWordWrap(true);
    footnote->setContentsMargins(4, 0, 4, 0);
    makeSecondary(*footnote, true);
    footnote->hide();
    layout->addWidget(footnote);
}

void SettingsSection::makeSecondary(QLabel& label, bool smaller) {
    if (smaller) {
        QFont font = label.font();
        font.setPointSizeF(font.pointSizeF() * 0.85);
        label.setFont(font);
    }
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label.setPalette(palette);
}

void SettingsSection::addSeparatorIfNeeded() {
    if (rows->count() == 0) {
        return;
    }
    auto* line = new QFrame(box);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setStyleSheet(QStringLiteral("color: palette(midlight);"));
    rows->addWidget(line);
}

QLabel* SettingsSection::addRow(const QString& label, QWidget* control, Qt::Alignment labelAlignment) {
    addSeparatorIfNeeded();
    auto* row = new QHBoxLayout();
    row->setSpacing(8);
    auto* text = new QLabel(label, box);
    text->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    row->addWidget(text, 0, Qt::AlignLeft | labelAlignment);
    row->addStretch(1);
    control->setParent(box);
    row->addWidget(control, 0, Qt::AlignRight | labelAlignment);
    rows->addLayout(row);
    return text;
}

void SettingsSection::addRow(QWidget* control) {
    addSeparatorIfNeeded();
    control->setParent(box);
    rows->addWidget(control);
}

void SettingsSection::setFootnote(const QString& text) {
    footnote->setText(text);
    footnote->setVisible(!text.isEmpty());
}

} // namespace snipjar
