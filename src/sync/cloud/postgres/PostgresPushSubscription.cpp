#include "sync/cloud/postgres/PostgresPushSubscription.h"

#include "platform/LogCategories.h"

#include <pqxx/connection>
#include <pqxx/nontransaction>
#include <pqxx/notification>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>

namespace snipjar::cloud {

namespace {

class NoticeReceiver : public pqxx::notification_receiver {
public:
    NoticeReceiver(pqxx::connection_base& connection, const std::string& channel,
                   std::function<void()>& onNotice)
        : pqxx::notification_receiver(connection, channel)
        , onNotice(onNotice) {}

    void operator()(const std::string&, int) override { onNotice(); }

private:
    std::function<void()>& onNotice;
};

} // namespace

PostgresPushSubscription::PostgresPushSubscription(std::string connectionString,
                                                   std::function<void()> onNotice)
    : connectionString(std::move(connectionString))
    , onNotice(std::move(onNotice)) {
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qCWarning(lcSync) << "No pipe for the sync server's notice channel; notices are off";
        return;
    }
    thread = std::thread([this] { listen(); });
}

PostgresPushSubscription::~PostgresPushSubscription() {
    stopping = true;
    if (stopPipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write(stopPipe[1], &byte, 1);
    }
    if (thread.joinable()) {
        thread.join();
    }
    for (int fd : stopPipe) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool PostgresPushSubscription::wait(int socket, int timeoutMs) {
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

bool PostgresPushSubscription::listenOnce(bool& wasDown) {
    pqxx::connection connection(connectionString);
    std::string channel;
    {
        pqxx::nontransaction query(connection);
        channel = query.exec1("SELECT snipjar.notice_channel()")[0].as<std::string>();
    }
    NoticeReceiver receiver(connection, channel, onNotice);
    connection.get_notifs(); // makes sure the LISTEN went through
    if (wasDown) {
        qCInfo(lcSync) << "The sync server's notice channel is back";
        wasDown = false;
    }
    onNotice();
    while (wait(connection.sock(), -1)) {
        connection.get_notifs();
        if (!connection.is_open()) {
            throw pqxx::broken_connection("the notice connection closed");
        }
    }
    return false;
}

void PostgresPushSubscription::listen() {
    int retry = firstRetryMilliseconds;
    bool wasDown = false;
    while (!stopping) {
        try {
            if (!listenOnce(wasDown)) {
                return;
            }
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

} // namespace snipjar::cloud
