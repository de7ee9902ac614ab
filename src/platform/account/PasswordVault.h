#pragma once

#include <QString>

#include <functional>

namespace snipjar {

// Where the password of the sync account is kept: the desktop's keyring (KeychainPasswordVault).
// Every operation finishes later, on the thread that asked (the main thread), by calling its
// callback exactly once. A vault may be destroyed while operations are outstanding; their callbacks
// still run.
class PasswordVault {
public:
    struct Lookup {
        enum class Outcome {
            found,       // password holds the stored password
            absent,      // the keyring answered that it holds none under the key
            unavailable, // no keyring could be asked, or it refused
        };
        Outcome outcome = Outcome::unavailable;
        QString password;
    };

    virtual ~PasswordVault() = default;

    virtual void read(const QString& key, std::function<void(Lookup)> done) = 0;
    // done(true) once the password is stored under the key, replacing any other.
    virtual void write(const QString& key, const QString& password, std::function<void(bool)> done) = 0;
    // done(true) when no password is stored under the key any more (also when there was none).
    virtual void remove(const QString& key, std::function<void(bool)> done) = 0;
};

} // namespace snipjar
