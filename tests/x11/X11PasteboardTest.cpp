#include "platform/x11/X11Pasteboard.h"
#include "platform/TypeIdentifier.h"
#include "platform/x11/XcbConnection.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <signal.h>

using namespace snipjar;

namespace {

const QString plainText = QString::fromLatin1(TypeIdentifier::plainText);

QByteArray randomBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(42);
    generator.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

class X11PasteboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        pasteboard = X11Pasteboard::create();
        if (!pasteboard) {
            GTEST_SKIP() << "no X display";
        }
        ASSERT_TRUE(directory.isValid());
    }

    void TearDown() override {
        for (QProcess* process : processes) {
            ::kill(pid_t(process->processId()), SIGCONT);
            process->kill();
            process->waitForFinished(5000);
            delete process;
        }
    }

    // Runs the event loop until the change count passes `count` (owner changes arrive from the
    // pasteboard's own thread).
    bool waitForChangeAfter(qint64 count, int timeoutMs = 5000) {
        QElapsedTimer timer;
        timer.start();
        while (pasteboard->changeCount() <= count && timer.elapsed() < timeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(5);
        }
        return pasteboard->changeCount() > count;
    }

    void settle(int ms = 300) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(5);
        }
    }

    QString writeFile(const QString& name, const QByteArray& bytes) {
        const QString path = directory.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    // xclip owning the clipboard with one target; returns once the pasteboard saw the change.
    QProcess* startXclip(const QString& target, const QByteArray& bytes) {
        const qint64 before = pasteboard->changeCount();
        const QString path = writeFile(QStringLiteral("xclip-input"), bytes);
        auto* process = new QProcess;
        processes << process;
        process->start(QStringLiteral("xclip"),
                       {QStringLiteral("-quiet"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                        QStringLiteral("-t"), target, QStringLiteral("-i"), path});
        EXPECT_TRUE(process->waitForStarted(5000));
        EXPECT_TRUE(waitForChangeAfter(before)) << "xclip did not take the clipboard";
        return process;
    }

    // The test helper owning the clipboard with several targets (target, value; '@' + path for files).
    QProcess* startOwner(const QStringList& targetsAndValues) {
        const qint64 before = pasteboard->changeCount();
        auto* process = new QProcess;
        processes << process;
        process->start(QStringLiteral(SNIPJAR_X11_CLIPBOARD_OWNER), targetsAndValues);
        EXPECT_TRUE(process->waitForReadyRead(5000));
        EXPECT_TRUE(waitForChangeAfter(before)) << "the owner helper did not take the clipboard";
        return process;
    }

    // What another client reads: `xclip -o` for one target.
    QByteArray xclipOutput(const QString& target) {
        QProcess process;
        process.start(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"),
                                                QStringLiteral("clipboard"), QStringLiteral("-t"), target});
        process.waitForFinished(30000);
        return process.readAllStandardOutput();
    }

    std::unique_ptr<X11Pasteboard> pasteboard;
    QTemporaryDir directory;
    QList<QProcess*> processes;
};

// Text comes back decoded whatever target the owner used.
TEST_F(X11PasteboardTest, ReadsTextInEachEncoding) {
    const QString text = QStringLiteral("Grüße, 世界 ✓");
    startXclip(QStringLiteral("UTF8_STRING"), text.toUtf8());
    EXPECT_EQ(pasteboard->types(), QStringList{plainText});
    EXPECT_EQ(pasteboard->string(), text);
    EXPECT_EQ(pasteboard->data(plainText), text.toUtf8());

    startXclip(QStringLiteral("text/plain"), QByteArray("caf\xe9"));
    EXPECT_EQ(pasteboard->string(), QStringLiteral("café"));

    startXclip(QStringLiteral("text/plain;charset=utf-8"), text.toUtf8());
    EXPECT_EQ(pasteboard->string(), text);
}

