#include "CliRunner.h"

#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace snipjar;
using namespace snipjar::test;

namespace {

// An Xvfb of the test's own, which the test may kill.
struct PrivateDisplay : QProcess {
    explicit PrivateDisplay(const QString& numberFile) {
        start(QStringLiteral("bash"),
              {"-c", "exec Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>\"$0\"", numberFile});
        waitUntil([&] { return !fileContents(numberFile).trimmed().isEmpty(); }, 10000);
        name = ":" + QString::fromLatin1(fileContents(numberFile).trimmed());
    }
    ~PrivateDisplay() override {
        kill();
        waitForFinished(5000);
    }
    QString name;
};

} // namespace

// Copies already captured are filed whatever ends Snipjar: SIGTERM, or its X server dying (said, and
// status 1), right after the last of five large images is captured while the others are filing.
TEST(QuitWhileCapturing, EveryClipReadBeforeTheEndIsFiled) {
    QTemporaryDir folder;
    QStringList images;
    for (int index = 0; index < 5; ++index) {
        // Noise does not compress: each PNG is some megabytes, filed in a good fraction of a second.
        QByteArray noise(2400 * 1800 * 4, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
        images << folder.filePath(QStringLiteral("noise-%1.png").arg(index));
        ASSERT_TRUE(
            QImage(reinterpret_cast<const uchar*>(noise.constData()), 2400, 1800, QImage::Format_RGB32)
                .save(images.back()));
    }

    for (const bool displayDies : {false, true}) {
        TestEnvironment environment;
        UserSettings::setValue(UserSettings::didOnboardKey, true);
        PrivateDisplay display(environment.path("display"));
        QProcessEnvironment withLog = QProcessEnvironment::systemEnvironment();
        withLog.insert(QStringLiteral("DISPLAY"), display.name);
        withLog.insert(QStringLiteral("QT_LOGGING_RULES"),
                       QStringLiteral("app.snipjar.Snipjar.capture.debug=true"));
        QProcess app;
        app.setProcessEnvironment(withLog);
        app.start(QStringLiteral(SNIPJAR_EXECUTABLE), {});
        ASSERT_TRUE(app.waitForStarted());
        ASSERT_TRUE(snipjarIsReady());

        std::vector<std::unique_ptr<QProcess>> owners;
        QByteArray log;
        for (const QString& image : std::as_const(images)) {
            auto owner = std::make_unique<QProcess>();
            owner->setProcessEnvironment(withLog);
            owner->start(QStringLiteral(SNIPJAR_X11_CLIPBOARD_OWNER), {"image/png", "@" + image});
            const qsizetype captured = log.count("captured; filing it");
            ASSERT_TRUE(waitUntil(
                [&] {
                    app.waitForReadyRead(20);
                    log += app.readAllStandardError();
                    return log.count("captured; filing it") == captured + 1;
                },
                30000))
                << log.constData();
            owners.push_back(std::move(owner));
        }
        if (displayDies) {
            display.kill();
        } else {
            app.terminate();
        }
        ASSERT_TRUE(app.waitForFinished(30000));
        log += app.readAllStandardError();
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(app.exitCode(), displayDies ? 1 : 0);
        EXPECT_EQ(log.contains("snipjar: the X display went away\n"), displayDies) << log.constData();

        EXPECT_EQ(runCli({"list"}).out.count('\n'), images.size()) << displayDies;
        for (const auto& owner : owners) {
            owner->kill();
            owner->waitForFinished();
        }
    }
}
