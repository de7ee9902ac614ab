#include "RandomHistory.h"

#include "EventLoopWait.h"

#include <chrono>

namespace snipjar::test {

RandomHistory::RandomHistory(unsigned seed, const SimulatedComputer::Connect& connect)
    : random(seed) {
    for (int i = 0; i < 2 + int(seed % 4); ++i) {
        computers.push_back(std::make_unique<SimulatedComputer>(
            QStringLiteral("computer-%1").arg(i), folder.filePath(QStringLiteral("state-%1.json").arg(i)),
            connect));
    }
}

QStringList RandomHistory::run(int steps, const std::function<std::optional<bool>(int)>& special,
                               const std::function<void()>& fault) {
    QStringList failures;
    for (auto& computer : computers) {
        if (!computer->start()) {
            failures.append(QStringLiteral("a start did not end"));
        }
    }
    for (int step = 0; step < steps; ++step) {
        const std::optional<bool> ended = special ? special(step) : std::nullopt;
        if (!(ended ? *ended : act(fault))) {
            failures.append(QStringLiteral("step %1 did not end").arg(step));
        }
    }
    // Rounds of syncing everywhere until the computers agree. A computer whose send failed while
    // the server was away waits out its back-off before it sends again, which on a loaded machine
    // can outlast a few rounds: the rounds go on for up to a minute before the histories count as
    // different.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    for (int round = 0; round < 6 || std::chrono::steady_clock::now() < giveUp; ++round) {
        for (auto& computer : computers) {
            if (!computer->syncNow()) {
                failures.append(QStringLiteral("a final sync did not end"));
            }
        }
        if (agree()) {
            return failures;
        }
        if (round >= 5) {
            waitUntil([] { return false; }, 500);
        }
    }
    const QStringList first = computers.front()->snapshot();
    for (size_t i = 1; i < computers.size(); ++i) {
        const QStringList other = computers[i]->snapshot();
        if (other != first) {
            failures.append(QStringLiteral("computer %1 differs from computer 0:\n  %2\nvs\n  %3")
                                .arg(i)
                                .arg(other.join(QStringLiteral("\n  ")), first.join(QStringLiteral("\n  "))));
        }
    }
    if (failures.isEmpty()) {
        failures.append(QStringLiteral("changes were still waiting to be sent"));
    }
    return failures;
}

bool RandomHistory::agree() {
    const QStringList first = computers.front()->snapshot();
    for (auto& computer : computers) {
        if (computer->hasPendingChanges() || computer->snapshot() != first) {
            return false;
        }
    }
    return true;
}

bool RandomHistory::act(const std::function<void()>& fault) {
    SimulatedComputer& computer = anyComputer();
    const int roll = pick(100);
    if (roll < 35) {
        // A small vocabulary, so that the same text is copied again here and elsewhere; now and
        // then a long one, which has a payload.
        const int word = pick(8);
        computer.copy(word == 0 ? QString(6000, QLatin1Char('a' + pick(3)))
                                : QStringLiteral("text %1").arg(word));
        return true;
    }
    const QList<QUuid> ids = computer.clipIDs();
    if (roll < 60) {
        if (!ids.isEmpty()) {
            const QUuid id = ids[pick(int(ids.size()))];
            if (roll < 50) {
                computer.store().togglePin(id);
            } else {
                computer.store().remove(id);
            }
        }
        return true;
    }
    if (roll < 75) {
        return computer.syncNow();
    }
    if (roll < 85) {
        computer.engine().syncNow(); // without waiting
        return true;
    }
    if (roll < 95 && fault) {
        fault();
        return true;
    }
    return computer.restart();
}

} // namespace snipjar::test
