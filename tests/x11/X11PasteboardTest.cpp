#include "X11TestClients.h"

#include "platform/PasteboardMimeMapping.h"
#include "platform/TypeIdentifier.h"
#include "platform/x11/X11Pasteboard.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

using namespace snipjar;
using namespace snipjar::test;
using Mapping = PasteboardMimeMapping;

namespace {

QString id(const char* identifier) {
    return QString::fromLatin1(identifier);
}
const QString plainText = id(TypeIdentifier::plainText);

QByteArray randomBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(42).fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

QByteArray utf16(const QString& text) {
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

class X11PasteboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        pasteboard = X11Pasteboard::create();
        if (!pasteboard) {
            GTEST_SKIP() << "no X display";
        }
    }

    QProcess* xclip(const QByteArray& bytes, const QString& target = QStringLiteral("UTF8_STRING")) {
        return taking(*pasteboard, [&] { return owners.xclip(bytes, target); });
    }
    QProcess* owner(const QStringList& targetsAndValues) {
        return taking(*pasteboard, [&] { return owners.helper(targetsAndValues); });
    }
    // '@' and the path of a file holding the bytes, for the owner helper.
    QString file(const QByteArray& bytes) {
        return QLatin1Char('@') + owners.writeFile(QString::number(++files), bytes);
    }

    std::unique_ptr<X11Pasteboard> pasteboard;
    SelectionOwners owners;
    int files = 0;
};

// What owners offer comes back as identifiers in the owner's order (pseudo-targets are no content,
// unknown targets keep their names), text decoded whatever target carried it, markers (a KDE hint
// other than "secret" keeps its name; the capture tests skip secret and unreadable hints), file URLs
// (the file:// entries of text/uri-list) and addresses (the Mozilla address, then every entry).
TEST_F(X11PasteboardTest, ReadsWhatOwnersOffer) {
    const QString text = QStringLiteral("Grüße, 世界 ✓");
    const QByteArray rtf = "{\\rtf1\\ansi Hello \\b bold\\b0}";
    const QString concealed = id(TypeIdentifier::concealedMarker);
    const struct {
        QStringList offer;
        QStringList types;
        std::optional<QString> string = {};
        QList<std::pair<QString, std::optional<QByteArray>>> data = {};
    } rows[] = {
        {{"UTF8_STRING", file(text.toUtf8())}, {plainText}, text, {{plainText, text.toUtf8()}}},
        {{"text/plain", file("caf\xe9")}, {plainText}, QStringLiteral("café")},
        {{"SAVE_TARGETS", "", "text/rtf", QString::fromLatin1(rtf), "text/plain;charset=utf-8", "Hello bold",
          "UTF8_STRING", "Hello bold", "application/x-qt-image", "", "text/html", "<b>Hello</b>",
          "application/x-custom", "x", "image/x-portable-pixmap", "P3"},
         {id(TypeIdentifier::rtf), plainText, id(TypeIdentifier::html), "application/x-custom",
          "public.portable-pixmap"},
         QStringLiteral("Hello bold"),
         {{id(TypeIdentifier::rtf), rtf},
          {"application/x-custom", "x"},
          {"public.portable-pixmap", "P3"},
          {id(TypeIdentifier::png), std::nullopt}}},
        {{"x-kde-passwordManagerHint", "public", "UTF8_STRING", "hello"},
         {"x-kde-passwordManagerHint", plainText},
         QStringLiteral("hello")},
        {{"application/x-nspasteboard-concealed-type", "", "org.nspasteboard.TransientType", "",
          "com.apple.is-remote-clipboard", ""},
         {concealed, id(TypeIdentifier::transientMarker), id(TypeIdentifier::remoteClipboardMarker)}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.offer.join(' ').toStdString());
        owner(row.offer);
        EXPECT_EQ(pasteboard->types(), row.types);
        if (!row.types.contains(concealed)) {
            EXPECT_EQ(pasteboard->string(), row.string);
        }
        EXPECT_EQ(pasteboard->fileURLs(), std::nullopt);
        EXPECT_EQ(pasteboard->urls(), std::nullopt);
        for (const auto& [identifier, bytes] : row.data) {
            EXPECT_EQ(pasteboard->data(identifier), bytes) << identifier.toStdString();
        }
    }
    const QStringList fileList = {"file:///tmp/a%20b.txt", "file:///tmp/c.txt"};
    owner({"text/x-moz-url", file(utf16("https://example.com/page\nExample page")), "text/uri-list",
           file("# copied\r\nfile:///tmp/a%20b.txt\r\nhttps://example.com/x.png\r\nfile:/tmp/c.txt\r\n")});
    EXPECT_EQ(pasteboard->fileURLs(), fileList);
    EXPECT_EQ(pasteboard->urls(), (QStringList{"https://example.com/page", fileList[0],
                                               "https://example.com/x.png", fileList[1]}));
    owner({"text/uri-list", "https://example.com/only\r\n"});
    EXPECT_EQ(pasteboard->fileURLs(), std::nullopt);
    EXPECT_EQ(pasteboard->urls(), QStringList{"https://example.com/only"});
}

