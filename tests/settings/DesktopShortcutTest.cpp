// The hot key where the desktop runs it: the desktop told apart, the combination in each desktop's
// own notation, and GNOME's custom shortcut written with the real gsettings tool into a private
// settings file, beside shortcuts of the user's own.
#include "app/settings/DesktopShortcut.h"
#include "EventLoopWait.h"
#include "TestEnvironment.h"
#include "app/settings/DesktopShortcutRow.h"
#include "app/settings/GnomeShortcutWriter.h"
#include "app/settings/KdeShortcutWriter.h"

#include <QLineEdit>
#include <QProcess>
#include <gtest/gtest.h>

namespace snipjar::test {
namespace {

TEST(DesktopShortcut, EachDesktopAndItsNotation) {
    const struct {
        const char* currentDesktop;
        bool swaySocket;
        DesktopShortcut::Desktop expected;
    } desktops[] = {
        {"ubuntu:GNOME", false, DesktopShortcut::Desktop::gnome},
        {"KDE", false, DesktopShortcut::Desktop::kde},
        {"sway", false, DesktopShortcut::Desktop::sway},
        {"", true, DesktopShortcut::Desktop::sway},
        {"XFCE", false, DesktopShortcut::Desktop::other},
    };
    for (const auto& row : desktops) {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QString::fromLatin1(row.currentDesktop));
        if (row.swaySocket) {
            environment.insert(QStringLiteral("SWAYSOCK"), QStringLiteral("/run/user/1000/sway-ipc.sock"));
        }
        EXPECT_EQ(DesktopShortcut::detect(environment), row.expected) << row.currentDesktop;
    }
    const struct {
        const char* combo;
        const char* sway;
        const char* gnome;
        int kde;
    } combos[] = {
        {"Ctrl+Alt+V", "bindsym Ctrl+Mod1+v exec snipjar show-panel", "<Control><Alt>v",
         (Qt::CTRL | Qt::ALT | Qt::Key_V).toCombined()},
        {"Super+Shift+7", "bindsym Mod4+Shift+7 exec snipjar show-panel", "<Super><Shift>7",
         (Qt::META | Qt::SHIFT | Qt::Key_7).toCombined()},
    };
    for (const auto& row : combos) {
        const HotKeyCombo combo = *HotKeyCombo::parseLinuxForm(QString::fromLatin1(row.combo));
        EXPECT_EQ(DesktopShortcut::swayLine(combo, QStringLiteral("snipjar show-panel")),
                  QLatin1String(row.sway));
        EXPECT_EQ(DesktopShortcut::gnomeAccelerator(combo), QLatin1String(row.gnome));
        EXPECT_EQ(KdeShortcutWriter::qtKeyCode(combo), row.kde);
    }
    EXPECT_EQ(DesktopShortcut::shellQuoted(QStringLiteral("/opt/it's mine/snipjar")),
              QStringLiteral("'/opt/it'\\''s mine/snipjar'"));
    // The settings row's sway line follows the recorded combination.
    DesktopShortcutRow row(DesktopShortcut::Desktop::sway);
    row.setCombo(*HotKeyCombo::parseLinuxForm(QStringLiteral("Super+V")), true);
    EXPECT_TRUE(row.line()->text().startsWith(QLatin1String("bindsym Mod4+v exec ")))
        << row.line()->text().toStdString();
    EXPECT_TRUE(row.line()->text().endsWith(QLatin1String(" show-panel")));
}

class GnomeShortcutTest : public ::testing::Test {
protected:
    void SetUp() override {
        // gsettings keeps what it writes in a key file under the private configuration folder.
        qputenv("GSETTINGS_BACKEND", "keyfile");
    }
    void TearDown() override { qunsetenv("GSETTINGS_BACKEND"); }

    static QString gsettings(const QStringList& arguments) {
        QProcess process;
        process.start(QStringLiteral("gsettings"), arguments);
        process.waitForFinished();
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }

    static QString field(const char* key) {
        return gsettings({QStringLiteral("get"),
                          QLatin1String(GnomeShortcutWriter::schema) + QLatin1String(".custom-keybinding:") +
                              QLatin1String(GnomeShortcutWriter::entryPath),
                          QLatin1String(key)});
    }

    std::optional<QString> write(GnomeShortcutWriter& writer, const char* accelerator) {
        std::optional<std::optional<QString>> outcome;
        writer.write(QLatin1String(accelerator), QStringLiteral("snipjar show-panel"),
                     [&outcome](std::optional<QString> error) { outcome = std::move(error); });
        EXPECT_TRUE(waitUntil([&] { return outcome.has_value(); }));
        return outcome.value_or(QStringLiteral("no answer"));
    }

    TestEnvironment environment;
};

TEST_F(GnomeShortcutTest, JoinsTheUsersShortcutsOnceAndFollowsANewCombination) {
    const QString usersOwn =
        QStringLiteral("/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/");
    gsettings({QStringLiteral("set"), QLatin1String(GnomeShortcutWriter::schema),
               QStringLiteral("custom-keybindings"), GnomeShortcutWriter::listText({usersOwn})});
    GnomeShortcutWriter writer;
    for (const char* accelerator : {"<Control><Alt>v", "<Super>v"}) {
        ASSERT_EQ(write(writer, accelerator), std::nullopt);
        EXPECT_EQ(GnomeShortcutWriter::parseList(
                      gsettings({QStringLiteral("get"), QLatin1String(GnomeShortcutWriter::schema),
                                 QStringLiteral("custom-keybindings")})),
                  QStringList({usersOwn, QLatin1String(GnomeShortcutWriter::entryPath)}));
        EXPECT_EQ(field("binding"), GnomeShortcutWriter::stringText(QLatin1String(accelerator)));
    }
    EXPECT_EQ(field("command"), QStringLiteral("'snipjar show-panel'"));
    EXPECT_EQ(field("name"), QStringLiteral("'Snipjar'"));
    // Without GNOME's schemas (another desktop's gsettings) the write fails with a reason.
    qputenv("XDG_DATA_DIRS", environment.path(QStringLiteral("nothing")).toLocal8Bit());
    const std::optional<QString> error = write(writer, "<Control><Alt>v");
    qunsetenv("XDG_DATA_DIRS");
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->contains(QLatin1String("could not be changed"))) << error->toStdString();
}

} // namespace
} // namespace snipjar::test
