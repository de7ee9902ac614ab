#include "panel/widgets/PreviewPane.h"
#include "TestImages.h"
#include "ViewTestSupport.h"
#include "panel/ImageDecoding.h"
#include "panel/PreviewDocument.h"
#include "panel/widgets/FooterButton.h"
#include "panel/widgets/PreviewFooter.h"
#include "panel/widgets/PreviewImageView.h"
#include "panel/widgets/PreviewTextView.h"
#include "panel/widgets/SymbolLabel.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QTest>
#include <QTextDocument>
#include <QThread>

#include <atomic>
#include <tuple>

namespace snipjar::test {
namespace {

// Where images were decoded and texts laid out, as the test hooks report it.
struct ThreadCount {
    std::atomic<int> main{0};
    std::atomic<int> loader{0};
    void count() { ++(QThread::currentThread() == QCoreApplication::instance()->thread() ? main : loader); }
};
ThreadCount decodes;
ThreadCount layouts;
void countDecode() {
    decodes.count();
}
// Counts the layout just done, and any later one of the same document wherever it happens.
void countLayouts(const QTextDocument& document) {
    layouts.count();
    QObject::connect(
        document.documentLayout(), &QAbstractTextDocumentLayout::update, document.documentLayout(),
        [] { layouts.count(); }, Qt::DirectConnection);
}

class PreviewPaneTest : public ViewTest {
protected:
    PreviewPaneTest() {
        pane.resize(500, 470);
        pane.show();
    }

    PreviewFooter& footer() const { return *pane.footer(); }
    bool detailsMention(const QString& word) const {
        return footer().detailTexts().join(QLatin1Char('|')).contains(word);
    }

    PreviewPane pane{*model, callbacks()};
};

// The first click on Delete arms it, which the button shows in red; another selected row is not
// armed. The pin button says what a click does and what the clip is.
TEST_F(PreviewPaneTest, FooterButtonsSayWhatAClickDoes) {
    file(text(QStringLiteral("older")));
    file(text(QStringLiteral("newer")));
    ASSERT_TRUE(showAndWait());
    FooterButton* button = footer().deleteButton();
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(button->text(), QStringLiteral("Confirm Delete?"));
    EXPECT_TRUE(button->isDestructive());
    EXPECT_EQ(button->toolTip(), QStringLiteral("Click again to delete from all your computers"));

    model->moveSelection(1);
    EXPECT_EQ(button->text(), QStringLiteral("Delete"));
    EXPECT_FALSE(button->isDestructive());

    EXPECT_EQ(footer().pinButton()->text(), QStringLiteral("Pin"));
    QTest::mouseClick(footer().pinButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return model->preview() && model->preview()->pinned; }));
    EXPECT_EQ(footer().pinButton()->text(), QStringLiteral("Pinned"));
    EXPECT_EQ(footer().pinButton()->symbol(), QStringLiteral("pin.fill"));
    EXPECT_EQ(footer().pinButton()->toolTip(), QStringLiteral("Unpin (Ctrl+P)"));
}

// Texts name their source; files report neither counts nor a pixel size. Only a clip that never
// leaves this computer (files) carries the not-synced mark.
TEST_F(PreviewPaneTest, DetailsMatchTheKind) {
    file(text(QStringLiteral("x")));
    ASSERT_TRUE(showAndWait());
    EXPECT_FALSE(footer().localOnlyMark()->isVisible());
    EXPECT_TRUE(footer().detailTexts().contains(QStringLiteral("Editor")));
    // The example editor is not installed.
    EXPECT_FALSE(footer().showsSourceIcon());

    Clip files;
    files.kind = Clip::Kind::file;
    files.fileURLs = {QStringLiteral("file:///tmp/a.txt"), QStringLiteral("file:///tmp/b.txt")};
    file(files);
    ASSERT_TRUE(showRow([](const PanelRow& row) { return row.kind == ClipKind::file; }));
    EXPECT_EQ(model->preview()->fileURLs, files.fileURLs);
    EXPECT_FALSE(detailsMention(QStringLiteral("line")));
    EXPECT_FALSE(detailsMention(QStringLiteral("\u00D7")));
    ASSERT_TRUE(model->preview()->localOnly);
    EXPECT_TRUE(footer().localOnlyMark()->isVisible());
    EXPECT_EQ(footer().localOnlyMark()->toolTip(),
              QStringLiteral("Not synced \u2014 stays on this computer"));
    EXPECT_TRUE(pane.content()->findChild<QLabel*>() != nullptr);
}

// An installed application's icon comes before its name, found through its desktop entry.
TEST_F(PreviewPaneTest, InstalledSourceShowsItsIcon) {
    ASSERT_TRUE(QDir().mkpath(environment.path(QStringLiteral("data/applications"))));
    const QString iconPath = environment.path(QStringLiteral("writer.png"));
    QImage(16, 16, QImage::Format_ARGB32).save(iconPath);
    QFile entry(environment.path(QStringLiteral("data/applications/org.example.Writer.desktop")));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Writer\nIcon=" + iconPath.toUtf8() + "\n");
    entry.close();
    Clip clip = text(QStringLiteral("written"));
    clip.sourceBundleID = QStringLiteral("org.example.Writer");
    clip.sourceName = QStringLiteral("Writer");
    file(clip);
    ASSERT_TRUE(showAndWait());
    EXPECT_TRUE(footer().showsSourceIcon());
}

