// libvips (through GIO) must come before Qt, whose "signals" keyword clashes with GIO's headers.
#include <vips/vips.h>

#include "ClipStoreTestSupport.h"

namespace snipjar::test {
namespace {

using FilingTest = StoreTest;

QByteArray pngOfSize(int width, int height) {
    VIPS_INIT("snipjar-test");
    VipsImage* black = nullptr;
    void* buffer = nullptr;
    size_t length = 0;
    QByteArray bytes;
    if (vips_black(&black, width, height, "bands", 3, nullptr) == 0 &&
        vips_pngsave_buffer(black, &buffer, &length, nullptr) == 0) {
        bytes = QByteArray(static_cast<const char*>(buffer), qsizetype(length));
    }
    g_free(buffer);
    if (black) {
        g_object_unref(black);
    }
    return bytes;
}

// Copying the same content again on this computer moves the first item to the top and keeps it.
TEST_F(FilingTest, SameTextTwiceKeepsOneItemMovedToTheTop) {
    const QList<ClipSyncChange> first = insertSynced(text(QStringLiteral("hello"), QStringLiteral("Editor")));
    ASSERT_EQ(first.size(), 1);
    EXPECT_EQ(first[0], ClipSyncChange::save(first[0].id, true));
    advance(10);
    fileSynced(text(QStringLiteral("other")));
    advance(10);
    const QList<ClipSyncChange> second =
        insertSynced(text(QStringLiteral("hello"), QStringLiteral("Terminal")));

    EXPECT_EQ(second, QList{ClipSyncChange::save(first[0].id, false)});
    const QList<ClipItem> items = syncItems();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].id, first[0].id);
    EXPECT_EQ(items[0].createdAt, clockNow);
    EXPECT_EQ(items[0].sourceName, QStringLiteral("Editor"));
    EXPECT_EQ(items[0].title, QStringLiteral("hello"));
}

TEST_F(FilingTest, RichCopyOfTheSameWordsMovesThePlainItem) {
    const QUuid plain = fileSynced(text(QStringLiteral("same words")));
    Clip rich = text(QStringLiteral("same words"));
    rich.kind = Clip::Kind::richText;
    rich.richTextData = QByteArray("{\\rtf1 same words}");
    EXPECT_EQ(insertSynced(rich), QList{ClipSyncChange::save(plain, false)});
    EXPECT_EQ(syncItems().size(), 1);
}

// Concealed clips and clips over 50,000,000 bytes are never filed.
TEST_F(FilingTest, ConcealedAndOversizedClipsFileNothing) {
    Clip secret = text(QStringLiteral("hunter2"));
    secret.concealed = true;
    EXPECT_TRUE(insertLocal(secret).isEmpty());
    EXPECT_TRUE(insertSynced(image(QByteArray(50'000'001, 'x'), QStringLiteral("public.png"))).isEmpty());
    EXPECT_TRUE(syncItems().isEmpty());
    EXPECT_TRUE(localItems().isEmpty());
}

// Texts over 5000 characters keep their full text in a payload; shorter texts need none.
TEST_F(FilingTest, LongTextGoesToThePayload) {
    const QString words = QString(6000, QLatin1Char('w'));
    const QUuid id = fileSynced(text(words));

    const std::optional<ClipItem> item = store->item(id);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->title, words.left(5000));
    EXPECT_TRUE(item->hasPayload);
    const std::optional<ClipPayload> payload = store->syncPayload(id);
    ASSERT_TRUE(payload);
    EXPECT_EQ(payload->fullText, words);
    EXPECT_FALSE(payload->imageData);
    EXPECT_EQ(store->loadClip(id, store->syncContainer())->plainText, words);
}

TEST_F(FilingTest, TextOfExactlyTheLimitHasNoPayload) {
    const QString words = QString(5000, QLatin1Char('w'));
    const QUuid id = fileSynced(text(words));
    EXPECT_FALSE(store->item(id)->hasPayload);
    EXPECT_FALSE(store->syncContext().hasPayloadRecord(id));
    const std::optional<Clip> clip = store->loadClip(id, store->syncContainer());
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->plainText, words);
    EXPECT_EQ(clip->sourceName, QStringLiteral("Editor"));
}

