#pragma once

#include <QObject>
#include <QPointer>

class QMessageBox;
class QTimer;

namespace snipjar {

class UpdateChecker;
struct UpdateOutcome;

// The application's update component. A user-initiated check always answers with a small dialog:
// a newer version with its release notes and download, "You're up to date!", or why the check
// failed. Background checks run once a day and speak up only for a newer version; being up to date
// and errors are logged. Nothing is downloaded or installed here: the download opens in the
// user's browser.
class Updater : public QObject {
    Q_OBJECT
public:
    explicit Updater(QObject* parent = nullptr);
    ~Updater() override;

    // User-initiated: answers with a dialog.
    void checkForUpdates();
    // Checks now if the last answered check is a day old or more, then looks again every hour, so
    // that a computer that slept through the due time checks soon after it wakes.
    void startBackgroundChecks();

    // The menu item's text and whether choosing it can check at all; without a feed address and
    // key the text says that updates come from the distribution's package manager.
    static QString menuItemText();
    static bool canCheck();

    UpdateChecker& checker() { return *updateChecker; }

private:
    void backgroundTick();
    void startCheck();
    void handleOutcome(const UpdateOutcome& outcome);
    void showDialog(QMessageBox* box);
    void showNotConfigured();

    UpdateChecker* updateChecker;
    QTimer* backgroundTimer;
    bool userIsWaiting = false;
    QPointer<QMessageBox> dialog;
};

} // namespace snipjar