// Large images arrive through INCR; a cap ends the transfer early with tooLarge. Their bytes are
// kept while a capture runs (letting go of them after it is CaptureX11Test.TranscodesLargeJPEG's).
TEST_F(X11PasteboardTest, ReadsLargeImagesIncrementally) {
    const QByteArray image = randomBytes(24 * 1000 * 1000);
    const QString png = id(TypeIdentifier::png);
    QProcess* owner = xclip(image, QStringLiteral("image/png"));
    EXPECT_EQ(pasteboard->types(), QStringList{png});
    EXPECT_EQ(pasteboard->read(png, 1000 * 1000).status, PasteboardRead::Status::tooLarge);
    // Giving up on the bytes lets the owner finish its transfer: it stays and serves the next read.
    spinEventLoop(300);
    EXPECT_EQ(owner->state(), QProcess::Running);
    pasteboard->beginCapture();
    const PasteboardRead read = pasteboard->read(png);
    ASSERT_EQ(read.status, PasteboardRead::Status::ok);
    EXPECT_TRUE(read.bytes == image);
    // Within the capture a smaller cap is decided without the owner.
    ::kill(pid_t(owner->processId()), SIGSTOP);
    EXPECT_EQ(pasteboard->read(png, 1000).status, PasteboardRead::Status::tooLarge);
    ::kill(pid_t(owner->processId()), SIGCONT);
    EXPECT_TRUE(pasteboard->endCapture());
    EXPECT_EQ(pasteboard->types(), QStringList{png});

    // A large own write goes to other clients through INCR.
    pasteboard->write({{{png, image}}});
    EXPECT_TRUE(xclipOutput(QStringLiteral("image/png")) == image);
}

