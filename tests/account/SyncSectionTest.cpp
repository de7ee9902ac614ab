#include "app/settings/SyncSection.h"
#include "AccountTestSupport.h"
#include "ClipStoreTestSupport.h"
#include "app/settings/SettingsEvents.h"
#include "app/settings/SettingsWindow.h"
#include "platform/account/SyncAccount.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QTest>

namespace snipjar::test {
namespace {

const QString alice = QStringLiteral("postgresql://alice@sync.example.org/snipjar?sslmode=verify-full");

// The sync section of a real settings window, over a real store and settings file, counting the
// announcements the shell would act on.
class SyncSectionTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        auto& events = SettingsEvents::instance();
        QObject::connect(&events, &SettingsEvents::syncAccountChanged, &listener,
                         [this] { ++accountChanges; });
        QObject::connect(&events, &SettingsEvents::syncEnabledChanged, &listener,
                         [this] { ++enabledChanges; });
    }

    void openWindow(SyncAccount* account = nullptr) {
        window = std::make_unique<SettingsWindow>(*store, [](const HotKeyCombo&) { return true; });
        window->setSyncAccount(account);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    SyncSection& section() { return *window->syncSection(); }

    // Types into a field as a person would and ends with Return.
    static void typeInto(QLineEdit& field, const QString& text) {
        field.setFocus();
        field.selectAll();
        if (text.isEmpty()) {
            QTest::keyClick(&field, Qt::Key_Backspace);
        } else {
            QTest::keyClicks(&field, text);
        }
        QTest::keyClick(&field, Qt::Key_Return);
    }

    static QVariant storedServer() {
        return QSettings(UserSettings::filePath(), QSettings::IniFormat)
            .value(QString::fromLatin1(UserSettings::syncServerKey));
    }

    bool noteSays(const QString& text) {
        return waitUntil([&] { return section().passwordNoteLabel()->text() == text; },
                         std::chrono::seconds(30));
    }

    void snapshot(const char* name) {
        const QByteArray folder = qgetenv("SNIPJAR_SETTINGS_SNAPSHOT_DIR");
        if (!folder.isEmpty()) {
            window->grab().save(QString::fromLocal8Bit(folder) + QLatin1Char('/') + QLatin1String(name));
        }
    }

    QObject listener;
    std::unique_ptr<SettingsWindow> window;
    int accountChanges = 0;
    int enabledChanges = 0;
};

// The server is saved when editing ends, checked by libpq with the reason under the field, and
// announced once per real change; the status line says why sync is off, and the running status
// shows only while it may run.
TEST_F(SyncSectionTest, ServerIsSavedCheckedAndAnnounced) {
    openWindow();
    QLineEdit& server = *section().serverField();
    QLabel& problem = *section().serverProblemLabel();
    QLabel& off = *section().offStatusLabel();
    EXPECT_TRUE(server.text().isEmpty());
    EXPECT_FALSE(problem.isVisible());
    EXPECT_TRUE(off.isVisible());
    EXPECT_EQ(off.text(), QStringLiteral("Sync is off: no server is set."));
    // No account given: the password cannot be set here.
    EXPECT_FALSE(section().passwordField()->isEnabled());

    typeInto(server, QStringLiteral("postgresql://host/db?colour=blue"));
    EXPECT_EQ(storedServer().toString(), QStringLiteral("postgresql://host/db?colour=blue"));
    EXPECT_TRUE(problem.isVisible());
    EXPECT_TRUE(problem.text().contains(QStringLiteral("colour"))) << problem.text().toStdString();
    EXPECT_EQ(off.text(), QStringLiteral("Sync is off: the server address is not valid."));
    EXPECT_EQ(accountChanges, 1);
    snapshot("sync-invalid-server.png");

    // Ending the editing again without a change announces nothing.
    QTest::keyClick(&server, Qt::Key_Return);
    EXPECT_EQ(accountChanges, 1);

    typeInto(server, QStringLiteral("  ") + alice + QStringLiteral("  "));
    EXPECT_EQ(server.text(), alice);
    EXPECT_EQ(storedServer().toString(), alice);
    EXPECT_FALSE(problem.isVisible());
    EXPECT_FALSE(off.isVisible());
    EXPECT_EQ(accountChanges, 2);

    section().setSyncStatus(QStringLiteral("Last synced 12:03"));
    EXPECT_TRUE(section().syncStatusLabel()->isVisible());
    section().syncToggle()->click();
    EXPECT_EQ(enabledChanges, 1);
    EXPECT_EQ(off.text(), QStringLiteral("Sync is off: it is switched off."));
    EXPECT_FALSE(section().syncStatusLabel()->isVisible());
    section().syncToggle()->click();
    EXPECT_TRUE(section().syncStatusLabel()->isVisible());
    section().setSyncStatus(QString());
    EXPECT_FALSE(section().syncStatusLabel()->isVisible());

    // Emptying the field removes the key: no server again.
    typeInto(server, QString());
    EXPECT_FALSE(storedServer().isValid());
    EXPECT_EQ(off.text(), QStringLiteral("Sync is off: no server is set."));
    EXPECT_EQ(accountChanges, 3);

    // The whole form still fits the window.
    EXPECT_LE(window->sizeHint().height(), window->height());
    EXPECT_LE(window->minimumSizeHint().height(), window->height());
}

// The password goes to the real keyring and never back into the field: the field shows a
// stand-in, a new window finds the stored password, and clearing the field removes it.
TEST_F(SyncSectionTest, PasswordLivesInTheKeyring) {
    if (!haveTestKeyring()) {
        GTEST_SKIP() << "no test keyring (run through tests/account/with-keyring.sh)";
    }
    UserSettings::setValue(QString::fromLatin1(UserSettings::syncServerKey), alice);
    SyncAccount account;
    openWindow(&account);
    QLineEdit& password = *section().passwordField();
    ASSERT_TRUE(noteSays(QStringLiteral("Not stored; ~/.pgpass is used.")));
    EXPECT_TRUE(password.isEnabled());
    EXPECT_EQ(password.echoMode(), QLineEdit::Password);

    const QString secret = QStringLiteral("correct horse");
    typeInto(password, secret);
    ASSERT_TRUE(noteSays(QStringLiteral("Stored in your keyring.")));
    EXPECT_EQ(accountChanges, 1);
    EXPECT_NE(password.text(), secret);
    Answer<PasswordVault::Lookup> inKeyring;
    account.readPassword(alice, &listener, inKeyring.callback());
    ASSERT_TRUE(inKeyring.wait());
    EXPECT_EQ(inKeyring.answer->password, secret);

    section().setSyncStatus(QStringLiteral("Last synced 12:03"));
    snapshot("sync-stored-password.png");

    // A window opened later shows that a password is stored; ending the editing untouched keeps it.
    window.reset();
    openWindow(&account);
    QLineEdit& again = *section().passwordField();
    ASSERT_TRUE(noteSays(QStringLiteral("Stored in your keyring.")));
    again.setFocus();
    QTest::keyClick(&again, Qt::Key_Return);
    EXPECT_EQ(accountChanges, 1);

    // The first backspace takes the whole stand-in away; Return then removes the password.
    again.setFocus();
    again.end(false);
    QTest::keyClick(&again, Qt::Key_Backspace);
    EXPECT_TRUE(again.text().isEmpty());
    QTest::keyClick(&again, Qt::Key_Return);
    ASSERT_TRUE(noteSays(QStringLiteral("Not stored; ~/.pgpass is used.")));
    EXPECT_EQ(accountChanges, 2);
    Answer<PasswordVault::Lookup> removed;
    account.readPassword(alice, &listener, removed.callback());
    ASSERT_TRUE(removed.wait());
    EXPECT_EQ(removed.answer->outcome, PasswordVault::Lookup::Outcome::absent);

    // A new server asks the keyring again: another user has no password there.
    typeInto(*section().serverField(), QStringLiteral("postgresql://bob@sync.example.org/snipjar"));
    ASSERT_TRUE(noteSays(QStringLiteral("Not stored; ~/.pgpass is used.")));
    EXPECT_EQ(accountChanges, 3);
}

} // namespace
} // namespace snipjar::test
