#include "CliRunner.h"

#include "ClipStoreTestSupport.h"
#include "app/SingleInstance.h"
#include "app/cli/ClipIds.h"
#include "app/cli/TarStream.h"
#include "store/ClipStore.h"
#include "store/StoreConnection.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>

using namespace snipjar;
using namespace snipjar::test;

namespace {

// Every command here runs without a display and without a running Snipjar: on the store files.
CliRun offline(const QStringList& arguments, const QByteArray& input = {}) {
    return runCli(arguments, input, withoutDisplay());
}

QJsonArray rows(const QStringList& extra = {}) {
    return listed(extra, withoutDisplay());
}

QByteArray pngBytes() {
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(QColor(200, 40, 90));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// What the history shows, ids and computers aside, with a checksum of every clip's bytes and HTML.
QStringList history() {
    QStringList shown;
    for (const QJsonValue& row : rows()) {
        const QByteArray raw = offline({"show", row["id"].toString(), "--raw"}).out +
                               offline({"show", row["id"].toString(), "--mime", "text/html"}).out;
        shown << QStringList{row["kind"].toString(),
                             row["title"].toString(),
                             row["pinned"].toBool() ? "pinned" : "",
                             row["createdAt"].toString(),
                             row["store"].toString(),
                             QString::number(row["byteSize"].toInteger()),
                             QCryptographicHash::hash(raw, QCryptographicHash::Sha256).toHex()}
                     .join('|');
    }
    return shown;
}

// The archive's manifest followed by the members given, written by a writer that checks nothing.
QByteArray afterManifest(const QByteArray& archive, const QList<std::pair<QString, QByteArray>>& members) {
    QByteArray bytes = archive.left(1536);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly | QIODevice::Append);
    TarWriter writer(buffer);
    for (const auto& [name, data] : members) {
        writer.member(name, data);
    }
    writer.finish();
    return bytes;
}

const QByteArray rtf = "{\\rtf1\\ansi{\\fonttbl\\f0\\fswiss Helvetica;}\\f0\\pard Bold {\\b move} here\\par}";

} // namespace

