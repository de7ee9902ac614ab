#include "app/InstanceConnection.h"

#include "platform/LogCategories.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace snipjar {

namespace {

constexpr qsizetype readChunkBytes = 64 * 1024;
// A peer that writes without end gets this much of a turn of the event loop, then the others.
constexpr int readsPerTurn = 16;

} // namespace

InstanceConnection::InstanceConnection(LocalSocket socket, qsizetype lineCap, QByteArray tooLong,
                                       Answer answer, QObject* parent)
    : QObject(parent)
    , socket(std::move(socket))
    , lineCap(lineCap)
    , tooLong(std::move(tooLong))
    , answer(std::move(answer))
    , readNotifier(std::make_unique<QSocketNotifier>(this->socket.descriptor(), QSocketNotifier::Read))
    , writeNotifier(std::make_unique<QSocketNotifier>(this->socket.descriptor(), QSocketNotifier::Write)) {
    writeNotifier->setEnabled(false);
    connect(readNotifier.get(), &QSocketNotifier::activated, this, [this] {
        readSome();
        serve();
    });
    connect(writeNotifier.get(), &QSocketNotifier::activated, this, &InstanceConnection::serve);
}

InstanceConnection::~InstanceConnection() = default;

void InstanceConnection::readSome() {
    for (int read = 0; read < readsPerTurn && reading; ++read) {
        const qsizetype before = input.size();
        input.resize(before + readChunkBytes);
        const ssize_t got = ::read(socket.descriptor(), input.data() + before, size_t(readChunkBytes));
        input.resize(before + std::max<ssize_t>(got, 0));
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
            return;
        }
        // The end of the requests (or a broken connection): what was asked is still answered.
        reading = got > 0;
    }
}

void InstanceConnection::serve() {
    // The handler may run a nested event loop; this connection waits for it to return.
    if (answering) {
        return;
    }
    qsizetype consumed = 0;
    while (flush()) {
        const qsizetype end = input.indexOf('\n', consumed + scanned);
        if (end < 0) {
            scanned = input.size() - consumed;
            break;
        }
        const QByteArray line = input.sliced(consumed, end - consumed);
        consumed = end + 1;
        scanned = 0;
        readNotifier->setEnabled(false);
        answering = true;
        output = answer(line);
        answering = false;
        if (pushing) {
            break;
        }
    }
    input.remove(0, consumed);
    if (pushing) {
        // A watcher has nothing more to ask; what it sends is read only to see it close.
        input.clear();
        scanned = 0;
        flush();
        if (gone || !reading) {
            end();
            return;
        }
        readNotifier->setEnabled(true);
        writeNotifier->setEnabled(pendingBytes() > 0);
        return;
    }
    // Whoever sends more than a request can hold is answered once and cut off, before the line
    // fills the memory.
    if (reading && output.isEmpty() && input.size() > lineCap) {
        qCWarning(lcApp) << "A request line over" << lineCap << "bytes was refused";
        input.clear();
        scanned = 0;
        reading = false;
        output = tooLong;
        flush();
    }
    if (gone || (output.isEmpty() && !reading)) {
        end();
        return;
    }
    readNotifier->setEnabled(output.isEmpty() && reading);
    writeNotifier->setEnabled(!output.isEmpty());
}

// True once the whole answer is written; false while the peer has yet to take some, or is gone.
bool InstanceConnection::flush() {
    while (written < output.size() && !gone) {
        const ssize_t sent = ::send(socket.descriptor(), output.constData() + written,
                                    size_t(output.size() - written), MSG_NOSIGNAL);
        if (sent >= 0) {
            written += sent;
        } else if (errno == EAGAIN) {
            return false;
        } else if (errno != EINTR) {
            // The peer is gone: nothing more is read from it or said to it.
            gone = true;
        }
    }
    output.clear();
    written = 0;
    return !gone;
}

void InstanceConnection::keepForPushes() {
    pushing = true;
}

void InstanceConnection::push(const QByteArray& line) {
    if (ending) {
        return;
    }
    // What the peer has taken is let go before more is queued, so a reader that keeps up holds
    // little more than its unread lines.
    if (written > 0 && written >= output.size() / 2) {
        output.remove(0, written);
        written = 0;
    }
    output += line;
    if (!answering) {
        serve();
    }
}

void InstanceConnection::close() {
    output.clear();
    written = 0;
    end();
}

void InstanceConnection::end() {
    readNotifier->setEnabled(false);
    writeNotifier->setEnabled(false);
    if (!std::exchange(ending, true)) {
        emit ended();
        deleteLater();
    }
}

} // namespace snipjar