// What the application writes is served to other clients while the main thread carries on (here it
// waits in xclip's QProcess, so the owner's own thread answers): after the owner's own targets,
// every MIME target of each entry in entry order (plain text in all its encodings, the concealed
// marker as the KDE hint and the pasteboard markers, other types under their own names).
TEST_F(X11PasteboardTest, ServesOwnWritesToOtherClients) {
    const QString text = QStringLiteral("Grüße ✓");
    const QByteArray rtf = "{\\rtf1 Gr\\'fc\\'dfe}";
    pasteboard->write(
        {{{plainText, text.toUtf8()}, {id(TypeIdentifier::rtf), rtf}, {"application/x-custom", "x"}}});
    const QByteArray ownTargets = "TARGETS\nTIMESTAMP\nMULTIPLE\n";
    const QByteArray textTargets = "UTF8_STRING\ntext/plain;charset=utf-8\ntext/plain\nSTRING\nTEXT\n";
    EXPECT_EQ(xclipOutput(QStringLiteral("TARGETS")),
              ownTargets + textTargets + "text/rtf\napplication/rtf\napplication/x-custom\n");
    EXPECT_EQ(xclipOutput(QStringLiteral("text/plain")), text.toUtf8());
    EXPECT_EQ(xclipOutput(QStringLiteral("UTF8_STRING")), text.toUtf8());
    EXPECT_EQ(xclipOutput(QStringLiteral("STRING")), text.toLatin1());
    EXPECT_EQ(xclipOutput(QStringLiteral("text/rtf")), rtf);

    pasteboard->write({{{id(TypeIdentifier::fileURL), "file:///tmp/a.txt\r\nfile:///tmp/b%20c.txt"}}});
    EXPECT_EQ(xclipOutput(QStringLiteral("text/uri-list")),
              QByteArray("file:///tmp/a.txt\r\nfile:///tmp/b%20c.txt\r\n"));
    EXPECT_EQ(xclipOutput(QStringLiteral("x-special/gnome-copied-files")),
              QByteArray("copy\nfile:///tmp/a.txt\nfile:///tmp/b%20c.txt"));
    EXPECT_EQ(xclipOutput(QStringLiteral("UTF8_STRING")), QByteArray("/tmp/a.txt\n/tmp/b c.txt"));
    EXPECT_EQ(pasteboard->fileURLs(), (QStringList{"file:///tmp/a.txt", "file:///tmp/b%20c.txt"}));

    pasteboard->write({{{plainText, "hunter2"}, {id(TypeIdentifier::concealedMarker), {}}}});
    EXPECT_EQ(xclipOutput(QStringLiteral("x-kde-passwordManagerHint")), QByteArray("secret"));
    EXPECT_EQ(xclipOutput(QStringLiteral("TARGETS")),
              ownTargets + textTargets +
                  "x-kde-passwordManagerHint\napplication/x-nspasteboard-concealed-type\n"
                  "org.nspasteboard.ConcealedType\n");
    EXPECT_TRUE(pasteboard->types().contains(id(TypeIdentifier::concealedMarker)));
}

// A MULTIPLE request gets each listed target on its property; a target not written is refused by
// replacing its property with None.
TEST_F(X11PasteboardTest, AnswersMultipleRequests) {
    pasteboard->write({{{plainText, "many"}, {id(TypeIdentifier::html), "<i>many</i>"}}});
    std::unique_ptr<XcbConnection> x = XcbConnection::open();
    ASSERT_TRUE(x);
    xcb_connection_t* c = x->get();
    const QList<xcb_atom_t> atoms =
        x->atoms({"CLIPBOARD", "MULTIPLE", "ATOM_PAIR", "UTF8_STRING", "text/html", "image/png", "P_MULTIPLE",
                  "P_TEXT", "P_HTML", "P_PNG"});
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, x->root(), 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t pairs[] = {atoms[3], atoms[7], atoms[4], atoms[8], atoms[5], atoms[9]};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atoms[6], atoms[2], 32, 6, pairs);
    xcb_convert_selection(c, window, atoms[0], atoms[1], atoms[6], XCB_CURRENT_TIME);
    x->flush();
    XcbReply<xcb_generic_event_t> event;
    while ((event = XcbReply<xcb_generic_event_t>(xcb_wait_for_event(c))) &&
           (event->response_type & 0x7f) != XCB_SELECTION_NOTIFY) {
    }
    ASSERT_TRUE(event);
    EXPECT_EQ(reinterpret_cast<xcb_selection_notify_event_t*>(event.get())->property, atoms[6]);
    auto property = [&](xcb_atom_t name) {
        XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            c, xcb_get_property(c, false, window, name, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024), nullptr));
        return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                          xcb_get_property_value_length(reply.get()));
    };
    EXPECT_EQ(property(atoms[7]), QByteArray("many"));
    EXPECT_EQ(property(atoms[8]), QByteArray("<i>many</i>"));
    const QByteArray answered = property(atoms[6]);
    ASSERT_EQ(answered.size(), qsizetype(sizeof pairs));
    const auto* answeredPairs = reinterpret_cast<const xcb_atom_t*>(answered.constData());
    EXPECT_EQ(answeredPairs[1], atoms[7]);
    EXPECT_EQ(answeredPairs[3], atoms[8]);
    EXPECT_EQ(answeredPairs[5], xcb_atom_t(XCB_ATOM_NONE));
}

