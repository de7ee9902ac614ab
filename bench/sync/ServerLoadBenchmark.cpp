// Server load: many users (accounts made by snipjar-server add-user, each signed in from one
// device) syncing at once through one snipjar-server over a private PostgreSQL server. Each user's client, on
// a thread of its own, saves a new record and edits its previous one in one modify call, then fetches the
// changes since its last token, for a fixed time. Prints changes per second overall, the error count and the
// latency percentiles of a modify call. Usage: snipjar_bench_sync_server_load [users (100)] [seconds (30)]
#include "PostgresCluster.h"
#include "ServiceServer.h"
#include "TestEnvironment.h"
#include "sync/cloud/service/ServiceCloudDatabase.h"

#include <QCoreApplication>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using namespace snipjar;
using Clock = std::chrono::steady_clock;

const cloud::RecordZoneID zone{QStringLiteral("clips")};

struct UserFigures {
    qint64 changes = 0;
    qint64 fetched = 0;
    int errors = 0;
    QString firstError;
    std::vector<double> modifyMilliseconds;
};

cloud::CloudRecord newRecord(int number) {
    cloud::CloudRecord record(QStringLiteral("ClipItem"),
                              {QUuid::createUuid().toString(QUuid::WithoutBraces), zone});
    record.setValue(QStringLiteral("text"), QStringLiteral("clip %1 of the load benchmark").arg(number));
    record.setValue(QStringLiteral("createdAt"), QDateTime::currentDateTimeUtc());
    return record;
}

void runUser(const cloud::ServiceAccount& account, Clock::time_point end, UserFigures& figures) {
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
    std::optional<cloud::ChangeToken> token;
    std::optional<cloud::CloudRecord> previous;
    for (int number = 0; Clock::now() < end; ++number) {
        QList<cloud::CloudRecord> saves{newRecord(number)};
        if (previous) {
            previous->setValue(QStringLiteral("pinned"), qint64(number % 2));
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
        for (bool more = true; more;) {
            const auto page = database.fetchChanges(zone, token);
            if (!page) {
                fail(page.error());
                break;
            }
            figures.fetched += page.value().modifications.size();
            token = page.value().nextToken;
            more = page.value().moreComing;
        }
    }
}

double percentile(const std::vector<double>& sorted, double fraction) {
    if (sorted.empty()) {
        return 0;
    }
    return sorted[std::min(sorted.size() - 1, size_t(fraction * double(sorted.size())))];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    test::TestEnvironment environment;
    const int users = argc > 1 ? std::atoi(argv[1]) : 100;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 30;
    test::PostgresCluster cluster;
    if (!cluster.isReady()) {
        std::fprintf(stderr, "no PostgreSQL server: %s\n", qPrintable(cluster.error()));
        return 1;
    }
    test::ServiceServer server(cluster);
    if (!server.start()) {
        std::fprintf(stderr, "snipjar-server did not start\n");
        return 1;
    }
    std::vector<cloud::ServiceAccount> accounts;
    for (int i = 0; i < users; ++i) {
        accounts.push_back(server.newAccount(QStringLiteral("user")));
        if (accounts.back().token.isEmpty()) {
            return 1;
        }
    }

    std::vector<UserFigures> figures(static_cast<size_t>(users));
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    for (int i = 0; i < users; ++i) {
        threads.emplace_back(runUser, accounts[size_t(i)], end, std::ref(figures[size_t(i)]));
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    qint64 changes = 0;
    qint64 fetched = 0;
    int errors = 0;
    QString firstError;
    std::vector<double> latencies;
    for (const auto& user : figures) {
        changes += user.changes;
        fetched += user.fetched;
        errors += user.errors;
        if (firstError.isEmpty()) {
            firstError = user.firstError;
        }
        latencies.insert(latencies.end(), user.modifyMilliseconds.begin(), user.modifyMilliseconds.end());
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("%d users for %.1f s: %lld changes saved (%.0f per second), %lld fetched back\n", users,
                elapsed, qlonglong(changes), double(changes) / elapsed, qlonglong(fetched));
    std::printf("modify calls: %zu; latency p50 %.1f ms, p90 %.1f ms, p99 %.1f ms, max %.1f ms\n",
                latencies.size(), percentile(latencies, 0.5), percentile(latencies, 0.9),
                percentile(latencies, 0.99), latencies.empty() ? 0.0 : latencies.back());
    std::printf("errors: %d%s%s\n", errors, errors ? ", the first " : "", qPrintable(firstError));
    return errors == 0 ? 0 : 1;
}
