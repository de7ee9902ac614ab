#pragma once

#include <QWidget>

#include <functional>

namespace snipjar {

class OnboardingView;

// The welcome window shown on the first run: the three steps of OnboardingView in a small window
// that stays above others. Finishing or closing it completes onboarding, unless the application is
// quitting meanwhile.
class OnboardingWindow : public QWidget {
    Q_OBJECT
public:
    OnboardingWindow(std::function<bool()> canPaste, std::function<bool()> isTerminating,
                     bool desktopRunsHotKey = false, QWidget* parent = nullptr);

    OnboardingView& view() { return *content; }

signals:
    // Onboarding is over: the user finished it or closed the window.
    void completed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<bool()> isTerminating;
    OnboardingView* content;
    bool done = false;
};

} // namespace snipjar
