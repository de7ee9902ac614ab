// A sync server that takes connections and never says a word: switching sync off (and quitting,
// and changing the server, which stop the engine the same way) must not wait for it.
#include "EventLoopWait.h"
#include "SimulatedComputer.h"
#include "TestEnvironment.h"
#include "sync/cloud/service/ServiceCloudDatabase.h"
#include "sync/engine/SyncEngineWorker.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace snipjar::test {
namespace {

TEST(SilentServer, StoppingSyncDoesNotWaitForAServerThatNeverAnswers) {
    TestEnvironment environment;
    QTemporaryDir folder;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof(address);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    // Connection attempts give up after a few seconds: the engine must not wait for that.
    const cloud::ServiceAccount account{
        QUrl(QStringLiteral("http://127.0.0.1:%1").arg(ntohs(address.sin_port))), "1.00", "1", "e", {}};
    SimulatedComputer here("here", folder.filePath("here.json"),
                           [account] { return std::make_shared<cloud::ServiceCloudDatabase>(account); });
    here.copy("waiting to be sent");
    here.engine().start();
    // The engine's call and the push socket both connect, and are left without an answer.
    std::vector<int> clients;
    ASSERT_TRUE(waitUntil([&] {
        for (pollfd waiting{listener, POLLIN, 0}; ::poll(&waiting, 1, 0) == 1;) {
            clients.push_back(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
        }
        return clients.size() >= 2;
    }));
    // Quitting returns while the server still has not said a word (it never will): the calls are
    // cancelled, not waited for.
    here.quit();
    for (const int client : clients) {
        ::close(client);
    }
    // The threads left behind end by themselves once the server lets go.
    ::close(listener);
    EXPECT_TRUE(waitUntil([] { return sync::SyncEngineWorker::abandonedThreads() == 0; }));
}

} // namespace
} // namespace snipjar::test
