#include "paste/ClipboardKeeper.h"

#include "platform/ClipboardManagerRole.h"
#include "platform/TypeIdentifier.h"
#include "platform/fakes/FakePasteboard.h"
#include "store/ClipStore.h"

#include "EventLoopWait.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

namespace snipjar {
namespace {

using namespace Qt::StringLiterals;

using namespace std::chrono_literals;
using Fate = ClipboardKeeper::Fate;

// The role without a display: it records the answers the keeper gives.
class RecordingRole final : public ClipboardManagerRole {
public:
    bool claim() override { return claimed = true; }
    void release() override { claimed = false; }
    bool isClaimed() const override { return claimed; }
    void finishHandOver(quint64 request, bool saved) override { answers.append({request, saved}); }
    bool handOverClipboard(std::chrono::milliseconds) override { return false; }

    bool claimed = false;
    QList<std::pair<quint64, bool>> answers;
};

class ClipboardKeeperTest : public ::testing::Test {
protected:
    void SetUp() override { keeper.setEnabled(true); }

    void file(const QString& text) {
        Clip clip;
        clip.kind = Clip::Kind::text;
        clip.plainText = text;
        auto context = store.syncContainer().newContext();
        store.insert(clip, *context);
    }
    // A program copies the text; returns the change count of its copy.
    qint64 copy(const QString& text) {
        pasteboard.setText(text);
        return pasteboard.changeCount();
    }
    // The program goes: the clipboard has no owner; returns the count of that change.
    qint64 ownerGoes() {
        pasteboard.setContents({});
        emit pasteboard.ownerLost();
        return pasteboard.changeCount();
    }
    QStringList writtenTexts() const {
        QStringList texts;
        for (const PasteboardContent& content : pasteboard.writes()) {
            for (const auto& entry : content.entries) {
                if (entry.type == QLatin1String(TypeIdentifier::plainText)) {
                    texts << QString::fromUtf8(entry.data);
                }
            }
        }
        return texts;
    }

    test::TestEnvironment environment;
    ClipStore store{ClipStore::Location::inMemory};
    FakePasteboard pasteboard;
    RecordingRole role;
    ClipboardKeeper keeper{store, pasteboard, &role};
};

// The lost copy comes back once it is known to be captured and is filed, not before: the loss may
// be noticed before the capture of the copy has finished.
TEST_F(ClipboardKeeperTest, ALostCopyComesBackOnceItIsFiled) {
    const qint64 copied = copy(u"kept"_s);
    const qint64 gone = ownerGoes();
    keeper.noteCapture(copied, Fate::captured);
    keeper.noteCapture(gone, Fate::nothing);
    test::settle(200ms);
    EXPECT_TRUE(pasteboard.writes().isEmpty()) << "restored before the copy was filed";

    file(u"kept"_s);
    keeper.noteFiled();
    ASSERT_TRUE(test::waitUntil([&] { return writtenTexts() == QStringList{"kept"}; }));
}

// A concealed clip (one that came from another computer) is never put back, not even as the newest.
// (A password manager's copy and a switched-off keeper leaving the clipboard empty are
// ClipboardKeeping's, with the real clipboard.)
TEST_F(ClipboardKeeperTest, AConcealedClipIsNeverPutBack) {
    file(u"older"_s);
    Clip concealed;
    concealed.kind = Clip::Kind::text;
    concealed.plainText = u"from another computer"_s;
    concealed.concealed = true;
    ClipItem arrived = ClipItem::fromClip(concealed, std::nullopt, u"OTHER-COMPUTER"_s);
    arrived.createdAt = QDateTime::currentDateTimeUtc().addSecs(5);
    store.syncContext().insert(arrived);
    ASSERT_TRUE(store.syncContext().save());
    const qint64 copied = copy(u"older"_s);
    keeper.noteCapture(copied, Fate::captured);
    keeper.noteFiled();
    keeper.noteCapture(ownerGoes(), Fate::nothing);
    test::settle(300ms);
    EXPECT_TRUE(pasteboard.writes().isEmpty()) << writtenTexts().join(',').toStdString();
}

// A quitting program's hand-over is answered once the fate of its copy is known: taken over (the
// clip written first) for a captured copy, refused for a skipped one, and refused at once when
// the keeper is switched off.
TEST_F(ClipboardKeeperTest, AHandOverIsAnsweredByTheFateOfTheCopy) {
    const qint64 copied = copy(u"handed over"_s);
    emit role.handOverRequested(1);
    test::settle(100ms);
    EXPECT_TRUE(role.answers.isEmpty());
    file(u"handed over"_s);
    keeper.noteCapture(copied, Fate::captured);
    keeper.noteFiled();
    ASSERT_TRUE(test::waitUntil([&] { return !role.answers.isEmpty(); }));
    EXPECT_EQ(role.answers.front(), std::make_pair(quint64(1), true));
    EXPECT_EQ(writtenTexts(), QStringList{"handed over"});

    keeper.noteCapture(copy(u"secret"_s), Fate::skipped);
    emit role.handOverRequested(2);
    ASSERT_TRUE(test::waitUntil([&] { return role.answers.size() == 2; }));
    EXPECT_EQ(role.answers.back(), std::make_pair(quint64(2), false));

    keeper.setEnabled(false);
    emit role.handOverRequested(3);
    ASSERT_EQ(role.answers.size(), 3);
    EXPECT_EQ(role.answers.back(), std::make_pair(quint64(3), false));
    EXPECT_EQ(pasteboard.writes().size(), 1);
}

} // namespace
} // namespace snipjar
