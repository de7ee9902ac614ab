#include "sync/cloud/postgres/PostgresPushSubscription.h"

#include "platform/LogCategories.h"

#include <pqxx/connection>
#include <pqxx/nontransaction>
#include <pqxx/notification>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace snipjar::cloud {

// What the listening thread shares with the subscription; outlives it when the thread must be
// left behind.
struct PostgresPushSubscription::State {
    std::string connectionString;
    std::mutex noticeMutex; // held while onNotice runs, so that none runs after destruction
    std::function<void()> onNotice;
    std::atomic<bool> stopping = false;
    int stopPipe[2] = {-1, -1};

    ~State() {
        for (int fd : stopPipe) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    void notify() {
        std::lock_guard lock(noticeMutex);
        if (!stopping && onNotice) {
            onNotice();
        }
    }

    void stop() {
        {
            std::lock_guard lock(noticeMutex);
            stopping = true;
            onNotice = nullptr;
        }
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write(stopPipe[1], &byte, 1);
    }

    // Waits for the stop pipe or the socket (-1: none) for at most timeoutMs (-1: no limit); false
    // when asked to stop.
    bool wait(int socket, int timeoutMs) {
        pollfd fds[2] = {{stopPipe[0], POLLIN, 0}, {socket, POLLIN, 0}};
        while (!stopping) {
            const int ready = ::poll(fds, socket >= 0 ? 2 : 1, timeoutMs);
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            return !stopping && (fds[0].revents & POLLIN) == 0;
        }
        return false;
    }

    void listenOnce(bool& wasDown);
    void listen();
};

namespace {

class NoticeReceiver : public pqxx::notification_receiver {
public:
    NoticeReceiver(pqxx::connection_base& connection, const std::string& channel,
                   PostgresPushSubscription::State& state)
        : pqxx::notification_receiver(connection, channel)
        , state(state) {}

    void operator()(const std::string&, int) override { state.notify(); }

private:
    PostgresPushSubscription::State& state;
};

} // namespace

void PostgresPushSubscription::State::listenOnce(bool& wasDown) {
    pqxx::connection connection(connectionString);
    std::string channel;
    {
        pqxx::nontransaction query(connection);
        channel = query.exec1("SELECT snipjar.notice_channel()")[0].as<std::string>();
    }
    NoticeReceiver receiver(connection, channel, *this);
    connection.get_notifs(); // makes sure the LISTEN went through
    if (wasDown) {
        qCInfo(lcSync) << "The sync server's notice channel is back";
        wasDown = false;
    }
    qCDebug(lcSync) << "Listening for the sync server's notices";
    notify();
    while (wait(connection.sock(), -1)) {
        connection.get_notifs();
        if (!connection.is_open()) {
            throw pqxx::broken_connection("the notice connection closed");
        }
    }
}

void PostgresPushSubscription::State::listen() {
    int retry = firstRetryMilliseconds;
    bool wasDown = false;
    while (!stopping) {
        try {
            listenOnce(wasDown);
        } catch (const std::exception& failure) {
            if (!wasDown) {
                qCWarning(lcSync) << "The sync server's notice channel is down; retrying:" << failure.what();
                wasDown = true;
                retry = firstRetryMilliseconds;
            } else {
                retry = std::min(retry * 2, longestRetryMilliseconds);
            }
        }
        if (!wait(-1, retry)) {
            return;
        }
    }
}

PostgresPushSubscription::PostgresPushSubscription(std::string connectionString,
                                                   std::function<void()> onNotice)
    : state(std::make_shared<State>()) {
    state->connectionString = std::move(connectionString);
    state->onNotice = std::move(onNotice);
    if (::pipe2(state->stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qCWarning(lcSync) << "No pipe for the sync server's notice channel; notices are off";
        return;
    }
    thread = std::thread([shared = state] { shared->listen(); });
}

PostgresPushSubscription::~PostgresPushSubscription() {
    if (!thread.joinable()) {
        return;
    }
    state->stop();
    // The thread sees the pipe at once unless it is inside a connection attempt, which ends by its
    // own timeout; it holds its own reference to the state and calls nothing after stop(), so it is
    // left to end by itself rather than waited for on the caller's (the main) thread.
    thread.detach();
}

} // namespace snipjar::cloud