// Every kind of clip goes in through add and out through list, search and show, the same text twice
// being one clip moved to the top; pin, unpin, delete and clear change exactly what they name.
TEST(CliStore, AddedClipsAreListedSearchedAndShown) {
    TestEnvironment environment;
    const CliRun text = offline({"add"}, "Invoice 2041 \xE2\x80\x94 paid\n");
    ASSERT_EQ(text.exitCode, 0) << text.err.constData();
    const QString textId = addedId(text);

    const CliRun rich = offline({"add", "--kind", "rich"}, rtf);
    const CliRun image = offline({"add", "--kind=image"}, pngBytes());
    QTemporaryDir folder;
    const QString filePath = folder.filePath("report draft.txt");
    ASSERT_TRUE(writeFile(filePath, "draft"));
    const CliRun files = offline({"add", "--file", filePath});
    EXPECT_EQ(addedId(offline({"add", "--text", "Invoice 2041 \xE2\x80\x94 paid\n"})), textId);

    const QJsonArray all = rows();
    ASSERT_EQ(all.size(), 4);
    QStringList kinds;
    for (const QJsonValue& row : all) {
        kinds << row["kind"].toString();
        EXPECT_FALSE(row["device"].toString().isEmpty());
        EXPECT_TRUE(QDateTime::fromString(row["createdAt"].toString(), Qt::ISODateWithMs).isValid());
        EXPECT_TRUE(row["createdAt"].toString().endsWith('Z'));
        EXPECT_GT(row["byteSize"].toInteger(), 0);
    }
    EXPECT_EQ(kinds, (QStringList{"text", "file", "image", "richText"}));
    EXPECT_EQ(all[0]["id"].toString(), textId);
    EXPECT_EQ(all[1]["store"].toString(), "local-only");
    EXPECT_EQ(all[0]["store"].toString(), "synced");

    EXPECT_EQ(rows({"--kind", "rich"}).at(0)["kind"].toString(), "richText");
    EXPECT_EQ(rows({"--limit", "2", "--kind", "text"}).size(), 1);
    EXPECT_EQ(rows({"--device", all[0]["device"].toString()}).size(), 4);
    EXPECT_EQ(rows({"--device", "a computer that never copied"}).size(), 0);
    const QJsonObject status = QJsonDocument::fromJson(offline({"status", "--json"}).out).object();
    EXPECT_FALSE(status["running"].toBool());
    EXPECT_EQ(status["stores"]["synced"]["clips"].toInt() + status["stores"]["local-only"]["clips"].toInt(),
              4);
    EXPECT_EQ(status["sync"]["state"].toString(), "not running");
    // Time bounds (a date alone covers that whole day), NUL-ended rows, and search.
    const QString today = QDate::currentDate().toString(Qt::ISODate);
    const QString tomorrow = QDate::currentDate().addDays(1).toString(Qt::ISODate);
    EXPECT_EQ(rows({"--since", today, "--until", today}).size(), 4);
    EXPECT_EQ(rows({"--since", tomorrow}).size(), 0);
    EXPECT_EQ(rows({"--until", all[1]["createdAt"].toString()}).size(), 2);
    const QByteArray ended = offline({"list", "-0", "--limit", "2"}).out;
    EXPECT_EQ(ended.count('\0'), 2);
    EXPECT_FALSE(ended.contains('\n'));
    const QJsonArray found = QJsonDocument::fromJson(offline({"search", "INVOICE", "--json"}).out).array();
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found[0]["id"].toString(), textId);
    // A prefix or a position names a clip; show writes the content as used, --raw as stored.
    EXPECT_EQ(offline({"show", textId.left(8).toLower()}).out, "Invoice 2041 \xE2\x80\x94 paid\n");
    EXPECT_EQ(offline({"show", "@2"}).out, pngBytes());
    const CliRun beyond = offline({"show", "@4"});
    EXPECT_EQ(beyond.exitCode, 1);
    EXPECT_TRUE(beyond.err.contains("holds 4")) << beyond.err.constData();
    EXPECT_EQ(offline({"show", addedId(rich), "--raw"}).out, rtf);
    EXPECT_TRUE(offline({"show", addedId(rich)}).out.startsWith("Bold move here"))
        << offline({"show", addedId(rich)}).out.constData();
    EXPECT_EQ(offline({"show", addedId(files)}).out, filePath.toUtf8() + "\n");
    EXPECT_EQ(offline({"show", addedId(files), "--raw"}).out,
              QUrl::fromLocalFile(filePath).toString(QUrl::FullyEncoded).toUtf8() + "\n");
    // A history of the version before HTML was kept is read as it is, and migrated once written.
    {
        const auto store = StoreConnection::open(environment.path("data/Snipjar/") + ClipStore::syncStoreName,
                                                 StoreConnection::Access::readWrite);
        for (const char* statement :
             {"ALTER TABLE ClipPayload DROP COLUMN htmlData", "ALTER TABLE ClipPayload DROP COLUMN htmlFile",
              "PRAGMA user_version = 2"}) {
            ASSERT_TRUE(store->exec(statement)) << statement;
        }
    }
    EXPECT_EQ(offline({"show", addedId(rich), "--raw"}).out, rtf);
    ASSERT_EQ(offline({"add", "--mime", "text/html"}, "<b>after</b> the upgrade").exitCode, 0);
    EXPECT_EQ(offline({"show", "@0", "--mime", "text/html"}).out, "<b>after</b> the upgrade");
    EXPECT_EQ(offline({"show", addedId(rich), "--list-types"}).out, "text/plain;charset=utf-8\ntext/rtf\n");
    // pin, unpin, delete and clear change exactly what they name; clear asks unless told --yes.
    EXPECT_EQ(offline({"pin", textId}).exitCode, 0);
    EXPECT_EQ(offline({"pin", addedId(image)}).exitCode, 0);
    EXPECT_EQ(offline({"pin", addedId(image)}).exitCode, 0) << "pinning twice keeps it pinned";
    EXPECT_EQ(offline({"unpin", addedId(image)}).exitCode, 0);
    EXPECT_EQ(rows({"--pinned"}).at(0)["id"].toString(), textId);
    EXPECT_EQ(offline({"delete", addedId(rich), addedId(files)}).exitCode, 0);
    EXPECT_EQ(rows().size(), 3);
    const CliRun unconfirmed = offline({"clear"});
    EXPECT_EQ(unconfirmed.exitCode, 2);
    EXPECT_TRUE(unconfirmed.err.contains("--yes")) << unconfirmed.err.constData();
    EXPECT_EQ(offline({"clear", "--keep-pinned", "--yes"}).exitCode, 0);
    EXPECT_EQ(rows().size(), 1);
    EXPECT_EQ(rows().at(0)["id"].toString(), textId);
    EXPECT_EQ(offline({"clear", "--yes"}).exitCode, 0);
    EXPECT_TRUE(rows().isEmpty());
}