// Several targets map to identifiers in the owner's order; pseudo-targets are no content and
// unknown targets keep their names.
TEST_F(X11PasteboardTest, ListsTypesInTargetOrder) {
    const QByteArray rtf = "{\\rtf1\\ansi Hello \\b bold\\b0}";
    startOwner({QStringLiteral("SAVE_TARGETS"), QStringLiteral(""), QStringLiteral("text/rtf"),
                QString::fromLatin1(rtf), QStringLiteral("text/plain;charset=utf-8"),
                QStringLiteral("Hello bold"), QStringLiteral("UTF8_STRING"), QStringLiteral("Hello bold"),
                QStringLiteral("application/x-qt-image"), QStringLiteral(""), QStringLiteral("text/html"),
                QStringLiteral("<b>Hello</b>"), QStringLiteral("application/x-custom"), QStringLiteral("x"),
                QStringLiteral("image/x-portable-pixmap"), QStringLiteral("P3")});
    EXPECT_EQ(pasteboard->types(),
              (QStringList{QString::fromLatin1(TypeIdentifier::rtf), plainText,
                           QString::fromLatin1(TypeIdentifier::html), QStringLiteral("application/x-custom"),
                           QStringLiteral("public.portable-pixmap")}));
    EXPECT_EQ(pasteboard->data(QString::fromLatin1(TypeIdentifier::rtf)), rtf);
    EXPECT_EQ(pasteboard->string(), QStringLiteral("Hello bold"));
    EXPECT_EQ(pasteboard->data(QStringLiteral("application/x-custom")), QByteArray("x"));
    EXPECT_EQ(pasteboard->data(QStringLiteral("public.portable-pixmap")), QByteArray("P3"));
    EXPECT_FALSE(pasteboard->data(QString::fromLatin1(TypeIdentifier::png)));
}

// The KDE hint conceals with the value "secret" or when its value cannot be read; the other
// markers conceal, mark transient or remote by their presence.
TEST_F(X11PasteboardTest, RecognisesMarkers) {
    const QString concealed = QString::fromLatin1(TypeIdentifier::concealedMarker);
    const QString hintPath = writeFile(QStringLiteral("hint"), QByteArray("secret\n\0", 8));
    startOwner({QStringLiteral("x-kde-passwordManagerHint"), QLatin1Char('@') + hintPath,
                QStringLiteral("UTF8_STRING"), QStringLiteral("hunter2")});
    EXPECT_EQ(pasteboard->types(), (QStringList{concealed, plainText}));

    // A hint whose value cannot be read may be saying "secret".
    startOwner({QStringLiteral("x-kde-passwordManagerHint"), QStringLiteral("!refuse"),
                QStringLiteral("UTF8_STRING"), QStringLiteral("hunter2")});
    EXPECT_EQ(pasteboard->types(), (QStringList{concealed, plainText}));

    startOwner({QStringLiteral("x-kde-passwordManagerHint"), QStringLiteral("public"),
                QStringLiteral("UTF8_STRING"), QStringLiteral("hello")});
    EXPECT_EQ(pasteboard->types(), (QStringList{QStringLiteral("x-kde-passwordManagerHint"), plainText}));

    startOwner({QStringLiteral("application/x-nspasteboard-concealed-type"), QStringLiteral(""),
                QStringLiteral("org.nspasteboard.TransientType"), QStringLiteral(""),
                QStringLiteral("com.apple.is-remote-clipboard"), QStringLiteral("")});
    EXPECT_EQ(pasteboard->types(),
              (QStringList{concealed, QString::fromLatin1(TypeIdentifier::transientMarker),
                           QString::fromLatin1(TypeIdentifier::remoteClipboardMarker)}));
}

// File URLs are the file:// entries of text/uri-list; URL objects are the Mozilla address, then
// every entry of the list.
TEST_F(X11PasteboardTest, ReadsFileURLsAndAddresses) {
    const QString list =
        writeFile(QStringLiteral("list"), "# copied\r\nfile:///tmp/a%20b.txt\r\n"
                                          "https://example.com/x.png\r\nfile:/tmp/c.txt\r\n");
    const QString moz = QStringLiteral("https://example.com/page\nExample page");
    QByteArray mozBytes(reinterpret_cast<const char*>(moz.utf16()), moz.size() * 2);
    const QString mozPath = writeFile(QStringLiteral("moz"), mozBytes);
    startOwner({QStringLiteral("text/x-moz-url"), QLatin1Char('@') + mozPath, QStringLiteral("text/uri-list"),
                QLatin1Char('@') + list});
    EXPECT_EQ(pasteboard->fileURLs(),
              (QStringList{QStringLiteral("file:///tmp/a%20b.txt"), QStringLiteral("file:///tmp/c.txt")}));
    EXPECT_EQ(
        pasteboard->urls(),
        (QStringList{QStringLiteral("https://example.com/page"), QStringLiteral("file:///tmp/a%20b.txt"),
                     QStringLiteral("https://example.com/x.png"), QStringLiteral("file:///tmp/c.txt")}));

    startOwner({QStringLiteral("text/uri-list"), QStringLiteral("https://example.com/only\r\n")});
    EXPECT_FALSE(pasteboard->fileURLs());
    EXPECT_EQ(pasteboard->urls(), QStringList{QStringLiteral("https://example.com/only")});

    startXclip(QStringLiteral("UTF8_STRING"), "no links");
    EXPECT_FALSE(pasteboard->fileURLs());
    EXPECT_FALSE(pasteboard->urls());
}

