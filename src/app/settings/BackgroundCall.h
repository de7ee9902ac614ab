#pragma once

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>

namespace snipjar {

// Runs work on a thread of its own and hands its result to done on the receiver's thread, once
// the work ended; not at all when the receiver is gone by then. For calls that wait on the network,
// which the GUI thread never does.
template <typename Result>
void runInBackground(QObject* receiver, std::function<Result()> work, std::function<void(Result)> done) {
    auto result = std::make_shared<Result>();
    QThread* thread = QThread::create([work = std::move(work), result] { *result = work(); });
    // finished comes from the worker; the connection queues the call and drops it with the
    // receiver.
    QObject::connect(thread, &QThread::finished, receiver,
                     [result, done = std::move(done)] { done(std::move(*result)); });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

} // namespace snipjar
