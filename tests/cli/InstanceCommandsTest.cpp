#include "CliRunner.h"

#include "app/CommandLine.h"
#include "app/LocalSocket.h"
#include "app/SingleInstance.h"

#include <QFile>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <map>

using namespace snipjar;
using namespace snipjar::test;

namespace {

// A copy made by hand with xclip, given up once `filed` holds.
template <typename Filed> bool copiedByHand(const QByteArray& text, Filed filed) {
    SelectionOwners owner;
    owner.xclip(text);
    return waitUntil(filed, 20000);
}

QStringList titles() {
    QStringList result;
    for (const QJsonValue& row : listed()) {
        result << row["title"].toString();
    }
    return result;
}

class CliInstance : public RunningSnipjar {
protected:
    void SetUp() override {
        UserSettings::setValue(UserSettings::historyLengthKey, 1000);
        startSnipjar();
    }
};

} // namespace

// The running Snipjar carries out the history commands, its own capture filing into the same history.
TEST_F(CliInstance, HistoryCommandsGoThroughTheRunningSnipjar) {
    const CliRun added = runCli({"add"}, "from a script");
    ASSERT_EQ(added.exitCode, 0) << added.err.constData();
    const QString id = addedId(added);
    ASSERT_TRUE(copiedByHand("copied by hand", [] { return listed().size() == 2; }));
    EXPECT_EQ(titles(), (QStringList{"copied by hand", "from a script"}));
    EXPECT_EQ(runCli({"pin", id}).exitCode, 0);
    // Ids are checked by the running copy.
    const CliRun unknown = runCli({"delete", "0000"});
    EXPECT_EQ(unknown.exitCode, 1) << unknown.err.constData();

    EXPECT_EQ(runCli({"clear", "--keep-pinned", "--yes"}).exitCode, 0);
    EXPECT_EQ(titles(), QStringList{"from a script"});
    EXPECT_EQ(runCli({"delete", id}).exitCode, 0);
    // copy puts the clip on the clipboard without filing it again; paste types it into the window in front.
    const QString older = addedId(runCli({"add", "--text", "older clip"}));
    const QString newer = addedId(runCli({"add", "--text", "newer clip"}));
    ASSERT_EQ(runCli({"copy", older}).exitCode, 0);
    EXPECT_EQ(xclipOutput(), "older clip");
    EXPECT_TRUE(logged("Clip copied on request"));
    // copy - puts standard input there as it is, and it is not filed either.
    ASSERT_EQ(runCli({"copy", "-", "--mime", "text/html"}, "<i>piped</i>").exitCode, 0);
    EXPECT_EQ(runCli({"clipboard", "--mime", "text/html"}).out, "<i>piped</i>");

    QTemporaryDir folder;
    const QString typed = folder.filePath("typed.txt");
    Xterm terminal(typingTerminal(typed));
    ASSERT_TRUE(bringToFront(terminal));
    ASSERT_EQ(runCli({"paste", newer.left(8)}).exitCode, 0);
    EXPECT_TRUE(waitUntil([&] { return fileContents(typed) == "newer clip"; }, 20000))
        << fileContents(typed).constData();
    // pause stops recording copies until resume, and status tells it with the running backend.
    ASSERT_EQ(runCli({"pause", "30"}).exitCode, 0);
    ASSERT_TRUE(logged("Recording paused"));
    const QJsonObject status = QJsonDocument::fromJson(runCli({"status", "--json"}).out).object();
    EXPECT_TRUE(status["running"].toBool());
    EXPECT_EQ(status["backend"].toString(), "X11");
    EXPECT_FALSE(status["recording"].toBool());
    EXPECT_GT(QDateTime::fromString(status["pausedUntil"].toString(), Qt::ISODate),
              QDateTime::currentDateTimeUtc());
    EXPECT_EQ(status["stores"]["synced"]["clips"].toInt(), 2) << runCli({"status"}).out.constData();
    EXPECT_EQ(status["sync"]["state"].toString(), "off");
    ASSERT_TRUE(copiedByHand("a password copied by hand", [&] { return logged("is not captured"); }));
    ASSERT_EQ(runCli({"resume"}).exitCode, 0);
    ASSERT_TRUE(logged("Recording resumed"));
    ASSERT_TRUE(copiedByHand("copied after the pause", [] { return listed().size() == 3; }));
    EXPECT_EQ(titles(), (QStringList{"copied after the pause", "newer clip", "older clip"}));
    // export and import are carried out by the running Snipjar, whose panel sees what came back.
    const QString archive = folder.filePath("history.tar");
    ASSERT_EQ(runCli({"export", archive}).exitCode, 0);
    ASSERT_EQ(runCli({"clear", "--yes"}).exitCode, 0);
    EXPECT_TRUE(runCli({"import", archive}).out.startsWith("imported 3 clips")) << log.constData();
    EXPECT_TRUE(logged("History import finished on request"));
    EXPECT_EQ(titles(), (QStringList{"copied after the pause", "newer clip", "older clip"}));
    // A setting changed from the command line acts at once: the history shrinks to its new length.
    ASSERT_EQ(runCli({"config", "historyLength", "1"}).exitCode, 0);
    EXPECT_EQ(titles(), QStringList{"copied after the pause"});
    // HTML beside the text is kept byte for byte and offered again by copy; add --mime titles HTML by its
    // words.
    const QByteArray html = "<b>bold</b> w\xC3\xB6rds\r\n";
    {
        SelectionOwners owner;
        owner.helper({"UTF8_STRING", "bold w\u00F6rds", "text/html", QString::fromUtf8(html)});
        ASSERT_TRUE(waitUntil([] { return titles() == QStringList{"bold w\u00F6rds"}; }, 20000));
    }
    ASSERT_EQ(runCli({"copy", "@0"}).exitCode, 0);
    EXPECT_EQ(runCli({"clipboard", "--mime", "text/html"}).out, html);
    const QString slanted = addedId(runCli({"add", "--mime", "text/html"}, "<p><i>slanted</i></p>"));
    const QJsonArray types =
        QJsonDocument::fromJson(runCli({"show", "--list-types", "--json", slanted}).out).array();
    ASSERT_EQ(types.size(), 2);
    EXPECT_EQ(types[1].toObject(), (QJsonObject{{"type", "text/html"}, {"size", 21}}));
    EXPECT_EQ(titles(), QStringList{"slanted"});
    EXPECT_EQ(app.state(), QProcess::Running);
}