// Large images arrive through INCR; a cap ends the transfer early with tooLarge. Their bytes are
// kept while a capture runs and let go when it ends.
TEST_F(X11PasteboardTest, ReadsLargeImagesIncrementally) {
    const QByteArray image = randomBytes(24 * 1000 * 1000);
    const QString png = QString::fromLatin1(TypeIdentifier::png);
    QProcess* xclip = startXclip(QStringLiteral("image/png"), image);
    EXPECT_EQ(pasteboard->types(), QStringList{png});
    EXPECT_EQ(pasteboard->read(png, 1000 * 1000).status, PasteboardRead::Status::tooLarge);
    // Giving up on the bytes lets the owner finish its transfer: it stays and serves the next read.
    settle();
    EXPECT_EQ(xclip->state(), QProcess::Running);
    pasteboard->beginCapture();
    const PasteboardRead read = pasteboard->read(png);
    ASSERT_EQ(read.status, PasteboardRead::Status::ok);
    EXPECT_EQ(read.bytes.size(), image.size());
    EXPECT_TRUE(read.bytes == image);
    // Within the capture a smaller cap is decided without the owner.
    ::kill(pid_t(xclip->processId()), SIGSTOP);
    EXPECT_EQ(pasteboard->read(png, 1000).status, PasteboardRead::Status::tooLarge);
    ::kill(pid_t(xclip->processId()), SIGCONT);
    EXPECT_TRUE(pasteboard->endCapture());
    EXPECT_LE(pasteboard->cachedByteCount(), X11Pasteboard::smallValueBytes);
    EXPECT_EQ(pasteboard->types(), QStringList{png});
}

// The reads of one capture come from one owner: when another client takes the clipboard in the
// middle, the capture ends as not current, whatever the reads gave.
TEST_F(X11PasteboardTest, CaptureSeesAnOwnerChangeInTheMiddle) {
    startXclip(QStringLiteral("UTF8_STRING"), "first");
    pasteboard->beginCapture();
    EXPECT_EQ(pasteboard->string(), QStringLiteral("first"));
    EXPECT_TRUE(pasteboard->endCapture());

    pasteboard->beginCapture();
    EXPECT_EQ(pasteboard->types(), QStringList{plainText});
    startOwner({QStringLiteral("UTF8_STRING"), QStringLiteral("hunter2"),
                QStringLiteral("x-kde-passwordManagerHint"), QStringLiteral("secret")});
    EXPECT_FALSE(pasteboard->string());
    EXPECT_FALSE(pasteboard->endCapture());
    // The next capture reads the new owner.
    pasteboard->beginCapture();
    EXPECT_TRUE(pasteboard->types().contains(QString::fromLatin1(TypeIdentifier::concealedMarker)));
    EXPECT_TRUE(pasteboard->endCapture());
}

// Each owner change counts once: other clients' copies, and the application's own writes (counted
// by write() itself, not again when the server reports the new owner).
TEST_F(X11PasteboardTest, CountsEveryOwnerChangeOnce) {
    int emitted = 0;
    QObject::connect(pasteboard.get(), &Pasteboard::changed, [&emitted] { ++emitted; });
    const qint64 start = pasteboard->changeCount();

    startXclip(QStringLiteral("UTF8_STRING"), "first");
    settle();
    EXPECT_EQ(pasteboard->changeCount(), start + 1);
    EXPECT_EQ(emitted, 1);
    EXPECT_EQ(pasteboard->string(), QStringLiteral("first"));

    pasteboard->write({{{plainText, "own"}}});
    EXPECT_EQ(pasteboard->changeCount(), start + 2);
    settle();
    EXPECT_EQ(pasteboard->changeCount(), start + 2);
    EXPECT_EQ(emitted, 2);
    EXPECT_EQ(pasteboard->string(), QStringLiteral("own"));

    pasteboard->write({{{plainText, "own again"}}});
    settle();
    EXPECT_EQ(pasteboard->changeCount(), start + 3);

    // Another copy takes the clipboard from us; the cache of our own content is gone with it.
    startXclip(QStringLiteral("UTF8_STRING"), "second");
    settle();
    EXPECT_EQ(pasteboard->changeCount(), start + 4);
    EXPECT_EQ(pasteboard->string(), QStringLiteral("second"));
}

