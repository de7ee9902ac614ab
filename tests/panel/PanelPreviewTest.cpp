#include "PanelTestSupport.h"
#include "TestImages.h"
#include "image/ImageTranscode.h"

#include <QFile>

namespace snipjar::test {
namespace {

class PanelPreviewTest : public PanelTest {
protected:
    static QString cacheFile(const ClipItem& item) {
        return PreviewCache().filePath(PreviewCache::cacheKey(item.dedupKey, item.id));
    }
    static QByteArray contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

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