// The edges of the reading rules beyond what the owners above offer: the hint conceals only with
// "secret" (trailing white space and NULs allowed); pseudo-targets carry no content and unknown
// targets keep their names; reading prefers the table's targets in table order; text is decoded by
// its target and charset; file lists skip comments and normalise file URLs; the Mozilla URL is its
// first line, with or without a BOM.
TEST(PasteboardMimeMappingTest, ReadingRules) {
    for (const auto& [hint, secret] : {std::pair<QByteArray, bool>{"secret\n", true},
                                       {QByteArray("secret \0\0", 9), true},
                                       {" secret", false},
                                       {"secrets", false},
                                       {"", false}}) {
        EXPECT_EQ(Mapping::isSecretHint(hint), secret) << hint.constData();
    }
    for (const char* pseudo : {"MULTIPLE", "TIMESTAMP", "DELETE", "INCR"}) {
        EXPECT_FALSE(Mapping::identifierForTarget(pseudo)) << pseudo;
    }
    for (const auto& [target, identifier] :
         {std::pair<const char*, QString>{"text/plain;charset=UTF-8", id(TypeIdentifier::plainText)},
          {"application/rtf", id(TypeIdentifier::rtf)},
          {"image/heif", id(TypeIdentifier::heic)},
          {"image/webp", "public.webp"},
          {"chromium/x-web-custom-data", "chromium/x-web-custom-data"}}) {
        EXPECT_EQ(Mapping::identifierForTarget(target), identifier) << target;
    }

    EXPECT_EQ(
        Mapping::targetsForIdentifier(id(TypeIdentifier::plainText), {"STRING", "text/plain", "UTF8_STRING",
                                                                      "text/plain;charset=UTF-8", "TEXT"}),
        (QByteArrayList{"text/plain;charset=UTF-8", "UTF8_STRING", "text/plain", "STRING", "TEXT"}));
    EXPECT_EQ(Mapping::targetsForIdentifier(id(TypeIdentifier::rtf), {"application/rtf", "text/rtf"}),
              (QByteArrayList{"text/rtf", "application/rtf"}));

    for (const auto& [target, bytes, text] :
         {std::tuple<QByteArray, QByteArray, QString>{"STRING", "gr\xfc\xdf", "grüß"},
          {"text/plain", "gr\xc3\xbc\xc3\x9f", "grüß"},
          {"text/plain;charset=ISO-8859-1", "gr\xc3\xbc", "grÃ¼"},
          {"text/plain;charset=utf-16le", utf16("€5"), "€5"},
          {"UTF8_STRING", QByteArray("hi\0", 3), "hi"}}) {
        EXPECT_EQ(Mapping::decodeText(target, bytes), text) << target.constData();
    }

    EXPECT_EQ(Mapping::parseURIList(QByteArrayLiteral(
                  "#c\r\nfile:/tmp/a\r\nfile:///etc/passwd\0.txt\r\n\r\nhttp://x.org/\nFILE:///tmp/b\n")),
              (QStringList{"file:///tmp/a", "http://x.org/", "file:///tmp/b"}));
    EXPECT_EQ(Mapping::parseGnomeCopiedFiles("cut\nfile:///tmp/a\nfile:///tmp/b"),
              (QStringList{"file:///tmp/a", "file:///tmp/b"}));
    const QByteArray moz = utf16("https://b.example/p?q=1\r\nTitle");
    for (const QByteArray& bytes : {QByteArray("https://b.example/p?q=1\nTitle"), moz, "\xff\xfe" + moz}) {
        EXPECT_EQ(Mapping::parseMozURL(bytes), QStringLiteral("https://b.example/p?q=1"));
    }
    EXPECT_FALSE(Mapping::parseMozURL(""));
}

} // namespace
