#pragma once

#include "platform/account/PasswordVault.h"

namespace snipjar {

// The Secret Service keyring (gnome-keyring, KWallet and the like) through QtKeychain, under the
// application identifier as the service name. Nothing is ever written to a file instead when no
// keyring is running.
class KeychainPasswordVault final : public PasswordVault {
public:
    // The service name the entries are filed under: the application identifier.
    explicit KeychainPasswordVault(QString service);

    void read(const QString& key, std::function<void(Lookup)> done) override;
    void write(const QString& key, const QString& password, std::function<void(bool)> done) override;
    void remove(const QString& key, std::function<void(bool)> done) override;

private:
    QString service;
};

} // namespace snipjar