// Images: thumbnail, pixel size and title from the image; bytes that are no image keep "Image"
// unless the type names a format.
TEST_F(FilingTest, ImageWithoutReadableMetadataKeepsTheTypeOrImage) {
    const QUuid typed = fileSynced(image(noise(5000, 'a'), QStringLiteral("public.png")));
    const QUuid untyped = fileSynced(image(noise(5000, 'b'), std::nullopt));
    EXPECT_TRUE(store->item(typed)->title.contains(QStringLiteral("PNG")));
    EXPECT_EQ(store->item(untyped)->title, QStringLiteral("Image"));
    EXPECT_FALSE(store->item(untyped)->thumbnailData);
    EXPECT_FALSE(store->item(untyped)->pixelWidth);
}

TEST_F(FilingTest, DecodableImageGetsThumbnailPixelSizeAndPayload) {
    const QByteArray png = pngOfSize(300, 200);
    ASSERT_FALSE(png.isEmpty());
    Clip clip = image(png, QStringLiteral("public.png"));
    clip.sourceName = QStringLiteral("Viewer");
    const QUuid id = fileSynced(clip);

    const ClipItem item = *store->item(id);
    EXPECT_EQ(item.pixelWidth, 300);
    EXPECT_EQ(item.pixelHeight, 200);
    EXPECT_TRUE(item.thumbnailData && !item.thumbnailData->isEmpty());
    EXPECT_TRUE(item.title.contains(QStringLiteral("PNG 300\u00D7200")));
    EXPECT_EQ(item.kindRaw, QStringLiteral("image"));
    const std::optional<Clip> loaded = store->loadClip(id, store->syncContainer());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->imageData, png);
    EXPECT_EQ(loaded->dataUTI, QStringLiteral("public.png"));
    EXPECT_FALSE(loaded->plainText);
}

TEST_F(FilingTest, FileClipKeepsItsURLsAndRebuildsWithoutText) {
    Clip clip;
    clip.kind = Clip::Kind::file;
    clip.fileURLs = {QStringLiteral("file:///home/a/Report.pdf"), QStringLiteral("file:///home/a/Notes.txt")};
    const QUuid id = insertLocal(clip).constLast().id;
    const ClipItem item = *store->item(id);
    EXPECT_EQ(item.deviceID, thisMac);
    EXPECT_EQ(item.fileURLsJoined, clip.fileURLs.join(QLatin1Char('\n')));
    EXPECT_FALSE(item.hasPayload);
    const std::optional<Clip> loaded = store->loadClip(id, store->localContainer());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->fileURLs, clip.fileURLs);
    EXPECT_FALSE(loaded->plainText);
}

// Operations on one item: touch moves it silently, pin is reported for the sync store only,
// the pixel size is filled in once.
TEST_F(FilingTest, TouchPinAndPixelSize) {
    const QUuid synced = fileSynced(text(QStringLiteral("a")));
    advance(5);
    const QUuid local = insertLocal(text(QStringLiteral("b"))).constLast().id;
    advance(5);
    store->touch(synced);
    EXPECT_EQ(store->item(synced)->createdAt, clockNow);

    store->togglePin(synced);
    store->togglePin(local);
    EXPECT_TRUE(store->item(synced)->pinned);
    EXPECT_TRUE(store->item(local)->pinned);
    EXPECT_EQ(reported, QList{ClipSyncChange::save(synced, false)});

    store->setPixelSizeIfMissing(local, 640, 480);
    store->setPixelSizeIfMissing(local, 1, 1);
    EXPECT_EQ(store->item(local)->pixelWidth, 640);
    EXPECT_EQ(store->item(local)->pixelHeight, 480);

    store->touch(QUuid::createUuid());
    store->togglePin(QUuid::createUuid());
    EXPECT_EQ(reported.size(), 1);
}

} // namespace
} // namespace snipjar::test