// export and import into a fresh profile give the same history (pins, times, HTML), nothing added
// the second time; clips keep the computer they were copied on. A damaged or foreign archive is
// refused whole, with status 1 and the history as it was.
TEST(CliStore, ExportAndImportCarryTheWholeHistory) {
    std::optional<TestEnvironment> source(std::in_place);
    QTemporaryDir folder;
    ASSERT_TRUE(writeFile(folder.filePath("a file.txt"), {}));
    ASSERT_EQ(offline({"add", "--kind", "rich"}, rtf).exitCode, 0);
    ASSERT_EQ(offline({"add", "--mime", "text/html"}, "<p>Quarterly <b>report</b></p>").exitCode, 0);
    ASSERT_EQ(offline({"add", "--kind", "image"}, pngBytes()).exitCode, 0);
    ASSERT_EQ(offline({"add", "--file", folder.filePath("a file.txt")}).exitCode, 0);
    // A text a thousand times larger than most.
    ASSERT_EQ(offline({"add"}, QByteArray(5'000'000, 'x')).exitCode, 0);
    ASSERT_EQ(offline({"pin", addedId(offline({"add", "--text", "pinned \xE2\x80\x94 kept"}))}).exitCode, 0);
    const QStringList exported = history();
    const QString sourceDevice = rows().at(0)["device"].toString();
    {
        // A concealed item, as a store written by another version might hold, stays out.
        ClipStore store;
        ClipItem secret;
        secret.concealed = true;
        secret.title = QStringLiteral("hunter2");
        secret.deviceID = store.thisDeviceID();
        store.localContext().insert(secret);
        ASSERT_TRUE(store.localContext().save());
    }
    const QString path = folder.filePath("history.tar");
    const CliRun wrote = offline({"export", path});
    ASSERT_EQ(wrote.exitCode, 0) << wrote.err.constData();
    EXPECT_TRUE(wrote.out.contains("exported 6 clips")) << wrote.out.constData();
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_FALSE(QFileInfo::exists(path + ".part"));
    source.reset();
    {
        TestEnvironment elsewhere;
        qputenv("SNIPJAR_DEVICE_ID", "6F1C2B9E-4D3A-4E5F-8A7B-1C2D3E4F5A6B");
        const int status = offline({"import", path}).exitCode;
        const QJsonArray imported = rows();
        qunsetenv("SNIPJAR_DEVICE_ID");
        EXPECT_EQ(status, 0);
        EXPECT_EQ(imported.size(), 6);
        for (const QJsonValue& row : imported) {
            EXPECT_EQ(row["device"].toString(), sourceDevice) << row["title"].toString().toStdString();
        }
    }

    TestEnvironment fresh;
    const CliRun imported = offline({"import", path});
    ASSERT_EQ(imported.exitCode, 0) << imported.err.constData();
    EXPECT_TRUE(imported.out.startsWith("imported 6 clips; skipped 0")) << imported.out.constData();
    EXPECT_EQ(history(), exported);
    EXPECT_TRUE(offline({"import", path}).out.startsWith("imported 0 clips; skipped 6 already"));
    EXPECT_EQ(history(), exported);
    // This computer's clips came back as its own: the same text added again is the same clip.
    const QString pinnedId = rows().at(0)["id"].toString();
    EXPECT_EQ(addedId(offline({"add", "--text", "pinned \xE2\x80\x94 kept"})), pinnedId);

    const QByteArray archive = fileContents(path);
    EXPECT_FALSE(archive.contains("hunter2"));
    const CliRun tar = runCli({"--format=ustar", "-cf", "-", "-C", folder.path(), "history.tar"}, {},
                              QProcessEnvironment::systemEnvironment(), "tar");
    const std::pair<const char*, QByteArray> damaged[] = {
        {"truncated", archive.left(archive.size() / 2)},
        {"truncated", archive.chopped(1024)},
        // A letter of the first content member's name, after the manifest's header and 1024 bytes.
        {"checksum", QByteArray(archive).replace(1536 + 3, 1, "X")},
        {"not a Snipjar export", tar.out},
        {"no Snipjar export has: \"../../.bashrc\"", afterManifest(archive, {{"../../.bashrc", "x"}})},
        {"no Snipjar export has: \"/etc/passwd\"", afterManifest(archive, {{"/etc/passwd", "x"}})},
        {"line is longer than", afterManifest(archive, {{"clips.jsonl", QByteArray(2 << 20, 'x')}})},
        {"than its header says", QByteArray(archive).replace("\"clips\":6", "\"clips\":5")},
        {"version 3", QByteArray(archive).replace("\"version\":2", "\"version\":3")},
    };
    TestEnvironment other;
    ASSERT_EQ(offline({"add", "--text", "kept"}).exitCode, 0);
    const QStringList before = history();
    for (const auto& [expected, bytes] : damaged) {
        ASSERT_TRUE(writeFile(folder.filePath("broken.tar"), bytes));
        const CliRun refused = offline({"import", folder.filePath("broken.tar")});
        EXPECT_EQ(refused.exitCode, 1) << expected;
        EXPECT_TRUE(refused.err.contains(expected)) << expected << ": " << refused.err.constData();
        EXPECT_EQ(refused.err.count('\n'), 1) << refused.err.constData();
    }
    EXPECT_EQ(history(), before);
}

