#include "PanelTestSupport.h"
#include "TestImages.h"
#include "image/ImageTranscode.h"

#include <QFile>
#include <QTextDocument>
#include <QThread>

namespace snipjar::test {
namespace {

class PanelPreviewTest : public PanelTest {
protected:
    // An image item without a stored pixel size, with its bytes in a payload, as sync brings it.
    ClipItem putImage(const QByteArray& bytes, qint64 secondsAgo) {
        Clip clip;
        clip.kind = Clip::Kind::image;
        clip.imageData = bytes;
        clip.dataUTI = QStringLiteral("public.jpeg");
        ClipItem item = ClipItem::fromClip(clip, std::nullopt, otherMac);
        item.createdAt = clockNow.addSecs(-secondsAgo);
        item.hasPayload = true;
        const std::unique_ptr<ModelContext> context = store->syncContainer().newContext();
        context->insert(item);
        context->insert(ClipPayload{item.id, std::nullopt, std::nullopt, bytes, clip.dataUTI, std::nullopt});
        EXPECT_TRUE(context->save());
        return item;
    }
    static QString cacheFile(const ClipItem& item) {
        return PreviewCache().filePath(PreviewCache::cacheKey(item.dedupKey, item.id));
    }
    static QByteArray contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

// Concealed clips show eight bullets and no counts; files show their URLs and no counts.
TEST_F(PanelPreviewTest, ConcealedAndFileClipsShowNoContentCounts) {
    // The capture never files concealed clips, so this one is written into the store directly.
    Clip secret = text(QStringLiteral("hunter2 and more"));
    secret.concealed = true;
    put(store->localContainer(), secret, thisMac, 0);
    showPanel();
    ASSERT_TRUE(waitForPreview());
    EXPECT_EQ(model->preview()->text, QString(8, QChar(0x2022)));
    EXPECT_TRUE(model->preview()->localOnly);
    EXPECT_EQ(model->preview()->charCount, std::nullopt);
    EXPECT_EQ(model->preview()->lineCount, std::nullopt);

    Clip files;
    files.kind = Clip::Kind::file;
    files.fileURLs = {QStringLiteral("file:///tmp/report.pdf")};
    file(files);
    showPanel();
    ASSERT_TRUE(waitForPreview());
    EXPECT_EQ(model->preview()->fileURLs, files.fileURLs);
    EXPECT_EQ(model->preview()->charCount, std::nullopt);
}

// Rich text goes through the installed reader (RTF unless another is set), which runs on a loader,
// never on the main thread; its document comes back to the main thread.
TEST_F(PanelPreviewTest, RichTextGoesThroughTheReader) {
    Clip rich;
    rich.kind = Clip::Kind::richText;
    rich.plainText = QStringLiteral("bold words");
    rich.richTextData = QByteArray("{\\rtf1 {\\b bold} words}");
    file(rich);
    QList<QByteArray> read;
    QThread* readerThread = nullptr;
    model->setRichTextReader([&read, &readerThread](const QByteArray& rtf) {
        read.append(rtf);
        readerThread = QThread::currentThread();
        auto document = std::make_unique<QTextDocument>();
        document->setPlainText(QStringLiteral("styled"));
        return RtfReader::Result{std::move(document), false, 0};
    });
    showPanel();
    ASSERT_TRUE(waitUntil([this] { return model->preview() && model->preview()->document; }));
    EXPECT_EQ(model->preview()->document->toPlainText(), QStringLiteral("styled"));
    EXPECT_EQ(model->preview()->document->thread(), QThread::currentThread());
    EXPECT_NE(readerThread, QThread::currentThread());
    EXPECT_EQ(read, QList{*rich.richTextData});
}

// An image preview is rendered once, written to the cache under the image's digest, and the
// image's pixel size is measured into the store; later loads read the cache.
TEST_F(PanelPreviewTest, ImagePreviewIsRenderedCachedAndMeasured) {
    const ClipItem item = putImage(makeImage(QStringLiteral("jpg"), 320, 200), 10);
    ASSERT_FALSE(item.pixelWidth.has_value());
    showPanel();
    ASSERT_TRUE(waitForPreview());
    EXPECT_EQ(model->preview()->image.size(), QSize(320, 200));
    EXPECT_EQ(ImageTranscode::pixelSize(contents(cacheFile(item))), QSizeF(320, 200));
    EXPECT_EQ(model->preview()->pixelWidth, 320);
    EXPECT_EQ(store->item(item.id)->pixelWidth, 320);

    // With the size stored, a cached file is used as it is.
    const QByteArray stand_in = makeImage(QStringLiteral("png"), 12, 12);
    PreviewCache().write(PreviewCache::cacheKey(item.dedupKey, item.id), stand_in);
    model->loadPreview();
    ASSERT_TRUE(
        waitUntil([&] { return model->preview() && model->preview()->image.size() == QSize(12, 12); }));
}

// A result that arrives for a cancelled preview, or after the selection moved on, is dropped.
TEST_F(PanelPreviewTest, CancelledAndStaleResultsAreDropped) {
    const ClipItem older = putImage(makeImage(QStringLiteral("jpg"), 300, 300), 20);
    const ClipItem newer = putImage(makeImage(QStringLiteral("jpg"), 200, 300), 10);
    model->setRows(model->loadRows());
    ASSERT_EQ(model->all().size(), 2);

    model->loadPreview();
    model->setSelection(1);
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(cacheFile(newer)); }));
    settle(std::chrono::milliseconds(100));
    EXPECT_FALSE(model->preview().has_value());

    // A cancelled loader gives up before rendering when it can; either way nothing is published.
    model->loadPreview();
    model->cancelPreview();
    waitUntil([&] { return QFile::exists(cacheFile(older)); }, std::chrono::seconds(2));
    settle(std::chrono::milliseconds(100));
    EXPECT_FALSE(model->preview().has_value());
}

// Selection changes in quick succession load a single preview, for the last selection.
TEST_F(PanelPreviewTest, QuickSelectionChangesLoadOncePerPause) {
    for (const QString& words : {QStringLiteral("three"), QStringLiteral("two"), QStringLiteral("one")}) {
        file(text(words));
    }
    showPanel();
    ASSERT_TRUE(waitForPreview());
    int published = 0;
    QObject::connect(model.get(), &PanelModel::previewChanged, [&published] { ++published; });
    for (int step = 0; step < 2; ++step) {
        model->moveSelection(1);
        model->schedulePreview();
    }
    EXPECT_EQ(model->preview()->text, QStringLiteral("one"));
    ASSERT_TRUE(waitUntil([this] { return model->preview()->text == QStringLiteral("three"); }));
    settle(PanelModel::previewDelay * 3);
    EXPECT_EQ(published, 1);
}

} // namespace
} // namespace snipjar::test
