#pragma once

#include "EventLoopWait.h"
#include "platform/account/PasswordVault.h"

#include <QObject>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>
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

// Starts a call with a callback and gives its one answer; a failure when none came in time.
template <typename Value, typename Call> Value ask(Call call) {
    Answer<Value> answer;
    call(answer.callback());
    if (!answer.wait()) {
        ADD_FAILURE() << "no answer in time";
        return Value{};
    }
    return *answer.answer;
}

// A vault that never reaches a keyring, as on a machine without one.
class NoKeyring final : public PasswordVault {
public:
    void read(const QString&, std::function<void(PasswordVault::Lookup)> done) override {
        done({PasswordVault::Lookup::Outcome::unavailable, {}});
    }
    void write(const QString&, const QString&, std::function<void(bool)> done) override { done(false); }
    void remove(const QString&, std::function<void(bool)> done) override { done(false); }
};

// A keyring held in memory that answers later on the main thread, as the real one does.
class MemoryKeyring final : public PasswordVault {
public:
    void read(const QString& key, std::function<void(Lookup)> done) override {
        const auto entry = entries.find(key);
        later(done, entry == entries.end() ? Lookup{Lookup::Outcome::absent, {}}
                                           : Lookup{Lookup::Outcome::found, entry->second});
    }
    void write(const QString& key, const QString& password, std::function<void(bool)> done) override {
        entries[key] = password;
        later(done, true);
    }
    void remove(const QString& key, std::function<void(bool)> done) override {
        entries.erase(key);
        later(done, true);
    }
    std::map<QString, QString> entries;

private:
    template <typename Value> static void later(std::function<void(Value)> done, Value value) {
        QTimer::singleShot(0, [done, value] { done(value); });
    }
};

} // namespace snipjar::test
