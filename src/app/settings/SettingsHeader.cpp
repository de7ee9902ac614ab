#include "app/settings/SettingsHeader.h"

#include "app/settings/SettingsSection.h"
#include "platform/AppIdentity.h"

#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

// The icon is compiled into this static library, whose resource registration the linker would
// drop unless something refers to it; the first header built registers it.
static void registerBundledIcon() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(settings);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace snipjar {

namespace {

constexpr int iconSize = 64;

// The icon the desktop knows the application by when it is installed, else the bundled one.
QIcon applicationIcon() {
    registerBundledIcon();
    return QIcon::fromTheme(AppIdentity::identifier(),
                            QIcon(QStringLiteral(":/snipjar/settings/snipjar.svg")));
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

    version = new QLabel(versionLine(), this);
    version->setObjectName(QStringLiteral("versionLine"));
    SettingsSection::makeSecondary(*version, true);
    layout->addWidget(version, 0, Qt::AlignHCenter);

    limitLines = new QLabel(this);
    limitLines->setObjectName(QStringLiteral("platformLimits"));
    limitLines->setAlignment(Qt::AlignHCenter);
    limitLines->setWordWrap(true);
    SettingsSection::makeSecondary(*limitLines, true);
    limitLines->hide();
    layout->addWidget(limitLines);
}

void SettingsHeader::setPlatform(const QString& backend, const QStringList& limits) {
    version->setText(backend.isEmpty() ? versionLine() : versionLine() + QStringLiteral(" · ") + backend);
    limitLines->setText(limits.join(QLatin1Char('\n')));
    limitLines->setVisible(!limits.isEmpty());
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
