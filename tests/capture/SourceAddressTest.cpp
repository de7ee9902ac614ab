#include "capture/SourceAddress.h"
#include "platform/TypeIdentifier.h"
#include "platform/fakes/FakePasteboard.h"

#include <gtest/gtest.h>

namespace snipjar {
namespace {

// The src of the first img tag, found case-insensitively with either quote (the double-quoted form
// wins even when the single-quoted one comes first in the tag), with &amp; decoded, also in a tag
// cut off at the end of the text. No usable address: no tag, no attribute, src outside the tag,
// inline data, unterminated or empty.
TEST(ImageSourceFromHTML, ReadsTheFirstImageSource) {
    const std::pair<QString, std::optional<QString>> rows[] = {
        {"<p><IMG ALT='x' SRC='https://ex.org/a.jpg?w=1&amp;h=2&amp;q=3'><img src=\"https://ex.org/b.jpg\">",
         "https://ex.org/a.jpg?w=1&h=2&q=3"},
        {"<img src=\"https://ex.org/x.png\" src='https://ex.org/y.png'>", "https://ex.org/x.png"},
        {"<img data-src='a.png' src=\"b.png\">", "b.png"},
        {"<img src=\"c.png\"", "c.png"},
        {"<p>no picture</p>", std::nullopt},
        {"<img alt=\"x\"><a src=\"later.png\">", std::nullopt},
        {"<img src=\"data:image/png;base64,AAAA\">", std::nullopt},
        {"<img src=\"https://ex.org/open.png", std::nullopt},
        {"<img src=''>", std::nullopt},
        {QString(), std::nullopt},
    };
    for (const auto& [html, source] : rows) {
        EXPECT_EQ(imageSourceFromHTML(html), source) << html.toStdString();
    }
}

// The first URL object that is not a file URL wins; otherwise the HTML's img tag, also in the UTF-16
// HTML (marked with a byte-order mark) that some browsers put on the clipboard.
TEST(SourceURLString, PrefersWebURLObjectsThenHTML) {
    FakePasteboard pasteboard;
    FakePasteboard::Contents contents;
    contents.urls = QStringList{QStringLiteral("file:///home/u/a.png"), QStringLiteral("https://ex.org/pic")};
    contents.entries.append(
        FakePasteboard::Entry{TypeIdentifier::html, "<img src='https://ex.org/from-html.png'>"});
    pasteboard.setContents(contents);
    EXPECT_EQ(sourceURLString(pasteboard), QStringLiteral("https://ex.org/pic"));

    contents.urls = QStringList{QStringLiteral("file:///home/u/a.png")};
    pasteboard.setContents(contents);
    EXPECT_EQ(sourceURLString(pasteboard), QStringLiteral("https://ex.org/from-html.png"));

    contents.urls.reset();
    contents.entries = {FakePasteboard::Entry{TypeIdentifier::png, "x"}};
    pasteboard.setContents(contents);
    EXPECT_EQ(sourceURLString(pasteboard), std::nullopt);

    const QString html = QStringLiteral("<html><body><img src=\"https://ex.org/ü.png\"></body></html>");
    QByteArray utf16("\xff\xfe", 2);
    utf16.append(reinterpret_cast<const char*>(html.utf16()), html.size() * 2);
    pasteboard.setEntries({{TypeIdentifier::html, utf16}});
    EXPECT_EQ(sourceURLString(pasteboard), QStringLiteral("https://ex.org/ü.png"));
}

} // namespace
} // namespace snipjar
