#include "paste/PasteKeyTable.h"
#include "platform/UserSettings.h"

#include "TestEnvironment.h"

#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

using namespace snipjar;

namespace {

class PasteKeyTableTest : public ::testing::Test {
protected:
    // The settings file as a user would write it by hand.
    void writeSettings(const QByteArray& text) {
        const QString path = UserSettings::filePath();
        UserSettings::setValue(QStringLiteral("historyLength"), 100);
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

// Ctrl+V by default; Ctrl+Shift+V in the terminals that bind it; Shift+Insert where only the
// primary selection is pasted. Class and instance names both, in any case.
TEST_F(PasteKeyTableTest, BuiltInEntries) {
    for (const char* windowClass : {"firefox", "org.example.Editor", "", "xterm-like"}) {
        EXPECT_EQ(PasteKeyTable::keystrokeFor(QString::fromLatin1(windowClass)), PasteKeystroke::controlV)
            << windowClass;
    }
    for (const char* windowClass : {"gnome-terminal-server", "Gnome-terminal", "konsole", "Konsole", "kitty",
                                    "Alacritty", "Terminator", "Tilix", "st-256color", "St"}) {
        EXPECT_EQ(PasteKeyTable::keystrokeFor(QString::fromLatin1(windowClass)),
                  PasteKeystroke::controlShiftV)
            << windowClass;
    }
    for (const char* windowClass : {"XTerm", "xterm", "UXTerm", "URxvt", "urxvt", "Rxvt", "rxvt-unicode"}) {
        EXPECT_EQ(PasteKeyTable::keystrokeFor(QString::fromLatin1(windowClass)), PasteKeystroke::shiftInsert)
            << windowClass;
    }
}

// The Linux key forms are read in any case, with spaces and either modifier order; anything else
// is not a paste keystroke.
TEST_F(PasteKeyTableTest, ParsesTheThreeKeystrokes) {
    EXPECT_EQ(PasteKeyTable::parse(QStringLiteral("Ctrl+V")), PasteKeystroke::controlV);
    EXPECT_EQ(PasteKeyTable::parse(QStringLiteral("ctrl + shift + v")), PasteKeystroke::controlShiftV);
    EXPECT_EQ(PasteKeyTable::parse(QStringLiteral("Shift+Ctrl+V")), PasteKeystroke::controlShiftV);
    EXPECT_EQ(PasteKeyTable::parse(QStringLiteral("SHIFT+INSERT")), PasteKeystroke::shiftInsert);
    for (const char* bad : {"", "V", "Shift+V", "Ctrl+Ctrl+V", "Ctrl+Insert", "Ctrl+Shift+Insert", "Alt+V",
                            "Ctrl+W", "Ctrl+V+V", "⌘V", "Insert"}) {
        EXPECT_FALSE(PasteKeyTable::parse(QString::fromUtf8(bad))) << bad;
    }
    for (PasteKeystroke keystroke :
         {PasteKeystroke::controlV, PasteKeystroke::controlShiftV, PasteKeystroke::shiftInsert}) {
        EXPECT_EQ(PasteKeyTable::parse(PasteKeyTable::text(keystroke)), keystroke);
    }
}

// The user's entries in the settings file add classes and override built-in ones, matched without
// regard to case; a value that is no keystroke leaves the built-in entry in force. Edits are seen
// at the next lookup.
TEST_F(PasteKeyTableTest, UserEntriesFromTheSettingsFile) {
    writeSettings("[pasteKeys]\n"
                  "MyTerm=Ctrl+Shift+V\n"
                  "xterm=Ctrl+Shift+V\n"
                  "Konsole=shift+insert\n"
                  "URxvt=Ctrl+Alt+V\n"
                  "Alacritty=\n"
                  "Emacs=Ctrl+V\n");
    EXPECT_EQ(PasteKeyTable::keystrokeFor(QStringLiteral("myterm")), PasteKeystroke::controlShiftV);
    EXPECT_EQ(PasteKeyTable::keystrokeFor(QStringLiteral("XTerm")), PasteKeystroke::controlShiftV);
    EXPECT_EQ(PasteKeyTable::keystrokeFor(QStringLiteral("konsole")), PasteKeystroke::shiftInsert);
    EXPECT_EQ(PasteKeyTable::keystrokeFor(QStringLiteral("Emacs")), PasteKeystroke::controlV);
    EXPECT_EQ(PasteKeyTable::keystrokeFor(QStringLiteral("URxvt")), PasteKeystroke::shiftInsert);
    EXPECT_EQ(PasteKeyTable::keystrokeFor(QStringLiteral("Alacritty")), PasteKeystroke::controlShiftV);
    EXPECT_EQ(PasteKeyTable::defaultKeystrokeFor(QStringLiteral("XTerm")), PasteKeystroke::shiftInsert);

    // The class's entry before the instance name's; either name finds a built-in entry.
    UserSettings::setValue(QStringLiteral("pasteKeys/Emacs"), QStringLiteral("Ctrl+V"));
    EXPECT_EQ(PasteKeyTable::keystrokeFor(QStringLiteral("Emacs"), QStringLiteral("urxvt")),
              PasteKeystroke::controlV);
    EXPECT_EQ(PasteKeyTable::keystrokeFor(QStringLiteral("Unknown"), QStringLiteral("myterm")),
              PasteKeystroke::controlShiftV);
    EXPECT_EQ(PasteKeyTable::keystrokeFor(QStringLiteral("Unknown"), QStringLiteral("urxvt")),
              PasteKeystroke::shiftInsert);
    EXPECT_EQ(PasteKeyTable::keystrokeFor(QStringLiteral("Unknown"), QStringLiteral("unknown")),
              PasteKeystroke::controlV);
    EXPECT_EQ(PasteKeyTable::keystrokeFor(QStringLiteral("Unknown"), QStringLiteral("UXTerm")),
              PasteKeystroke::shiftInsert);

    UserSettings::remove(QStringLiteral("pasteKeys/xterm"));
    EXPECT_EQ(PasteKeyTable::keystrokeFor(QStringLiteral("XTerm")), PasteKeystroke::shiftInsert);
    UserSettings::setValue(QStringLiteral("pasteKeys/Firefox"), QStringLiteral("Ctrl+Shift+V"));
    EXPECT_EQ(PasteKeyTable::keystrokeFor(QStringLiteral("firefox")), PasteKeystroke::controlShiftV);
}