// watch prints a row for every clip filed, in order, through a burst of 1,000 xclip copies (checked
// against what was filed: copies faster than the capture collapse). --exec runs per clip; a failing
// command is reported and watching goes on. SIGTERM ends a watch with 0, Snipjar quitting with 1.
TEST_F(CliInstance, WatchSeesEveryClipFiledInOrderUntilSnipjarQuits) {
    QTemporaryDir folder;
    const QString ran = folder.filePath("ran");
    QProcess json, text, exec;
    json.start(QStringLiteral(SNIPJAR_EXECUTABLE), {"watch", "--json"});
    text.start(QStringLiteral(SNIPJAR_EXECUTABLE), {"watch"});
    exec.start(QStringLiteral(SNIPJAR_EXECUTABLE),
               {"watch", "--exec",
                QStringLiteral("printf '%s|%s|%s\\n' \"$SNIPJAR_KIND\" \"$SNIPJAR_TITLE\" \"$(cat)\" >>%1; "
                               "[ \"$SNIPJAR_TITLE\" != fails ]")
                    .arg(ran)});
    ASSERT_TRUE(logged("A watch started; 3 running"));
    QProcess burst;
    burst.start("bash",
                {"-c", "for i in $(seq 1000); do printf \"copy $i\" | xclip -selection clipboard; done"});
    ASSERT_TRUE(burst.waitForFinished(300000));
    ASSERT_TRUE(waitUntil([] { return titles().value(0) == "copy 1000"; }, 60000));
    ASSERT_EQ(runCli({"add", "--text", "fails"}).exitCode, 0);
    QByteArray jsonOut;
    ASSERT_TRUE(
        waitUntil([&] { return (jsonOut += json.readAllStandardOutput()).contains("\"fails\""); }, 60000));
    // Newest first, as list prints them, a clip filed again (moved to the top) at its last place;
    // the limit of 1,000 clips may have taken the oldest.
    const QList<QByteArray> lines = jsonOut.trimmed().split('\n');
    QList<QJsonObject> rows;
    QSet<QString> seen;
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const QJsonObject row = QJsonDocument::fromJson(*line).object();
        if (!seen.contains(row["id"].toString())) {
            seen.insert(row["id"].toString());
            rows << row;
        }
    }
    const QJsonArray filed = listed({"--limit", "5000"});
    ASSERT_GT(filed.size(), 100);
    ASSERT_GE(rows.size(), filed.size());
    QByteArray watched, expected;
    for (qsizetype row = 0; row < filed.size(); ++row) {
        watched += QJsonDocument(rows[row]).toJson(QJsonDocument::Compact) + '\n';
        expected += QJsonDocument(filed[row].toObject()).toJson(QJsonDocument::Compact) + '\n';
    }
    EXPECT_EQ(watched.toStdString(), expected.toStdString());

    ASSERT_TRUE(
        waitUntil([&] { return exec.readAllStandardError().contains("ended with status 1"); }, 120000));
    const QList<QByteArray> commands = fileContents(ran).split('\n');
    EXPECT_EQ(commands.size(), lines.size() + 1);
    const QString first = QJsonDocument::fromJson(lines.first())["title"].toString();
    EXPECT_EQ(commands.value(0), QStringLiteral("text|%1|%1").arg(first).toUtf8());
    text.terminate();
    ASSERT_TRUE(text.waitForFinished(20000));
    EXPECT_EQ(text.exitCode(), 0);
    const QList<QByteArray> columns = text.readAllStandardOutput().split('\n').value(0).split('\t');
    EXPECT_EQ(columns.size(), 7);
    EXPECT_EQ(columns.value(0), QJsonDocument::fromJson(lines.first())["id"].toString().toUtf8());

    ASSERT_EQ(runCli({"quit"}).exitCode, 0);
    for (QProcess* watch : {&json, &exec}) {
        ASSERT_TRUE(watch->waitForFinished(20000));
        EXPECT_EQ(watch->exitCode(), 1);
        EXPECT_TRUE(watch->readAllStandardError().endsWith("snipjar: Snipjar quit; the watch ends\n"));
    }
    // The burst's last xclip gives the clipboard up, so the next test's Snipjar finds it empty.
    SelectionOwners last;
    last.xclip("taken back");
    EXPECT_TRUE(waitUntil([] { return xclipOutput() == "taken back"; }, 20000));
    const CliRun alone = runCli({"watch"});
    EXPECT_EQ(alone.exitCode, 1);
    EXPECT_EQ(alone.err, "snipjar: Snipjar is not running; watch needs it\n");
}

