// Server load: many computers of many users syncing at once through one snipjar-server over a
// private PostgreSQL server. Each account (made by snipjar-server add-user) is signed in from several
// devices; every device holds the push WebSocket open, as the app does, and on a thread of its own sends
// a change every few seconds (a new record and an edit of its previous one in one modify call) and
// fetches whenever its socket brings a notice. Prints changes per second overall, the error count, the
// latency percentiles of a modify call and of a change becoming visible on the account's other devices
// (from the record's creation to the fetch that brought it), and the service's memory.
// Usage: snipjar_bench_sync_server_load [accounts (250)] [devices per account (4)] [seconds (60)]
//        [milliseconds between a device's changes (3000)]
#include "PostgresCluster.h"
#include "ServiceServer.h"
#include "TestEnvironment.h"
#include "sync/cloud/service/ServiceCloudDatabase.h"

#include <QCoreApplication>
#include <QFile>
#include <QUuid>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

using namespace snipjar;
using Clock = std::chrono::steady_clock;

const cloud::RecordZoneID zone{QStringLiteral("clips")};

struct DeviceFigures {
    qint64 changes = 0;
    qint64 fetched = 0;
    int errors = 0;
    QString firstError;
    std::vector<double> modifyMilliseconds;
    std::vector<double> visibleMilliseconds;
};

// Wakes a device's thread when its socket brings a notice.
struct NoticeFlag {
    std::mutex mutex;
    std::condition_variable changed;
    bool raised = false;

    void raise() {
        {
            std::lock_guard lock(mutex);
            raised = true;
        }
        changed.notify_one();
    }
    // Waits until a notice or the deadline; true for a notice (taken).
    bool waitUntil(Clock::time_point deadline) {
        std::unique_lock lock(mutex);
        changed.wait_until(lock, deadline, [this] { return raised; });
        return std::exchange(raised, false);
    }
};

cloud::CloudRecord newRecord(const QString& device, int number) {
    cloud::CloudRecord record(QStringLiteral("ClipItem"),
                              {QUuid::createUuid().toString(QUuid::WithoutBraces), zone});
    record.setValue(QStringLiteral("text"), QStringLiteral("clip %1 of the load benchmark").arg(number));
    record.setValue(QStringLiteral("device"), device);
    record.setValue(QStringLiteral("createdAt"), QDateTime::currentDateTimeUtc());
    return record;
}

void runDevice(const cloud::ServiceAccount& account, const QString& name, std::chrono::milliseconds interval,
               Clock::time_point end, DeviceFigures& figures) {
    auto fail = [&figures](const cloud::CloudError& error) {
        if (figures.errors++ == 0) {
            figures.firstError = cloud::cloudErrorCodeName(error.code);
        }
    };
    cloud::ServiceCloudDatabase database(account);
    if (const auto made = database.saveZone(zone); !made) {
        fail(made.error());
        return;
    }
    NoticeFlag notices;
    const auto subscription = database.subscribe([&notices] { notices.raise(); });
    std::optional<cloud::ChangeToken> token;
    std::optional<cloud::CloudRecord> previous;
    // Devices start spread over one interval, as computers do not copy in step.
    std::mt19937 random(std::hash<std::string>{}(name.toStdString()));
    auto nextChange = Clock::now() + std::chrono::milliseconds(random() % interval.count());
    bool fetchedOnce = false;
    for (int number = 0; Clock::now() < end;) {
        const bool notice = notices.waitUntil(std::min(nextChange, end));
        if (notice || !fetchedOnce) {
            for (bool more = true; more;) {
                const auto page = database.fetchChanges(zone, token);
                if (!page) {
                    fail(page.error());
                    break;
                }
                const auto now = QDateTime::currentDateTimeUtc();
                for (const auto& record : page.value().modifications) {
                    if (fetchedOnce && record.string(QStringLiteral("device")) != name) {
                        if (const auto created = record.date(QStringLiteral("createdAt"))) {
                            figures.visibleMilliseconds.push_back(double(created->msecsTo(now)));
                        }
                    }
                }
                figures.fetched += page.value().modifications.size();
                token = page.value().nextToken;
                more = page.value().moreComing;
            }
            fetchedOnce = true;
        }
        if (Clock::now() < nextChange || Clock::now() >= end) {
            continue;
        }
        nextChange += interval;
        QList<cloud::CloudRecord> saves{newRecord(name, number++)};
        if (previous) {
            previous->setValue(QStringLiteral("pinned"), qint64(number % 2));
            previous->setValue(QStringLiteral("createdAt"), QDateTime::currentDateTimeUtc());
            saves.append(*previous);
        }
        const auto started = Clock::now();
        const auto outcome = database.modifyRecords(saves, {});
        figures.modifyMilliseconds.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - started).count());
        if (!outcome) {
            fail(outcome.error());
            previous.reset();
            continue;
        }
        for (const auto& refused : outcome.value().failedSaves) {
            fail(refused.second);
        }
        figures.changes += outcome.value().saved.size();
        previous =
            outcome.value().saved.isEmpty() ? std::nullopt : std::optional(outcome.value().saved.first());
    }
}

