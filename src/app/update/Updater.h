#pragma once

#include "app/update/UpdateConfiguration.h"
#include "app/update/UpdateDownload.h"

#include <QObject>
#include <QPointer>

#include <functional>

class QMessageBox;
class QProgressDialog;
class QTimer;

namespace snipjar {

class UpdateChecker;
struct UpdateInfo;
struct UpdateOutcome;

// The application's update component. A user-initiated check always answers with a small dialog:
// a newer version with its release notes and download, "You're up to date!", or why the check
// failed. Background checks run once a day and speak up only for a newer version; being up to date
// and errors are logged. The download is fetched here, with its progress shown, and offered to be
// opened only once it matches the size and SHA-256 the signed feed announced; nothing is installed.
class Updater : public QObject {
    Q_OBJECT
public:
    // The configuration is read at every check; tests point it at a local server.
    explicit Updater(std::function<UpdateConfiguration()> configuration = &UpdateConfiguration::current,
                     QObject* parent = nullptr);
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
    UpdateDownload& downloader() { return *updateDownload; }
    // Downloads the release into the private update folder and says how it went.
    void download(const UpdateInfo& info);

private:
    void backgroundTick();
    void startCheck();
    void handleOutcome(const UpdateOutcome& outcome);
    void showDialog(QMessageBox* box);
    void showNotConfigured();
    void showDownloadResult(const UpdateDownload::Result& result);

    std::function<UpdateConfiguration()> configuration;
    UpdateChecker* updateChecker;
    UpdateDownload* updateDownload;
    QTimer* backgroundTimer;
    bool userIsWaiting = false;
    QPointer<QMessageBox> dialog;
    QPointer<QProgressDialog> progressDialog;
};

} // namespace snipjar