// show-panel, show-settings and quit act on the running Snipjar; when none runs, the first two start
// it. show-panel is answered by the light command itself (its copy here hands over to an "application"
// that only fails). The activation token (or startup id) reaches Snipjar either way; one that cannot
// be a token is dropped and the panel opens all the same.
TEST_F(CliInstance, OpensItsWindowsAndQuits) {
    ASSERT_EQ(runCli({"show-settings"}).exitCode, 0);
    EXPECT_TRUE(waitUntil([] { return windowShown(QStringLiteral("^Snipjar Settings$")); }, 20000));
    QTemporaryDir folder;
    const QString command = folder.filePath("snipjar");
    ASSERT_TRUE(QFile::copy(SNIPJAR_EXECUTABLE, command));
    ASSERT_TRUE(QFile::link("/bin/false", folder.filePath("snipjar-app")));
    const std::pair<QByteArray, QByteArray> tokens[] = {
        {"sway-7f3c91", "Panel asked for with the activation token sway-7f3c91"},
        {"t\x1b]0;owned\x07\n", "Panel asked for without an activation token"},
        {QByteArray(100 * 1024, 't'), "Panel asked for without an activation token"},
    };
    std::map<QByteArray, int> expected;
    for (const auto& [token, logLine] : tokens) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_ACTIVATION_TOKEN", QString::fromLatin1(token));
        const CliRun show = runCli({"show-panel"}, {}, environment, command);
        EXPECT_EQ(show.exitCode, 0) << show.err.constData();
        EXPECT_TRUE(logged(logLine, ++expected[logLine])) << token.left(20).constData();
    }
    EXPECT_TRUE(waitUntil([] { return windowShown(QStringLiteral("^Snipjar$")); }, 20000));
    EXPECT_FALSE(log.contains("owned"));

    const CliRun quit = runCli({"quit"});
    EXPECT_EQ(quit.exitCode, 0) << quit.err.constData();
    ASSERT_TRUE(app.waitForFinished(20000));
    EXPECT_EQ(app.exitCode(), 0);
    QProcessEnvironment launched = QProcessEnvironment::systemEnvironment();
    launched.remove("XDG_ACTIVATION_TOKEN");
    launched.insert("DESKTOP_STARTUP_ID", "openbox/xterm-1_TIME9");
    app.setProcessEnvironment(launched);
    app.start(QStringLiteral(SNIPJAR_EXECUTABLE), {"show-settings"});
    EXPECT_TRUE(waitUntil([] { return windowShown(QStringLiteral("^Snipjar Settings$")); }, 20000));
    EXPECT_TRUE(logged("Settings asked for with the activation token openbox/xterm-1_TIME9"));
}

