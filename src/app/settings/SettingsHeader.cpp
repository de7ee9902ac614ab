#include "app/settings/SettingsHeader.h"

#include "app/settings/SettingsSection.h"
#include "platform/AppIdentity.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

namespace snipjar {

namespace {

constexpr int iconSize = 64;

QIcon applicationIcon() {
    const QIcon own = QApplication::windowIcon();
    if (!own.isNull()) {
        return own;
    }
    return QIcon::fromTheme(QStringLiteral("edit-paste"),
                            QApplication::style()->standardIcon(QStyle::SP_FileDialogContentsView));
}

} // namespace

SettingsHeader::SettingsHeader(QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 8, 0, 4);
    layout->setSpacing(4);

    auto* icon = new QLabel(this);
    icon->setPixmap(applicationIcon().pixmap(iconSize, iconSize));
    icon->setFixedSize(iconSize, iconSize);
    layout->addWidget(icon, 0, Qt::AlignHCenter);

    auto* name = new QLabel(QStringLiteral("Snipjar"), this);
    QFont titleFont = name->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    titleFont.setWeight(QFont::DemiBold);
    name->setFont(titleFont);
    layout->addWidget(name, 0, Qt::AlignHCenter);

    auto* version = new QLabel(versionLine(), this);
    version->setObjectName(QStringLiteral("versionLine"));
    SettingsSection::makeSecondary(*version, true);
    layout->addWidget(version, 0, Qt::AlignHCenter);
}

QString SettingsHeader::versionLine() {
    const QString number = AppIdentity::version();
    QString line = QStringLiteral("Version ") + (number.isEmpty() ? QStringLiteral("—") : number);
    if (AppIdentity::identifier().endsWith(QLatin1String(".debug"))) {
        line += QStringLiteral(" · debug");
    }
    return line;
}

} // namespace snipjar
