#include "TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryFile>
#include <QThread>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

struct Finished {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Finished runSnipjar(const QStringList& arguments,
                    const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(SNIPJAR_EXECUTABLE), arguments);
    process.waitForFinished(30000);
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

// Copies text to the clipboard with xclip, which keeps serving it until it is killed.
class XclipOwner {
public:
    XclipOwner(const QByteArray& data, const QString& mime) {
        // xclip reads the file, takes the clipboard and serves it until it is killed.
        file.open();
        file.write(data);
        file.flush();
        process.start(QStringLiteral("xclip"),
                      {QStringLiteral("-quiet"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                       QStringLiteral("-t"), mime, QStringLiteral("-i"), file.fileName()});
        process.waitForStarted();
    }
    ~XclipOwner() {
        process.kill();
        process.waitForFinished();
    }

private:
    QTemporaryFile file;
    QProcess process;
};

QJsonArray listJson(const QStringList& extra = {}) {
    const Finished listed = runSnipjar(QStringList{QStringLiteral("list"), QStringLiteral("--json")} + extra);
    EXPECT_EQ(listed.exitCode, 0) << listed.err.constData();
    return QJsonDocument::fromJson(listed.out).array();
}

bool waitFor(const std::function<bool()>& condition, int milliseconds = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        if (condition()) {
            return true;
        }
        QThread::msleep(50);
    }
    return condition();
}

int modeOf(const QString& path) {
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 0777;
}

} // namespace

// The command line: version, usage errors with status 2, and no display needed for commands.
TEST(AppCommandLine, VersionUsageAndListWithoutDisplay) {
    snipjar::test::TestEnvironment environment;
    const Finished version = runSnipjar({QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith("snipjar ")) << version.out.constData();

    for (const QStringList& bad :
         {QStringList{QStringLiteral("frobnicate")},
          QStringList{QStringLiteral("list"), QStringLiteral("--bogus")},
          QStringList{QStringLiteral("list"), QStringLiteral("--limit"), QStringLiteral("x")}}) {
        const Finished failed = runSnipjar(bad);
        EXPECT_EQ(failed.exitCode, 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(failed.err.contains("usage: snipjar")) << failed.err.constData();
        EXPECT_TRUE(failed.out.isEmpty());
    }

    QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
    noDisplay.remove(QStringLiteral("DISPLAY"));
    noDisplay.remove(QStringLiteral("WAYLAND_DISPLAY"));
    const Finished empty = runSnipjar({QStringLiteral("list"), QStringLiteral("--json")}, noDisplay);
    EXPECT_EQ(empty.exitCode, 0) << empty.err.constData();
    EXPECT_EQ(QJsonDocument::fromJson(empty.out).array().size(), 0);
    // Listing never creates the history.
    EXPECT_FALSE(QFileInfo::exists(environment.path(QStringLiteral("data/Snipjar/history-v2.store"))));

    const Finished headless = runSnipjar({}, noDisplay);
    EXPECT_EQ(headless.exitCode, 1);
    EXPECT_EQ(headless.err.count('\n'), 1) << headless.err.constData();
}

// The application captures a copy into the store; the list shows it while the application runs;
// a second copy exits at once and leaves the first running.
TEST(AppProcess, CapturesListsAndStaysSingle) {
    snipjar::test::TestEnvironment environment;
    QProcess app;
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(QStringLiteral(SNIPJAR_EXECUTABLE), {});
    ASSERT_TRUE(app.waitForStarted());

    {
        XclipOwner owner("copied from xclip \xE2\x9C\x93", QStringLiteral("UTF8_STRING"));
        ASSERT_TRUE(waitFor([] {
            const QJsonArray rows = listJson();
            return !rows.isEmpty() && rows.first().toObject().value(QStringLiteral("title")).toString() ==
                                          QStringLiteral("copied from xclip \u2713");
        })) << "the copy did not reach the history";
    }
    {
        XclipOwner owner("second\nline", QStringLiteral("text/plain"));
        ASSERT_TRUE(waitFor([] { return listJson().size() == 2; }));
    }

    const QJsonArray newest = listJson({QStringLiteral("--limit"), QStringLiteral("1")});
    ASSERT_EQ(newest.size(), 1);
    const QJsonObject row = newest.first().toObject();
    EXPECT_EQ(row.value(QStringLiteral("title")).toString(), QStringLiteral("second\nline"));
    EXPECT_EQ(row.value(QStringLiteral("kind")).toString(), QStringLiteral("text"));
    EXPECT_EQ(row.value(QStringLiteral("store")).toString(), QStringLiteral("synced"));
    EXPECT_FALSE(row.value(QStringLiteral("pinned")).toBool());
    EXPECT_FALSE(row.value(QStringLiteral("device")).toString().isEmpty());

    // The plain listing keeps one row per line, even for a title with a line break.
    const Finished plain = runSnipjar({QStringLiteral("list")});
    EXPECT_EQ(plain.out.count('\n'), 2) << plain.out.constData();

    QElapsedTimer timer;
    timer.start();
    const Finished second = runSnipjar({});
    EXPECT_EQ(second.exitCode, 0) << second.err.constData();
    EXPECT_LT(timer.elapsed(), 10000);
    EXPECT_EQ(app.state(), QProcess::Running);

    const QString storeFolder = environment.path(QStringLiteral("data/Snipjar"));
    EXPECT_EQ(modeOf(storeFolder), 0700);
    for (const QFileInfo& file : QDir(storeFolder).entryInfoList(QDir::Files)) {
        EXPECT_EQ(modeOf(file.filePath()), 0600) << file.fileName().toStdString();
    }

    app.terminate();
    EXPECT_TRUE(app.waitForFinished(10000));
}
