#pragma once

#include "EventLoopWait.h"
#include "platform/account/PasswordVault.h"

#include <QObject>

#include <cstdlib>
#include <optional>
#include <utility>

namespace snipjar::test {

// True where the test runs with a keyring of its own (tests/account/with-keyring.sh).
inline bool haveTestKeyring() {
    return qEnvironmentVariableIsSet("SNIPJAR_TEST_KEYRING");
}

// Waits for the one answer of an asynchronous call that reports through a callback.
template <typename Value> class Answer {
public:
    auto callback() {
        return [this](Value value) { answer = std::move(value); };
    }
    // The answer, once it came within the (generous) time.
    std::optional<Value> wait() {
        waitUntil([this] { return answer.has_value(); }, std::chrono::seconds(30));
        return answer;
    }

    std::optional<Value> answer;
};

// A vault that never reaches a keyring, as on a machine without one.
class NoKeyring final : public PasswordVault {
public:
    void read(const QString&, std::function<void(PasswordVault::Lookup)> done) override {
        done({PasswordVault::Lookup::Outcome::unavailable, {}});
    }
    void write(const QString&, const QString&, std::function<void(bool)> done) override { done(false); }
    void remove(const QString&, std::function<void(bool)> done) override { done(false); }
};

} // namespace snipjar::test
