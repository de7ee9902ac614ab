#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
class QStackedWidget;
class QTimer;

namespace snipjar {

// The welcome window's three steps: what Snipjar is and the combination that opens it; whether it
// can paste for you (on X11: whether the display lets it type keys, the XTEST extension); and a
// summary of sync, launch at login and the hot key. Steps only move forward.
class OnboardingView : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize viewSize{440, 480};

    // `canPaste` answers whether keys can be typed into other applications; asked once a second
    // while the second step is shown. `desktopRunsHotKey`: the combination works once the user set
    // it up in the desktop's own shortcuts (Wayland), and the steps say where.
    OnboardingView(std::function<bool()> canPaste, std::function<void()> onFinish,
                   bool desktopRunsHotKey = false, QWidget* parent = nullptr);

    int step() const { return currentStep; }
    bool canPasteShown() const { return pasteGranted; }
    // The primary button: the next step, or finishing on the last.
    void advance();
    // "Skip for now" on the second step.
    void skip();

protected:
    // Return presses the primary button, wherever the focus is in the window.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* buildWelcome();
    QWidget* buildPasteStep();
    QWidget* buildSummary();
    void showStep(int step);
    void refreshPasteStep();
    void tick();

    std::function<bool()> canPaste;
    std::function<void()> onFinish;
    int currentStep = 0;
    bool pasteGranted = false;
    QString combination;
    bool desktopRunsHotKey = false;
    QStackedWidget* steps;
    QLabel* pasteIcon = nullptr;
    QLabel* pasteTitle = nullptr;
    QLabel* pasteText = nullptr;
    QWidget* pasteKeyRow = nullptr;
    QList<QLabel*> dots;
    QPushButton* skipButton;
    QPushButton* primaryButton;
    QTimer* pasteTick;
};

} // namespace snipjar