// Input that cannot be a clip and ids that name none are refused (status 1, one line), changing nothing.
TEST(CliStore, BadInputIsRefusedAndChangesNothing) {
    TestEnvironment environment;
    const QString kept = addedId(offline({"add", "--text", "kept"}));
    const QString deleted = addedId(offline({"add", "--text", "deleted soon"}));
    ASSERT_EQ(offline({"delete", deleted}).exitCode, 0);

    auto refused = [&](const CliRun& run, const char* what) {
        EXPECT_EQ(run.exitCode, 1) << what << ": " << run.err.constData();
        EXPECT_EQ(run.err.count('\n'), 1) << what << ": " << run.err.constData();
        EXPECT_TRUE(run.err.startsWith("snipjar: ")) << what;
        EXPECT_TRUE(run.out.isEmpty()) << what;
    };
    refused(offline({"add"}, QByteArray("PK\x03\x04\x00\x00binary", 12)), "binary text");
    refused(offline({"add"}, "caf\xE9 latin-1"), "invalid UTF-8");
    refused(offline({"add"}, {}), "empty input");
    refused(offline({"add", "--kind", "image"}, "not an image at all"), "not an image");
    refused(offline({"add", "--kind", "rich"}, "plain, not RTF"), "not RTF");
    refused(offline({"add", "--mime", "application/zip"}, "PK"), "a type no clip holds");
    refused(offline({"add", "--mime", "text/html"}, "<img src=x>"), "HTML without words");
    refused(offline({"show", "--mime", "text/html", kept}), "a type the clip does not hold");
    refused(offline({"add", "--file", "/nonexistent/nowhere.txt"}), "missing file");
    refused(offline({"show", deleted}), "a deleted clip");
    refused(offline({"show", "ZZ"}), "no such prefix");
    // One unknown id stops the whole delete.
    refused(offline({"delete", kept, deleted}), "delete with an unknown id");
    // 2 GB on standard input: refused once the size limit is passed, without reading the rest.
    const CliRun huge =
        runCli({"-c", "head -c 2147483648 /dev/zero | tr '\\0' 'a' | \"$0\" add", SNIPJAR_EXECUTABLE}, {},
               withoutDisplay(), "bash");
    EXPECT_EQ(huge.exitCode, 1);
    EXPECT_TRUE(huge.err.contains("50 MB"));

    const QJsonArray all = rows();
    ASSERT_EQ(all.size(), 1);
    EXPECT_EQ(all[0]["id"].toString(), kept);
}

