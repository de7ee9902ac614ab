// A sync server that takes connections and never says a word: switching sync off (and quitting,
// and changing the server, which stop the engine the same way) must not wait for it.
#include "EventLoopWait.h"
#include "SimulatedComputer.h"
#include "TestEnvironment.h"
#include "sync/cloud/postgres/PostgresCloudDatabase.h"
#include "sync/engine/SyncEngineWorker.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

namespace snipjar::test {
namespace {

// Accepts every connection and keeps it open without an answer until released, or by itself after
// a while, so that a test which waits for it ends anyway (and fails).
class SilentServer {
public:
    SilentServer() {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener, 8) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        boundPort = ntohs(address.sin_port);
        thread = std::thread([this] { serve(); });
    }
    ~SilentServer() {
        released = true;
        if (thread.joinable()) {
            thread.join();
        }
        ::close(listener);
    }

    int port() const { return boundPort; }
    int accepted() const { return connections; }
    bool wasReleased() const { return released; }
    void release() { released = true; }

private:
    void serve() {
        std::vector<int> clients;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!released && std::chrono::steady_clock::now() < giveUp) {
            pollfd waiting{listener, POLLIN, 0};
            if (::poll(&waiting, 1, 20) == 1) {
                clients.push_back(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
                ++connections;
            }
        }
        released = true;
        for (const int client : clients) {
            ::close(client);
        }
    }

    int listener = -1;
    int boundPort = 0;
    std::atomic<int> connections = 0;
    std::atomic<bool> released = false;
    std::thread thread;
};

TEST(SilentServer, StoppingSyncDoesNotWaitForAServerThatNeverAnswers) {
    TestEnvironment environment;
    QTemporaryDir folder;
    SilentServer server;
    ASSERT_NE(server.port(), 0);
    // A connection attempt that would outlast the server's own patience.
    const QString uri =
        QStringLiteral("postgresql://alice@127.0.0.1:%1/snipjar?connect_timeout=60").arg(server.port());
    SimulatedComputer here(QStringLiteral("here"), folder.filePath(QStringLiteral("here.json")), [uri] {
        return std::make_shared<cloud::PostgresCloudDatabase>(
            cloud::PostgresAccount{uri, QStringLiteral("pw")});
    });
    here.copy(QStringLiteral("waiting to be sent"));
    here.engine().start();
    // The engine's call and the notice channel are both connecting.
    ASSERT_TRUE(waitUntil([&server] { return server.accepted() >= 2; }));

    here.quit();
    EXPECT_FALSE(server.wasReleased()) << "stopping sync waited for the server";

    // The threads left behind end by themselves once the server lets go.
    server.release();
    EXPECT_TRUE(
        waitUntil([] { return sync::SyncEngineWorker::abandonedThreads() == 0; }, std::chrono::seconds(30)));
}

} // namespace
} // namespace snipjar::test
