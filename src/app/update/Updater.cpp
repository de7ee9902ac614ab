#include "app/update/Updater.h"

#include "app/update/SemanticVersion.h"
#include "app/update/UpdateChecker.h"
#include "app/update/UpdateConfiguration.h"
#include "app/update/UpdateDownload.h"
#include "app/update/UpdateSchedule.h"
#include "platform/AppIdentity.h"
#include "platform/LogCategories.h"
#include "platform/UserSettings.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

#include <utility>

namespace snipjar {

namespace {

constexpr std::chrono::hours backgroundTickInterval{1};
constexpr int progressSteps = 1000;

} // namespace

Updater::Updater(std::function<UpdateConfiguration()> configuration, QObject* parent)
    : QObject(parent)
    , configuration(std::move(configuration))
    , updateChecker(new UpdateChecker(this))
    , updateDownload(new UpdateDownload(this))
    , backgroundTimer(new QTimer(this)) {
    backgroundTimer->setInterval(backgroundTickInterval);
    connect(backgroundTimer, &QTimer::timeout, this, &Updater::backgroundTick);
    connect(updateChecker, &UpdateChecker::finished, this, &Updater::handleOutcome);
    connect(updateDownload, &UpdateDownload::progress, this, [this](qint64 received, qint64 total) {
        if (progressDialog && total > 0) {
            progressDialog->setValue(int(received * progressSteps / total));
        }
    });
    connect(updateDownload, &UpdateDownload::finished, this, &Updater::showDownloadResult);
}

Updater::~Updater() {
    delete dialog.data();
    delete progressDialog.data();
}

QString Updater::menuItemText() {
    return UpdateConfiguration::current().menuItemText();
}

bool Updater::canCheck() {
    return UpdateConfiguration::current().canCheck();
}

void Updater::checkForUpdates() {
    if (!configuration().canCheck()) {
        showNotConfigured();
        return;
    }
    // A background check already on its way answers this request too.
    userIsWaiting = true;
    startCheck();
}

void Updater::startBackgroundChecks() {
    if (!configuration().canCheck()) {
        qCInfo(lcUpdate) << "no update feed configured; updates come from the package manager";
        return;
    }
    backgroundTimer->start();
    // From the event loop, so that start-up finishes before the first request goes out.
    QTimer::singleShot(0, this, &Updater::backgroundTick);
}

void Updater::backgroundTick() {
    if (updateChecker->isChecking() ||
        !UpdateSchedule::isDue(UserSettings::lastUpdateCheck(), QDateTime::currentDateTimeUtc())) {
        return;
    }
    startCheck();
}

void Updater::startCheck() {
    const auto running = SemanticVersion::parse(AppIdentity::version());
    if (!running) {
        // The version comes from the build; a build that cannot state it cannot compare it either.
        qCWarning(lcUpdate) << "the running version" << AppIdentity::version() << "is no semantic version";
        handleOutcome(UpdateOutcome::failed(tr("This copy of Snipjar has no version to compare.")));
        return;
    }
    updateChecker->check(configuration(), *running);
}

void Updater::handleOutcome(const UpdateOutcome& outcome) {
    const bool answerUser = std::exchange(userIsWaiting, false);
    if (outcome.kind != UpdateOutcome::Kind::Failed) {
        UserSettings::setLastUpdateCheck(QDateTime::currentDateTimeUtc());
    }
    if (!answerUser && outcome.kind != UpdateOutcome::Kind::Newer) {
        return;
    }

    auto* box = new QMessageBox;
    box->setWindowTitle(tr("Software Update"));
    switch (outcome.kind) {
    case UpdateOutcome::Kind::Newer: {
        const UpdateInfo& info = *outcome.info;
        box->setIcon(QMessageBox::Information);
        box->setText(tr("A new version of Snipjar is available!"));
        box->setInformativeText(tr("Snipjar %1 is now available — you have %2.\n\nRelease notes: %3")
                                    .arg(info.version.toString(), AppIdentity::version(),
                                         info.notesUrl.toString(QUrl::FullyEncoded)));
        box->setDetailedText(tr("Download: %1\nSize: %2 bytes\nSHA-256: %3")
                                 .arg(info.downloadUrl.toString(QUrl::FullyEncoded),
                                      QLocale().toString(info.size), info.sha256));
        QPushButton* download = box->addButton(tr("Download"), QMessageBox::AcceptRole);
        QPushButton* notes = box->addButton(tr("Release Notes"), QMessageBox::ActionRole);
        box->addButton(tr("Later"), QMessageBox::RejectRole);
        box->setDefaultButton(download);
        const QUrl notesUrl = info.notesUrl;
        connect(download, &QPushButton::clicked, this, [this, info] { this->download(info); });
        connect(notes, &QPushButton::clicked, box, [notesUrl] { QDesktopServices::openUrl(notesUrl); });
        break;
    }
    case UpdateOutcome::Kind::UpToDate:
        box->setIcon(QMessageBox::Information);
        box->setText(tr("You're up to date!"));
        box->setInformativeText(
            tr("Snipjar %1 is currently the newest version available.").arg(AppIdentity::version()));
        box->addButton(QMessageBox::Ok);
        break;
    case UpdateOutcome::Kind::Failed:
        box->setIcon(QMessageBox::Warning);
        box->setText(tr("Snipjar couldn't check for updates."));
        box->setInformativeText(outcome.message);
        box->addButton(QMessageBox::Ok);
        break;
    }
    showDialog(box);
}

void Updater::download(const UpdateInfo& info) {
    if (updateDownload->isRunning()) {
        return;
    }
    auto* progress = new QProgressDialog(tr("Downloading Snipjar %1…").arg(info.version.toString()),
                                         tr("Cancel"), 0, progressSteps);
    progress->setWindowTitle(tr("Software Update"));
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setMinimumDuration(0);
    connect(progress, &QProgressDialog::canceled, updateDownload, &UpdateDownload::cancel);
    progressDialog = progress;
    progress->show();
    updateDownload->start(info, UpdateDownload::defaultFolder());
}

void Updater::showDownloadResult(const UpdateDownload::Result& result) {
    if (progressDialog) {
        progressDialog->close();
    }
    auto* box = new QMessageBox;
    box->setWindowTitle(tr("Software Update"));
    if (!result) {
        box->setIcon(QMessageBox::Warning);
        box->setText(tr("Snipjar couldn't download the update."));
        box->setInformativeText(result.message);
        box->addButton(QMessageBox::Ok);
        showDialog(box);
        return;
    }
    box->setIcon(QMessageBox::Information);
    box->setText(tr("The update is downloaded and checked."));
    box->setInformativeText(
        tr("It is exactly the file the update announced (same size and SHA-256):\n%1").arg(result.path));
    QPushButton* open = box->addButton(tr("Open"), QMessageBox::AcceptRole);
    QPushButton* folder = box->addButton(tr("Show in Folder"), QMessageBox::ActionRole);
    box->addButton(QMessageBox::Close);
    box->setDefaultButton(open);
    // The desktop's handler for the file's type is usually the package installer.
    const QString path = result.path;
    connect(open, &QPushButton::clicked, box,
            [path] { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); });
    connect(folder, &QPushButton::clicked, box,
            [path] { QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath())); });
    showDialog(box);
}

void Updater::showNotConfigured() {
    auto* box = new QMessageBox;
    box->setWindowTitle(tr("Software Update"));
    box->setIcon(QMessageBox::Information);
    box->setText(tr("Updates come from your package manager."));
    box->setInformativeText(
        tr("This copy of Snipjar has no update server; your distribution's package manager "
           "keeps it up to date."));
    box->addButton(QMessageBox::Ok);
    showDialog(box);
}

void Updater::showDialog(QMessageBox* box) {
    // One update dialog at a time: a newer answer replaces an older one still on screen.
    if (dialog) {
        dialog->close();
    }
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    dialog = box;
    box->show();
    // The application lives in the tray and is rarely the active one when the dialog appears.
    box->raise();
    box->activateWindow();
}

} // namespace snipjar