// The socket answers every line, also options the command line refuses, and cuts off endless ones;
// a peer that asks for a large answer and never reads it holds nobody else up.
TEST_F(CliInstance, TheSocketAnswersEveryLineAndCutsOffEndlessOnes) {
    const QByteArray endless(1 << 20, 'a');
    for (const QByteArray& line :
         {QByteArray("hello\n"), QByteArray("[1]\n"), QByteArray("{\"command\":\"pause\",\"minutes\":-5}\n"),
          QByteArray("{\"command\":\"list\",\"limit\":-1}\n"),
          QByteArray("{\"command\":\"list\",\"kind\":\"te~t\"}\n"),
          QByteArray("{\"command\":\"export\",\"path\":\"relative.tar\"}\n"), endless}) {
        const LocalSocket socket = LocalSocket::connectTo(SingleInstance().socketPath(), 5000);
        ASSERT_TRUE(socket.isValid());
        // The endless line goes on until the connection is cut, twice the longest request at most.
        for (qint64 sent = 0; sent < (line == endless ? 2 * SingleInstance::largestLineBytes : 1) &&
                              socket.writeAll(line, 30000);
             sent += line.size()) {
        }
        const QByteArray answer = socket.readLine(1 << 20, 30000).value_or(QByteArray());
        EXPECT_EQ(QJsonDocument::fromJson(answer)["status"].toInt(), 2) << line.left(40).constData();
    }
    const QString large = addedId(runCli({"add"}, QByteArray(8 << 20, 'x')));
    const QJsonObject show = CommandLine::parse({"snipjar", "show", large}).toJson();
    const LocalSocket neverReads = LocalSocket::connectTo(SingleInstance().socketPath(), 5000);
    ASSERT_TRUE(neverReads.writeAll(QJsonDocument(show).toJson(QJsonDocument::Compact) + '\n', 5000));
    EXPECT_EQ(runCli({"list"}).exitCode, 0);
    EXPECT_FALSE(readLog().contains("Recording paused"));
    // A watch that never reads is dropped at 4 MB of waiting rows; one that reads sees every row.
    const LocalSocket neverWatches = LocalSocket::connectTo(SingleInstance().socketPath(), 5000);
    ASSERT_TRUE(neverWatches.writeAll("{\"command\":\"watch\",\"json\":true}\n", 5000));
    QProcess reads;
    reads.start(QStringLiteral(SNIPJAR_EXECUTABLE), {"watch", "--json"});
    ASSERT_TRUE(logged("A watch started; 2 running"));
    QProcess adds;
    adds.start("bash",
               {"-c", "for i in $(seq 200); do printf \"$i %04990d\" 0 | tr 0 '\\001' | \"$0\" add; done",
                SNIPJAR_EXECUTABLE});
    QByteArray rows;
    EXPECT_TRUE(
        waitUntil([&] { return (rows += reads.readAllStandardOutput()).count('\n') == 200; }, 300000));
    EXPECT_TRUE(logged("A watch that stopped reading was dropped"));
    // The adds may have ended while the rows were awaited.
    EXPECT_TRUE(adds.state() == QProcess::NotRunning || adds.waitForFinished(120000));
    EXPECT_EQ(adds.exitCode(), 0);
    EXPECT_EQ(runCli({"list"}).exitCode, 0);
    reads.terminate();
    reads.waitForFinished(10000);
}

