#include "app/onboarding/OnboardingView.h"

#include "panel/widgets/PanelSymbols.h"
#include "paste/HotKeyCombo.h"
#include "paste/KeyComboText.h"
#include "platform/UserSettings.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace snipjar {

namespace {

QLabel* text(const QString& content, int pointSize, bool semibold, bool secondary, QWidget* parent) {
    auto* label = new QLabel(content, parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignHCenter);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSizeF(pointSize);
    font.setWeight(semibold ? QFont::DemiBold : QFont::Normal);
    label->setFont(font);
    if (secondary) {
        QPalette palette = label->palette();
        QColor colour = palette.color(QPalette::WindowText);
        colour.setAlphaF(0.6);
        palette.setColor(QPalette::WindowText, colour);
        label->setPalette(palette);
    }
    return label;
}

QLabel* symbol(const QString& name, int side, const QColor& colour, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setAlignment(Qt::AlignHCenter);
    label->setPixmap(panelSymbolPixmap(name, side, colour, parent->devicePixelRatioF()));
    return label;
}

// The combination in a key cap, above a line saying what it does.
QWidget* keyRow(const QString& combination, const QString& caption, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QVBoxLayout(row);
    layout->setContentsMargins(0, 4, 0, 0);
    layout->setSpacing(8);
    auto* cap = text(combination, 17, false, false, row);
    cap->setObjectName(QStringLiteral("keyCap"));
    cap->setStyleSheet(QStringLiteral("QLabel#keyCap { border: 1px solid palette(mid); border-radius: 12px; "
                                      "padding: 8px 18px; background: palette(base); }"));
    cap->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    layout->addWidget(cap, 0, Qt::AlignHCenter);
    layout->addWidget(text(caption, 11, false, true, row));
    return row;
}

QWidget* summaryRow(const QString& symbolName, const QString& content, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    auto* icon = symbol(symbolName, 20, parent->palette().color(QPalette::WindowText), row);
    icon->setFixedWidth(20);
    layout->addWidget(icon, 0, Qt::AlignTop);
    auto* label = text(content, 11, false, false, row);
    label->setAlignment(Qt::AlignLeft);
    label->setMaximumWidth(350);
    layout->addWidget(label, 1);
    return row;
}

} // namespace

OnboardingView::OnboardingView(std::function<bool()> canPaste, std::function<void()> onFinish,
                               bool desktopRunsHotKey, QWidget* parent)
    : QWidget(parent)
    , canPaste(std::move(canPaste))
    , onFinish(std::move(onFinish))
    , pasteGranted(this->canPaste && this->canPaste())
    , combination(HotKeyCombo::fromSettings().linuxDisplayString())
    , desktopRunsHotKey(desktopRunsHotKey)
    , steps(new QStackedWidget(this))
    , skipButton(new QPushButton(QStringLiteral("Skip for now"), this))
    , primaryButton(new QPushButton(QStringLiteral("Continue"), this))
    , pasteTick(new QTimer(this)) {
    setFixedSize(viewSize);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(28);
    steps->addWidget(buildWelcome());
    steps->addWidget(buildPasteStep());
    steps->addWidget(buildSummary());
    layout->addWidget(steps, 1);

    auto* footer = new QHBoxLayout;
    auto* dotRow = new QHBoxLayout;
    dotRow->setSpacing(6);
    for (int index = 0; index < 3; ++index) {
        auto* dot = new QLabel(this);
        dot->setFixedSize(6, 6);
        dots.append(dot);
        dotRow->addWidget(dot);
    }
    footer->addLayout(dotRow);
    footer->addStretch(1);
    skipButton->setFlat(true);
    footer->addWidget(skipButton);
    primaryButton->setDefault(true);
    primaryButton->setAutoDefault(true);
    primaryButton->setMinimumHeight(34);
    // As wide as its longest text, so that it does not jump on the last step.
    primaryButton->setMinimumWidth(
        primaryButton->fontMetrics().horizontalAdvance(QStringLiteral("Start Using Snipjar")) + 32);
    footer->addWidget(primaryButton);
    layout->addLayout(footer);

    connect(primaryButton, &QPushButton::clicked, this, &OnboardingView::advance);
    connect(skipButton, &QPushButton::clicked, this, &OnboardingView::skip);
    // Whether keys can be typed is looked at again every second, so a change shows at once.
    pasteTick->setInterval(1000);
    connect(pasteTick, &QTimer::timeout, this, &OnboardingView::tick);
    pasteTick->start();
    showStep(0);
}

QWidget* OnboardingView::buildWelcome() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->setSpacing(14);
    layout->addStretch(1);
    layout->addWidget(symbol(QStringLiteral("paperclip"), 96, palette().color(QPalette::Highlight), page));
    layout->addWidget(text(QStringLiteral("Snipjar"), 22, true, false, page));
    layout->addWidget(text(QStringLiteral("Your clipboard, on all your computers."), 13, false, true, page));
    layout->addWidget(keyRow(
        combination,
        desktopRunsHotKey ? QStringLiteral("opens your clipboard history once your desktop runs it for "
                                           "Snipjar \u2014 Settings, under Shortcut, shows how.")
                          : QStringLiteral("opens your clipboard history \u2014 from anywhere."),
        page));
    layout->addStretch(1);
    return page;
}