// The content shows a placeholder for a secret, the image (decoded off the main thread; the footer
// gives its pixel size, no counts), and texts cut at 10,000 characters with a note (laid out off the
// main thread).
TEST_F(PreviewPaneTest, ContentShowsTheClip) {
    Clip secret = text(QStringLiteral("hunter2"));
    secret.concealed = true;
    put(store->localContainer(), secret, thisMac, 0);
    ASSERT_TRUE(showAndWait());
    QStringList labels;
    for (const QLabel* label : pane.content()->findChildren<QLabel*>()) {
        labels.append(label->text());
    }
    EXPECT_EQ(labels, QStringList{QStringLiteral("Secure item \u2014 value hidden")});
    // Nothing of the secret, not even its size, is in the preview.
    EXPECT_EQ(model->preview()->text, QString(8, QChar(0x2022)));
    EXPECT_EQ(model->preview()->charCount, std::nullopt);
    EXPECT_EQ(model->preview()->lineCount, std::nullopt);
    // The rendered preview is HEIC, which Qt alone does not read.
    putImage(makeImage(QStringLiteral("jpg"), 320, 200), -5);
    setImageDecodeObserver(&countDecode);
    ASSERT_TRUE(showAndWait());
    const auto* image = qobject_cast<PreviewImageView*>(pane.content());
    setImageDecodeObserver(nullptr);
    EXPECT_EQ(decodes.main, 0);
    EXPECT_GT(decodes.loader, 0);
    ASSERT_NE(image, nullptr);
    pane.layout()->activate();
    EXPECT_EQ(image->image().size(), QSize(320, 200));
    EXPECT_NEAR(double(image->imageRect().width()) / image->imageRect().height(), 1.6, 0.05);
    EXPECT_TRUE(footer().detailTexts().contains(QStringLiteral("320 \u00D7 200")));
    EXPECT_FALSE(detailsMention(QStringLiteral("line")));
    // Plain and styled texts (one long run, thousands of short runs), laid out at the pane's width
    // by a loader, also when the width changes.
    QByteArray runs = "{\\rtf1 ";
    for (int run = 0; run < 5000; ++run) {
        runs += run % 2 == 0 ? "{\\b bold} " : "{\\i\\fs30 it} ";
    }
    // The clip's text, its RTF (none for plain text) and how the preview starts.
    const QList<std::tuple<QString, QByteArray, QString>> texts = {
        {QString(10'000, QLatin1Char('w')) + QStringLiteral("\ny"), {}, QStringLiteral("www")},
        {QStringLiteral("long run"), "{\\rtf1 " + QByteArray(200'000, 'r') + "}", QStringLiteral("rrr")},
        {QStringLiteral("many runs"), runs + "}", QStringLiteral("bold it bold")}};
    setPreviewLayoutObserver(&countLayouts);
    for (const auto& [plain, rtf, start] : texts) {
        Clip clip = text(plain);
        clip.kind = rtf.isEmpty() ? Clip::Kind::text : Clip::Kind::richText;
        clip.richTextData = rtf.isEmpty() ? std::nullopt : std::optional(rtf);
        file(clip);
        // The newest clip of its kind that is not the secret.
        ASSERT_TRUE(
            showRow([&clip](const PanelRow& row) { return row.kind == clip.kind && !row.concealed; }));
        const auto* view = qobject_cast<PreviewTextView*>(pane.content());
        ASSERT_TRUE(view && view->document() == model->preview()->document.get());
        const QString shown = view->document()->toPlainText();
        // 10,000 characters of the payload (not of the shorter title), then the note.
        EXPECT_NEAR(shown.size(), 10'050, 50);
        EXPECT_TRUE(shown.startsWith(start));
        EXPECT_TRUE(shown.endsWith(QStringLiteral("Preview truncated \u2014 Return pastes the full clip")));
        EXPECT_EQ(view->document()->textWidth(), model->textPreviewStyle().width);
        // The counts are of the whole text; the origin is named.
        EXPECT_TRUE(footer().detailTexts().contains(
            rtf.isEmpty() ? QStringLiteral("2 lines \u00B7 10,002 characters")
                          : QStringLiteral("1 line \u00B7 %1 characters").arg(plain.size())));
        EXPECT_TRUE(detailsMention(QStringLiteral("Computer")));
    }
    const qreal wide = model->textPreviewStyle().width;
    pane.resize(400, 470);
    ASSERT_TRUE(waitUntil([&] {
        const auto* view = qobject_cast<PreviewTextView*>(pane.content());
        return view && view->document()->textWidth() < wide - 90;
    }));
    pane.grab();
    setPreviewLayoutObserver(nullptr);
    EXPECT_EQ(layouts.main, 0);
    EXPECT_GE(layouts.loader, 4);
}

} // namespace
} // namespace snipjar::test