double percentile(const std::vector<double>& sorted, double fraction) {
    if (sorted.empty()) {
        return 0;
    }
    return sorted[std::min(sorted.size() - 1, size_t(fraction * double(sorted.size())))];
}

// A figure of /proc/PID/status in megabytes (VmRSS, VmHWM).
double memoryOf(qint64 pid, const char* field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field)) {
            return line.mid(qstrlen(field) + 1).trimmed().split(' ').first().toDouble() / 1024.0;
        }
    }
    return 0;
}

void printLatencies(const char* label, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::printf("%s: %zu; p50 %.1f ms, p90 %.1f ms, p99 %.1f ms, max %.1f ms\n", label, values.size(),
                percentile(values, 0.5), percentile(values, 0.9), percentile(values, 0.99),
                values.empty() ? 0.0 : values.back());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    test::TestEnvironment environment;
    // This process holds every device's connections.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    const int accountCount = argc > 1 ? std::atoi(argv[1]) : 250;
    const int devicesPerAccount = argc > 2 ? std::atoi(argv[2]) : 4;
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 60;
    const std::chrono::milliseconds interval(argc > 4 ? std::atoi(argv[4]) : 3000);
    test::PostgresCluster cluster;
    if (!cluster.isReady()) {
        std::fprintf(stderr, "no PostgreSQL server: %s\n", qPrintable(cluster.error()));
        return 1;
    }
    test::ServiceServer server(cluster);
    // Each device holds two connections: its calls' and its push socket.
    if (!server.start(4 * accountCount * devicesPerAccount + 100)) {
        std::fprintf(stderr, "snipjar-server did not start\n");
        return 1;
    }
    std::vector<std::pair<cloud::ServiceAccount, QString>> devices;
    for (int a = 0; a < accountCount; ++a) {
        const auto first = server.newAccount(QStringLiteral("user"));
        devices.emplace_back(first, QStringLiteral("device-%1-0").arg(a));
        for (int d = 1; d < devicesPerAccount; ++d) {
            devices.emplace_back(server.signIn(server.userOf(first)),
                                 QStringLiteral("device-%1-%2").arg(a).arg(d));
        }
    }
    for (const auto& device : devices) {
        if (device.first.token.isEmpty()) {
            std::fprintf(stderr, "a device could not sign in\n");
            return 1;
        }
    }
    const double idleMegabytes = memoryOf(server.processId(), "VmRSS:");

    std::vector<DeviceFigures> figures(devices.size());
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    for (size_t i = 0; i < devices.size(); ++i) {
        threads.emplace_back(runDevice, devices[i].first, devices[i].second, interval, end,
                             std::ref(figures[i]));
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    qint64 changes = 0;
    qint64 fetched = 0;
    int errors = 0;
    QString firstError;
    std::vector<double> modify;
    std::vector<double> visible;
    for (const auto& device : figures) {
        changes += device.changes;
        fetched += device.fetched;
        errors += device.errors;
        if (firstError.isEmpty()) {
            firstError = device.firstError;
        }
        modify.insert(modify.end(), device.modifyMilliseconds.begin(), device.modifyMilliseconds.end());
        visible.insert(visible.end(), device.visibleMilliseconds.begin(), device.visibleMilliseconds.end());
    }
    std::printf("%d accounts of %d devices (%zu push sockets) for %.1f s, a change every %lld ms per device: "
                "%lld changes saved (%.0f per second), %lld fetched back\n",
                accountCount, devicesPerAccount, devices.size(), elapsed, qlonglong(interval.count()),
                qlonglong(changes), double(changes) / elapsed, qlonglong(fetched));
    printLatencies("modify calls", modify);
    printLatencies("changes visible on the account's other devices", visible);
    std::printf(
        "service memory: %.1f MB idle with the accounts signed in, %.1f MB at the end, peak %.1f MB\n",
        idleMegabytes, memoryOf(server.processId(), "VmRSS:"), memoryOf(server.processId(), "VmHWM:"));
    std::printf("errors: %d%s%s\n", errors, errors ? ", the first " : "", qPrintable(firstError));
    return errors == 0 ? 0 : 1;
}
