#pragma once

#include "app/LocalSocket.h"

#include <QByteArray>
#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace snipjar {

// One connection to the instance socket, served on the GUI thread without ever waiting for the
// peer. Request lines are read as they come and answered one at a time; an answer the peer does
// not take at once is written as it reads, and no further line is read or answered before it has
// all of it, so a peer that asks without reading holds one answer at most. The connection ends
// when the peer closes, once what it asked is answered, and deletes itself. A connection kept for
// pushes (watch) holds what its peer has not read yet; whoever pushes bounds that (pendingBytes).
class InstanceConnection : public QObject {
    Q_OBJECT
public:
    // The answer to a request line (without its line feed); empty for none.
    using Answer = std::function<QByteArray(const QByteArray& line)>;

    // Serves a connected socket. A line longer than `lineCap` is answered with `tooLong`, and the
    // connection is closed before it fills the memory.
    InstanceConnection(LocalSocket socket, qsizetype lineCap, QByteArray tooLong, Answer answer,
                       QObject* parent);
    ~InstanceConnection() override;

    // Called while answering a request: after this answer the connection reads no more requests
    // and carries the lines given to push() instead, until the peer closes or close() is called.
    void keepForPushes();
    // Replaces the answer given at construction (one that needs to name this connection).
    void setAnswer(Answer newAnswer) { answer = std::move(newAnswer); }
    // Queues a line for the peer and writes what it takes now; the rest goes as it reads.
    void push(const QByteArray& line);
    // Bytes queued and not yet taken by the peer.
    qsizetype pendingBytes() const { return output.size() - written; }
    // Ends the connection now, dropping what is queued.
    void close();

signals:
    // The connection ended (the peer closed, or close()); it is deleted soon after.
    void ended();

private:
    void readSome();
    void serve();
    bool flush();
    void end();

    LocalSocket socket;
    const qsizetype lineCap;
    const QByteArray tooLong;
    Answer answer;
    // Declared after the socket, so that they go before it is closed.
    std::unique_ptr<QSocketNotifier> readNotifier;
    std::unique_ptr<QSocketNotifier> writeNotifier;
    // What was read and not yet answered; `scanned` bytes of it hold no line feed.
    QByteArray input;
    qsizetype scanned = 0;
    // The answer being written, and how much of it the peer has taken.
    QByteArray output;
    qsizetype written = 0;
    bool reading = true;
    bool answering = false;
    bool gone = false;
    bool pushing = false;
    bool ending = false;
};

} // namespace snipjar
