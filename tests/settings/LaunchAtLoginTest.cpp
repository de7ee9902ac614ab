#include "platform/LaunchAtLogin.h"
#include "ClipStoreTestSupport.h"
#include "platform/AppIdentity.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace snipjar::test {
namespace {

using namespace Qt::StringLiterals;

QString autostart() {
    return AppPaths::configHome() + u"/autostart"_s;
}

QString readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void writeFile(const QString& path, const QString& contents) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(contents.toUtf8());
}

// The program an Exec line starts, undoing the escaping of desktop entries: first the string
// escapes (\\ for a backslash), then the quoting of the argument.
QString programOf(const QString& entry) {
    QString exec;
    for (const QString& line : entry.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Exec="))) {
            exec = line.mid(5);
        }
    }
    exec.replace(u"\\\\"_s, u"\\"_s);
    if (exec.size() < 2 || !exec.startsWith(QLatin1Char('"')) || !exec.endsWith(QLatin1Char('"'))) {
        return QString();
    }
    QString program;
    for (qsizetype index = 1; index + 1 < exec.size(); ++index) {
        if (exec[index] == u'\\') {
            ++index;
        }
        program += exec[index];
    }
    return program.replace(u"%%"_s, u"%"_s);
}

// This test program runs from the build folder; it stands in for the installed `snipjar` too.
class LaunchAtLoginTest : public ::testing::Test {
protected:
    LaunchAtLoginTest() { LaunchAtLogin::overrideInstalledCommand(QCoreApplication::applicationFilePath()); }
    ~LaunchAtLoginTest() override { LaunchAtLogin::clearInstalledCommandOverride(); }

    TestEnvironment environment;
};

// Switching on writes our entry, private, starting the executable that runs now; a failure is
// reported. The debug identity has an entry of its own, which starts the copy under that identity.
TEST_F(LaunchAtLoginTest, EnablingWritesAnEntryThatStartsThisExecutable) {
    writeFile(autostart(), u"not a folder"_s);
    EXPECT_FALSE(LaunchAtLogin::setEnabled(true));
    EXPECT_FALSE(LaunchAtLogin::isEnabled());
    ASSERT_TRUE(QFile::remove(autostart()));
    AppIdentity::overrideDebug(true);
    ASSERT_TRUE(LaunchAtLogin::setEnabled(true));
    AppIdentity::clearOverride();
    EXPECT_TRUE(readFile(autostart() + u"/app.snipjar.Snipjar.debug.desktop"_s)
                    .contains(QLatin1String("\nExec=env SNIPJAR_IDENTITY=debug \"")));
    ASSERT_FALSE(LaunchAtLogin::isEnabled());
    ASSERT_TRUE(LaunchAtLogin::setEnabled(true));

    const QString entry = autostart() + u"/app.snipjar.Snipjar.desktop"_s;
    EXPECT_TRUE(LaunchAtLogin::isEnabled());
    const QString contents = readFile(entry);
    EXPECT_TRUE(contents.startsWith(QLatin1String("[Desktop Entry]\n")));
    EXPECT_TRUE(contents.contains(QLatin1String("\nType=Application\n")));
    EXPECT_EQ(programOf(contents), QCoreApplication::applicationFilePath());
    EXPECT_EQ(modeOf(entry), 0600u);
    EXPECT_EQ(modeOf(autostart()), 0700u);
}

// The user's folder keeps its permissions; switching off removes our entry only; an entry of ours
// the user hid is off and stays as edited until switched on again.
TEST_F(LaunchAtLoginTest, OnlyOurEntryIsTouched) {
    QDir().mkpath(autostart());
    ::chmod(QFile::encodeName(autostart()).constData(), 0755);
    const QString theirs = autostart() + u"/org.example.Other.desktop"_s;
    writeFile(theirs, u"[Desktop Entry]\nType=Application\nExec=other\n"_s);

    ASSERT_TRUE(LaunchAtLogin::setEnabled(true));
    EXPECT_EQ(modeOf(autostart()), 0755u);
    ASSERT_TRUE(LaunchAtLogin::setEnabled(false));

    EXPECT_FALSE(LaunchAtLogin::isEnabled());
    EXPECT_FALSE(QFileInfo::exists(LaunchAtLogin::entryPath()));
    EXPECT_EQ(readFile(theirs), u"[Desktop Entry]\nType=Application\nExec=other\n"_s);
    EXPECT_TRUE(LaunchAtLogin::setEnabled(false));

    const QString hidden = u"[Desktop Entry]\nType=Application\nExec=snipjar\nHidden=true\n"_s;
    writeFile(LaunchAtLogin::entryPath(), hidden);
    EXPECT_FALSE(LaunchAtLogin::isEnabled());
    EXPECT_TRUE(LaunchAtLogin::setEnabled(false));
    EXPECT_EQ(readFile(LaunchAtLogin::entryPath()), hidden);

    writeFile(LaunchAtLogin::entryPath(),
              u"[Desktop Entry]\nType=Application\nExec=snipjar\nX-GNOME-Autostart-enabled=false\n"_s);
    EXPECT_FALSE(LaunchAtLogin::isEnabled());

    EXPECT_TRUE(LaunchAtLogin::setEnabled(true));
    EXPECT_TRUE(LaunchAtLogin::isEnabled());
    EXPECT_EQ(programOf(readFile(LaunchAtLogin::entryPath())), QCoreApplication::applicationFilePath());
}

// The first launch switches it on once, naming the installed `snipjar`, never overriding a later
// choice; with nothing installed a build folder's copy leaves it off.
TEST_F(LaunchAtLoginTest, FirstRunEnablesOnceWithAnInstalledCommand) {
    LaunchAtLogin::overrideInstalledCommand(std::nullopt);
    LaunchAtLogin::configureOnFirstRun();
    EXPECT_FALSE(QFileInfo::exists(LaunchAtLogin::entryPath()));
    EXPECT_FALSE(LaunchAtLogin::setEnabled(true));

    QTemporaryDir installed;
    const QString command = installed.filePath(u"snipjar"_s);
    ASSERT_TRUE(QFile::copy(u"/bin/true"_s, command));
    LaunchAtLogin::overrideInstalledCommand(command);
    LaunchAtLogin::configureOnFirstRun();
    EXPECT_EQ(programOf(readFile(LaunchAtLogin::entryPath())), command);

    ASSERT_TRUE(LaunchAtLogin::setEnabled(false));
    LaunchAtLogin::configureOnFirstRun();
    EXPECT_FALSE(LaunchAtLogin::isEnabled());
}

} // namespace
} // namespace snipjar::test