// What the application writes is served to other clients under every MIME target while the main
// thread carries on (here it waits in xclip's QProcess, so the owner's own thread answers).
TEST_F(X11PasteboardTest, ServesOwnWritesToOtherClients) {
    const QString text = QStringLiteral("Grüße ✓");
    const QByteArray rtf = "{\\rtf1 Gr\\'fc\\'dfe}";
    pasteboard->write({{{plainText, text.toUtf8()}, {QString::fromLatin1(TypeIdentifier::rtf), rtf}}});
    const QList<QByteArray> targets = xclipOutput(QStringLiteral("TARGETS")).split('\n');
    for (const char* expected : {"TARGETS", "UTF8_STRING", "text/plain", "text/plain;charset=utf-8", "STRING",
                                 "text/rtf", "application/rtf"}) {
        EXPECT_TRUE(targets.contains(expected)) << expected;
    }
    EXPECT_EQ(xclipOutput(QStringLiteral("text/plain")), text.toUtf8());
    EXPECT_EQ(xclipOutput(QStringLiteral("UTF8_STRING")), text.toUtf8());
    EXPECT_EQ(xclipOutput(QStringLiteral("STRING")), text.toLatin1());
    EXPECT_EQ(xclipOutput(QStringLiteral("text/rtf")), rtf);

    pasteboard->write(
        {{{QString::fromLatin1(TypeIdentifier::fileURL), "file:///tmp/a.txt\r\nfile:///tmp/b%20c.txt"}}});
    EXPECT_EQ(xclipOutput(QStringLiteral("text/uri-list")),
              QByteArray("file:///tmp/a.txt\r\nfile:///tmp/b%20c.txt\r\n"));
    EXPECT_EQ(xclipOutput(QStringLiteral("x-special/gnome-copied-files")),
              QByteArray("copy\nfile:///tmp/a.txt\nfile:///tmp/b%20c.txt"));
    EXPECT_EQ(xclipOutput(QStringLiteral("UTF8_STRING")), QByteArray("/tmp/a.txt\n/tmp/b c.txt"));
    EXPECT_EQ(pasteboard->fileURLs(),
              (QStringList{QStringLiteral("file:///tmp/a.txt"), QStringLiteral("file:///tmp/b%20c.txt")}));

    pasteboard->write({{{plainText, "hunter2"}, {QString::fromLatin1(TypeIdentifier::concealedMarker), {}}}});
    EXPECT_EQ(xclipOutput(QStringLiteral("x-kde-passwordManagerHint")), QByteArray("secret"));
    EXPECT_TRUE(
        xclipOutput(QStringLiteral("TARGETS")).split('\n').contains("org.nspasteboard.ConcealedType"));
    EXPECT_TRUE(pasteboard->types().contains(QString::fromLatin1(TypeIdentifier::concealedMarker)));
}

// A MULTIPLE request gets each listed target on its property; a target not written is refused by
// replacing its property with None.
TEST_F(X11PasteboardTest, AnswersMultipleRequests) {
    pasteboard->write({{{plainText, "many"}, {QString::fromLatin1(TypeIdentifier::html), "<i>many</i>"}}});
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
    xcb_generic_event_t* event = nullptr;
    while ((event = xcb_wait_for_event(c)) && (event->response_type & 0x7f) != XCB_SELECTION_NOTIFY) {
        std::free(event);
    }
    ASSERT_TRUE(event);
    EXPECT_EQ(reinterpret_cast<xcb_selection_notify_event_t*>(event)->property, atoms[6]);
    std::free(event);
    auto property = [&](xcb_atom_t name) {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            c, xcb_get_property(c, false, window, name, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024), nullptr);
        QByteArray bytes(static_cast<const char*>(xcb_get_property_value(reply)),
                         xcb_get_property_value_length(reply));
        std::free(reply);
        return bytes;
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

// A large own write goes to other clients through INCR.
TEST_F(X11PasteboardTest, ServesLargeWritesIncrementally) {
    const QByteArray image = randomBytes(24 * 1000 * 1000);
    pasteboard->write({{{QString::fromLatin1(TypeIdentifier::png), image}}});
    const QByteArray received = xclipOutput(QStringLiteral("image/png"));
    EXPECT_EQ(received.size(), image.size());
    EXPECT_TRUE(received == image);
}

} // namespace