// Four scripts adding 250 clips each at once, while the panel is open: all 1,000 land. SIGTERM
// again and again while Snipjar then quits does not cut its teardown short.
TEST_F(CliInstance, ThousandConcurrentAddsWhileThePanelIsOpenThenRepeatedTermination) {
    ASSERT_EQ(runCli({"show-panel"}).exitCode, 0);
    ASSERT_TRUE(waitUntil([] { return windowShown(QStringLiteral("^Snipjar$")); }, 20000));
    QList<QProcess*> scripts;
    for (int script = 0; script < 4; ++script) {
        auto* shell = new QProcess;
        shell->start(
            "bash",
            {"-c",
             "for i in $(seq 1 250); do \"$0\" add --text \"script $1 clip $i\" >/dev/null || exit 1; done",
             SNIPJAR_EXECUTABLE, QString::number(script)});
        scripts << shell;
    }
    for (QProcess* shell : scripts) {
        EXPECT_TRUE(shell->waitForFinished(600000));
        EXPECT_EQ(shell->exitCode(), 0) << shell->readAllStandardError().constData();
        delete shell;
    }
    const QJsonArray all = listed({"--limit", "5000"});
    QSet<QString> seen;
    for (const QJsonValue& row : all) {
        seen.insert(row["title"].toString());
    }
    EXPECT_EQ(seen.size(), 1000);
    EXPECT_TRUE(windowShown(QStringLiteral("^Snipjar$")));
    const auto pid = static_cast<pid_t>(app.processId());
    while (app.state() == QProcess::Running) {
        ::kill(pid, SIGTERM);
        app.waitForFinished(1);
    }
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_EQ(listed({"--limit", "5000"}).size(), 1000);
}

// clipboard prints what is on the clipboard now, as offered, without filing it; a copy marked as a
// password manager's secret is never printed.
TEST(CliClipboard, PrintsTheClipboardAsOfferedAndNeverASecret) {
    TestEnvironment environment;
    const struct {
        QByteArray bytes;
        QString target;
        QString selection;
        QStringList arguments;
        int exitCode;
        QByteArray out;
    } rows[] = {
        {"copied \xC3\xBC", "UTF8_STRING", "clipboard", {"clipboard"}, 0, "copied \xC3\xBC"},
        {"<b>bold</b>", "text/html", "clipboard", {"clipboard", "--mime", "text/html"}, 0, "<b>bold</b>"},
        {"<b>bold</b>", "text/html", "clipboard", {"clipboard", "--mime", "image/png"}, 1, ""},
        {"selected", "UTF8_STRING", "primary", {"clipboard", "--primary"}, 0, "selected"},
        {"secret", "x-kde-passwordManagerHint", "clipboard", {"clipboard"}, 1, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments.join(' ').toStdString() + " over " + row.target.toStdString());
        SelectionOwners owner;
        owner.xclip(row.bytes, row.target, row.selection);
        const CliRun run = runCli(row.arguments);
        EXPECT_EQ(run.exitCode, row.exitCode) << run.err.constData();
        EXPECT_EQ(run.out, row.out);
    }
    EXPECT_TRUE(runCli({"list"}).out.isEmpty()) << "nothing was filed";
}

// Without a running Snipjar, copy serves the clipboard itself until another program takes it.
TEST(CliClipboard, CopyWithoutAnInstanceServesUntilTheClipboardIsTaken) {
    TestEnvironment environment;
    const QString id = addedId(runCli({"add", "--text", "served by the command"}));
    SelectionOwners other;
    // So does copy - with standard input.
    for (const auto& [source, served] :
         {std::pair{id, QByteArray("served by the command")},
          std::pair{QStringLiteral("-"), QByteArray("piped to the command")}}) {
        QProcess copy;
        copy.start(QStringLiteral(SNIPJAR_EXECUTABLE), {"copy", source});
        ASSERT_TRUE(copy.waitForStarted());
        copy.write(source == "-" ? served : QByteArray());
        copy.closeWriteChannel();
        ASSERT_TRUE(waitUntil([&] { return xclipOutput() == served; }, 20000)) << served.constData();
        other.xclip("someone else");
        ASSERT_TRUE(copy.waitForFinished(20000));
        EXPECT_EQ(copy.exitCode(), 0) << copy.readAllStandardError().constData();
    }
    // paste types it into the window in front, through this process's own X connection.
    QTemporaryDir folder;
    const QString typed = folder.filePath("typed.txt");
    Xterm terminal(typingTerminal(typed));
    ASSERT_TRUE(bringToFront(terminal));
    QProcess paste;
    paste.start(QStringLiteral(SNIPJAR_EXECUTABLE), {"paste", id.left(8)});
    ASSERT_TRUE(paste.waitForStarted());
    EXPECT_TRUE(waitUntil([&] { return fileContents(typed) == "served by the command"; }, 20000))
        << fileContents(typed).constData();
    SelectionOwners last;
    last.xclip("taken back");
    EXPECT_TRUE(paste.waitForFinished(20000));
    EXPECT_EQ(paste.exitCode(), 0);
}