QWidget* OnboardingView::buildPasteStep() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->setSpacing(14);
    layout->addStretch(1);
    pasteIcon = new QLabel(page);
    pasteIcon->setAlignment(Qt::AlignHCenter);
    layout->addWidget(pasteIcon);
    pasteTitle = text(QString(), 17, true, false, page);
    layout->addWidget(pasteTitle);
    pasteText = text(QString(), 11, false, false, page);
    // A fixed width lets the wrapped text take the height it needs when it changes.
    pasteText->setFixedWidth(340);
    layout->addWidget(pasteText, 0, Qt::AlignHCenter);
    pasteKeyRow = keyRow(combination, QStringLiteral("opens Snipjar from anywhere."), page);
    layout->addWidget(pasteKeyRow);
    layout->addStretch(1);
    refreshPasteStep();
    return page;
}

QWidget* OnboardingView::buildSummary() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->setSpacing(14);
    layout->addStretch(1);
    layout->addWidget(
        symbol(QStringLiteral("checkmark.circle"), 64, palette().color(QPalette::Highlight), page));
    layout->addWidget(text(QStringLiteral("That's it"), 17, true, false, page));
    layout->addSpacing(6);
    // Sync needs a server of the user's own; a fresh install has none, so it promises nothing.
    const bool syncs = UserSettings::syncEnabled() && UserSettings::syncServer().has_value();
    layout->addWidget(summaryRow(
        QStringLiteral("arrow.triangle.2.circlepath"),
        syncs ? QStringLiteral("History syncs privately through your own sync server \u2014 every computer "
                               "you sign into sees the same clipboard. Turn it off any time in Settings.")
              : QStringLiteral("Your history stays on this computer. To see it on your other computers "
                               "too, set up your own sync server in Settings."),
        page));
    layout->addWidget(summaryRow(QStringLiteral("power"),
                                 QStringLiteral("Snipjar starts at login and lives in your system tray."),
                                 page));
    layout->addWidget(summaryRow(QStringLiteral("keyboard"),
                                 combination + QStringLiteral(" whenever you need something you copied."),
                                 page));
    layout->addStretch(1);
    return page;
}

void OnboardingView::refreshPasteStep() {
    const QColor colour = pasteGranted ? QColor(0x2e, 0xa0, 0x43) : palette().color(QPalette::WindowText);
    pasteIcon->setPixmap(
        panelSymbolPixmap(pasteGranted ? QStringLiteral("checkmark.circle") : QStringLiteral("hand.raised"),
                          64, colour, devicePixelRatioF()));
    pasteTitle->setText(pasteGranted ? QStringLiteral("Snipjar is ready to paste")
                                     : QStringLiteral("Let Snipjar paste for you"));
    const QString paste = keyComboText(HotKeyCombo::commandBit, QStringLiteral("V"));
    pasteText->setText(
        pasteGranted ? QStringLiteral("Pressing Return pastes straight into the app you're working in.")
                     : QStringLiteral(
                           "This desktop does not let Snipjar type keys for another program (on X11: its X "
                           "server has no XTEST extension), so pressing Return can't paste straight into the "
                           "app you're working in.\n\nSnipjar still copies your pick \u2014 you just press "
                           "%1 yourself.")
                           .arg(paste));
    pasteKeyRow->setVisible(pasteGranted);
    skipButton->setVisible(currentStep == 1 && !pasteGranted);
}

void OnboardingView::showStep(int step) {
    currentStep = step;
    steps->setCurrentIndex(step);
    primaryButton->setText(step == 2 ? QStringLiteral("Start Using Snipjar") : QStringLiteral("Continue"));
    skipButton->setVisible(step == 1 && !pasteGranted);
    const QColor on = palette().color(QPalette::WindowText);
    QColor off = on;
    off.setAlphaF(0.3 * 0.6);
    for (int index = 0; index < dots.size(); ++index) {
        dots[index]->setStyleSheet(QStringLiteral("background: %1; border-radius: 3px;")
                                       .arg((index == step ? on : off).name(QColor::HexArgb)));
    }
    primaryButton->setFocus();
}

void OnboardingView::advance() {
    if (currentStep < 2) {
        showStep(currentStep + 1);
    } else if (onFinish) {
        onFinish();
    }
}

void OnboardingView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        advance();
        return;
    }
    QWidget::keyPressEvent(event);
}

void OnboardingView::skip() {
    if (currentStep == 1) {
        showStep(2);
    }
}

void OnboardingView::tick() {
    if (currentStep != 1 || !canPaste) {
        return;
    }
    const bool granted = canPaste();
    if (granted != pasteGranted) {
        pasteGranted = granted;
        refreshPasteStep();
    }
}

} // namespace snipjar