// Usage errors are status 2 with the usage on one line; every command explains itself. Commands
// need no display and listing creates no history; the application without a display says so.
TEST(CliStore, UsageErrorsAndHelp) {
    TestEnvironment environment;
    EXPECT_TRUE(rows().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(environment.path("data/Snipjar/history-v2.store")));
    const CliRun headless = offline({});
    EXPECT_EQ(headless.exitCode, 1);
    EXPECT_EQ(headless.err.count('\n'), 1) << headless.err.constData();

    const QStringList badUsages =
        QStringLiteral(
            "frobnicate|list --kind video|list --limit x|list --since yesterday|search x -0 --json|"
            "list --bogus|show|pin a b|pause soon|pause 99999|watch --json --exec cat|pause 0|"
            "add --bogus|search|add --file|import|export a b|watch --exec|help nothing|"
            "show x --raw --mime text/html|show x --json|add --mime text/html --kind rich|"
            "completions tcsh")
            .split('|');
    for (const QString& bad : badUsages) {
        const CliRun failed = offline(bad.split(' '));
        EXPECT_EQ(failed.exitCode, 2) << bad.toStdString();
        EXPECT_EQ(failed.err.count('\n'), 1) << failed.err.constData();
        EXPECT_TRUE(failed.err.contains("usage: snipjar")) << failed.err.constData();
        EXPECT_TRUE(failed.out.isEmpty());
    }

    const CliRun overview = offline({"--help"});
    EXPECT_TRUE(overview.out.startsWith("Usage: snipjar"));
    // The overview is the man page's source: every option, the JSON fields and no README.
    for (const char* word : {"--keep-pinned", "--raw", "--device NAME", "byteSize", "deviceName",
                             "snipjar(1)", "SNIPJAR_CREATED_AT"}) {
        EXPECT_TRUE(overview.out.contains(word)) << word;
    }
    EXPECT_FALSE(overview.out.contains("README"));
    for (const char* command : {"list", "search QUERY", "show ID", "add", "copy ID", "paste ID", "pin ID",
                                "unpin ID", "delete ID", "clear", "pause", "resume", "show-panel",
                                "show-settings", "quit", "export FILE", "import FILE", "watch"}) {
        EXPECT_TRUE(overview.out.contains(QByteArray("\n  ") + command)) << command;
    }
    // config: the settings as the window checks them; a value out of range says what is allowed.
    EXPECT_TRUE(offline({"config"}).out.contains("historyLength=100\n"));
    const struct {
        QStringList arguments;
        int exitCode;
        const char* said;
    } settings[] = {
        {{"historyLength", "50"}, 0, ""},
        {{"historyLength", "5000"}, 2, "1 to 1000"},
        {{"retentionDays", "8"}, 2, "7, 30 or 90"},
        {{"hotKey", "Shift+A"}, 2, "Ctrl, Alt or Super"},
        {{"hotKey", "ctrl+shift+k"}, 0, ""},
        {{"recordSelectedText", "maybe"}, 2, "true or false"},
        {{"syncServer", "http://example.org"}, 2, "use https://"},
        {{"syncServer", "postgresql://alice@example.org/snipjar"}, 2, "no longer supported"},
        {{"syncServer", "http://127.0.0.1:8443"}, 0, ""},
        {{"colour", "blue"}, 2, "historyLength"},
    };
    for (const auto& row : settings) {
        const CliRun run = offline(QStringList{"config"} + row.arguments);
        EXPECT_EQ(run.exitCode, row.exitCode) << row.arguments.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(row.said)) << run.err.constData();
    }
    EXPECT_EQ(offline({"config", "historyLength"}).out, "50\n");
    EXPECT_EQ(offline({"config", "hotKey"}).out, "Ctrl+Shift+K\n");
    const CliRun addHelp = offline({"add", "--help"});
    EXPECT_EQ(addHelp.exitCode, 0);
    EXPECT_EQ(addHelp.out, offline({"help", "add"}).out);
    EXPECT_TRUE(addHelp.out.contains("--file PATH")) << addHelp.out.constData();
}

