#include "app/onboarding/OnboardingWindow.h"

#include "app/onboarding/OnboardingView.h"

#include <QCloseEvent>
#include <QVBoxLayout>

namespace snipjar {

OnboardingWindow::OnboardingWindow(std::function<bool()> canPaste, std::function<bool()> isTerminating,
                                   bool desktopRunsHotKey, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint)
    , isTerminating(std::move(isTerminating)) {
    setWindowTitle(QStringLiteral("Welcome to Snipjar"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    content = new OnboardingView(
        std::move(canPaste), [this] { close(); }, desktopRunsHotKey, this);
    layout->addWidget(content);
    setFixedSize(content->size());
}

void OnboardingWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (!done && !(isTerminating && isTerminating())) {
        done = true;
        emit completed();
    }
}

} // namespace snipjar
