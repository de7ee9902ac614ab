#pragma once

#include "SimulatedComputer.h"

#include <QTemporaryDir>

#include <functional>
#include <optional>
#include <random>
#include <vector>

namespace snipjar::test {

// Random copies, pins, unpins, deletes, syncs and restarts on two to five computers of one user
// (the seed decides how many), for the convergence tests: once everyone has synced, every
// computer's sync store must be the same.
class RandomHistory {
public:
    RandomHistory(unsigned seed, const SimulatedComputer::Connect& connect);

    // Runs the steps, each the one `special` makes of it or else a random act, then syncs everyone
    // until nothing is left to send; the failures found. `fault` (when given) is a random act too:
    // it makes the server misbehave.
    QStringList run(int steps, const std::function<std::optional<bool>(int step)>& special = {},
                    const std::function<void()>& fault = {});

    int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); }
    SimulatedComputer& anyComputer() { return *computers[size_t(pick(int(computers.size())))]; }

    std::vector<std::unique_ptr<SimulatedComputer>> computers;

private:
    bool agree();
    bool act(const std::function<void()>& fault);

    std::mt19937 random;
    QTemporaryDir folder;
};

} // namespace snipjar::test