// What needs a running Snipjar or a display fails without them (status 1, one line), and so does
// every command while a copy holds the instance lock but never answers.
TEST(CliStore, CommandsThatCannotBeCarriedOutFail) {
    TestEnvironment environment;
    const QString id = addedId(offline({"add", "--text", "to copy"}));
    const QList<QStringList> needingMore{{"pause"},         {"pause", "5"}, {"resume"},   {"show-panel"},
                                         {"show-settings"}, {"quit"},       {"copy", id}, {"paste", id}};
    EXPECT_TRUE(offline({"pause"}).err.contains("not running"));
    EXPECT_TRUE(offline({"copy", id}).err.contains("display"));
    for (const bool locked : {false, true}) {
        SingleInstance silent;
        ASSERT_TRUE(!locked || silent.lock());
        const QList<QStringList> everyKind{{"list"},           {"add", "--kind", "image"}, {"pin", id},
                                           {"clear", "--yes"}, {"export", "x.tar"},        {}};
        for (const QStringList& command : locked ? needingMore + everyKind : needingMore) {
            const CliRun failed = offline(command, pngBytes());
            EXPECT_EQ(failed.exitCode, 1) << command.join(' ').toStdString();
            EXPECT_EQ(failed.err.count('\n'), 1) << failed.err.constData();
            EXPECT_TRUE(!locked || failed.err.contains("does not answer")) << failed.err.constData();
        }
    }
    ASSERT_EQ(rows().size(), 1);
    EXPECT_FALSE(rows().at(0)["pinned"].toBool());
}

// Only rows list prints can be named: older copies of a content hide behind its newest one.
TEST(CliStore, IdsNameOnlyTheRowsListShows) {
    const QString hidden = QStringLiteral("AAAAAAAA-0000-4000-8000-000000000001");
    const QString shown = QStringLiteral("AAAAAAAA-0000-4000-8000-000000000002");
    QList<HistoryEntry> entries;
    for (const auto& [id, secondsAgo] : {std::pair{shown, 10}, std::pair{hidden, 60}}) {
        entries << HistoryEntry{ClipItem{}};
        entries.last().item.id = QUuid(id);
        entries.last().item.dedupKey = QStringLiteral("same content");
        entries.last().item.createdAt = QDateTime::currentDateTimeUtc().addSecs(-secondsAgo);
    }
    EXPECT_EQ(std::get<HistoryEntry>(ClipIds::resolve("aaaaaaaa", entries)).item.id, QUuid(shown));
    EXPECT_TRUE(std::holds_alternative<QString>(ClipIds::resolve(hidden, entries)));
}

// Control characters reach a terminal escaped (a title cannot retitle it); a pipe gets the bytes.
// Binary content is refused there with status 2 unless --force is given.
TEST(CliStore, ControlCharactersAreEscapedOnATerminal) {
    TestEnvironment environment;
    const QString image = addedId(offline({"add", "--mime", "image/png"}, pngBytes()));
    const QByteArray hostile = "title\x1b]0;owned\x07 \x1b[31mred\xc2\x9b";
    const QString id = addedId(offline({"add", "--text", QString::fromUtf8(hostile)}));
    const QByteArray escaped = "title\\x1B]0;owned\\x07 \\x1B[31mred\\u009B";
    const struct {
        QStringList command;
        int exitCode;
        QByteArray shown;
    } cases[] = {
        {{"list"}, 0, escaped},
        {{"show", id}, 0, escaped},
        {{"show", image}, 2, "binary"},
        {{"show", "--mime", "image/png", image}, 2, "binary"},
        {{"show", "--force", image}, 0, "PNG"},
    };
    for (const auto& [command, exitCode, shown] : cases) {
        // script runs the command on a pseudo-terminal, as a person's shell does.
        const CliRun terminal =
            runCli({"-qec", QStringLiteral(SNIPJAR_EXECUTABLE " ") + command.join(' '), "/dev/null"}, {},
                   withoutDisplay(), "script");
        EXPECT_EQ(terminal.exitCode, exitCode) << command.join(' ').toStdString();
        EXPECT_TRUE(terminal.out.contains(shown)) << command.join(' ').toStdString();
        EXPECT_EQ(offline(command).exitCode, 0) << "a pipe gets any bytes";
    }
    EXPECT_TRUE(offline({"show", id}).out.contains(hostile));
}
