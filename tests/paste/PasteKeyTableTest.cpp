#include "paste/PasteKeyTable.h"
#include "platform/UserSettings.h"

#include "TestEnvironment.h"

#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

using namespace snipjar;

namespace {

using namespace Qt::StringLiterals;

class PasteKeyTableTest : public ::testing::Test {
protected:
    // The settings file as a user would write it by hand.
    void writeSettings(const QByteArray& text) {
        const QString path = UserSettings::filePath();
        UserSettings::setValue(u"historyLength"_s, 100);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        // A new modification time, so the settings are read again.
        QTest::qWait(20);
        file.setFileTime(QDateTime::currentDateTime().addSecs(1), QFileDevice::FileModificationTime);
    }

    test::TestEnvironment environment;
};

} // namespace

// The Linux key forms are read in any case, with spaces and either modifier order; anything else
// is not a paste keystroke. (The three keystrokes as a settings file names them are the next case's.)
TEST_F(PasteKeyTableTest, ParsesTheThreeKeystrokes) {
    EXPECT_EQ(PasteKeyTable::parse(u"ctrl + shift + v"_s), PasteKeystroke::controlShiftV);
    EXPECT_EQ(PasteKeyTable::parse(u"Shift+Ctrl+V"_s), PasteKeystroke::controlShiftV);
    for (const char* bad : {"", "V", "Shift+V", "Ctrl+Ctrl+V", "Ctrl+Insert", "Ctrl+Shift+Insert", "Alt+V",
                            "Ctrl+W", "Ctrl+V+V", "⌘V", "Insert"}) {
        EXPECT_FALSE(PasteKeyTable::parse(QString::fromUtf8(bad))) << bad;
    }
}

// Ctrl+V by default; Ctrl+Shift+V in the terminals that bind it; Shift+Insert where only the
// primary selection is pasted. The user's entries in the settings file add classes and override
// built-in ones, matched without regard to case; a value that is no keystroke leaves the built-in
// entry in force. (Edits seen at the next lookup are PasterTest's.)
TEST_F(PasteKeyTableTest, BuiltInEntriesAndTheUsersFromTheSettingsFile) {
    writeSettings("[pasteKeys]\n"
                  "MyTerm=Ctrl+Shift+V\n"
                  "xterm=Ctrl+Shift+V\n"
                  "Konsole=shift+insert\n"
                  "URxvt=Ctrl+Alt+V\n"
                  "Alacritty=\n"
                  "Emacs=Ctrl+V\n");
    EXPECT_EQ(PasteKeyTable::defaultKeystrokeFor(u"XTerm"_s), PasteKeystroke::shiftInsert);
    // By the keystroke they get, windows as "class" or "class/instance": the class's entry comes
    // before the instance name's; either name finds a built-in entry.
    const std::pair<PasteKeystroke, QStringList> cases[] = {
        {PasteKeystroke::controlShiftV,
         {"myterm", "XTerm", "Alacritty", "Unknown/myterm", "gnome-terminal-server", "Gnome-terminal",
          "kitty", "Terminator", "Tilix", "st-256color"}},
        {PasteKeystroke::shiftInsert,
         {"konsole", "URxvt", "Unknown/urxvt", "Unknown/UXTerm", "Rxvt", "rxvt-unicode"}},
        {PasteKeystroke::controlV, {"Emacs", "Emacs/urxvt", "Unknown/unknown", "firefox", "", "xterm-like"}},
    };
    for (const auto& [keystroke, windows] : cases) {
        for (const QString& window : windows) {
            EXPECT_EQ(PasteKeyTable::keystrokeFor(window.section(u'/', 0, 0), window.section(u'/', 1)),
                      keystroke)
                << window.toStdString();
        }
    }
}
