#include "platform/account/HistoryKeyVault.h"
#include "AccountTestSupport.h"
#include "TestEnvironment.h"
#include "platform/AppPaths.h"
#include "platform/account/SealedKeyFile.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <gtest/gtest.h>
#include <sodium.h>

namespace snipjar::test {
namespace {

using crypto::HistoryKey;
using crypto::HistoryKeyVault;
using Status = HistoryKeyVault::Result::Status;
using Place = HistoryKeyVault::Place;

class HistoryKeyVaultTest : public ::testing::Test {
protected:
    using Result = HistoryKeyVault::Result;
    Result load(HistoryKeyVault& vault, const QString& account, const QString& passphrase = {}) {
        return ask<Result>([&](auto done) { vault.load(account, passphrase, &receiver, done); });
    }
    Result store(HistoryKeyVault& vault, const QString& account, const HistoryKey& key,
                 const QString& passphrase = {}) {
        return ask<Result>([&](auto done) { vault.store(account, key, passphrase, &receiver, done); });
    }
    bool forget(HistoryKeyVault& vault, const QString& account) {
        return ask<bool>([&](auto done) { vault.forget(account, &receiver, done); });
    }
    // Cheap costs: the tests prove the file's rules, not Argon2id's strength.
    HistoryKeyVault vaultOver(PasswordVault& keyring) {
        HistoryKeyVault vault(keyring, AppPaths::configFolder());
        vault.setCost({1, 1 << 16});
        return vault;
    }

    TestEnvironment environment;
    QObject receiver;
    const QString alice = QStringLiteral("https://sync.example.org/alice");
    const QString bob = QStringLiteral("https://sync.example.org/bob");
};

// Each account's key is kept in the keyring apart from the other's, and none is left in a file: a
// key sealed in a file earlier goes once the keyring holds the new one. (The real keyring keeps a
// history key in AccountEncryptionTest, and its entries come and go in SyncAccountTest.)
TEST_F(HistoryKeyVaultTest, KeysAreKeptInTheKeyringPerAccount) {
    MemoryKeyring keyring;
    HistoryKeyVault vault = vaultOver(keyring);
    const HistoryKey aliceKey = HistoryKey::generate();
    const HistoryKey bobKey = HistoryKey::generate();
    NoKeyring none;
    HistoryKeyVault fileOnly = vaultOver(none);
    ASSERT_EQ(store(fileOnly, alice, bobKey, "old").status, Status::stored);
    ASSERT_TRUE(QFile::exists(vault.filePath(alice)));

    ASSERT_EQ(store(vault, alice, aliceKey).place, Place::keyring);
    ASSERT_EQ(store(vault, bob, bobKey).status, Status::stored);
    EXPECT_FALSE(QFile::exists(vault.filePath(alice)));
    EXPECT_EQ(load(vault, alice).key, aliceKey);
    EXPECT_EQ(load(vault, bob).key, bobKey);

    EXPECT_TRUE(forget(vault, alice));
    EXPECT_EQ(load(vault, alice).status, Status::absent);
    EXPECT_EQ(load(vault, bob).key, bobKey);
    keyring.entries[HistoryKeyVault::keyringKey(alice)] = "not a key";
    EXPECT_EQ(load(vault, alice).status, Status::damaged);
}

// Without a keyring the key is sealed in a private file with a passphrase: asked for when missing,
// refused when wrong; a damaged, cut, grown, emptied or another account's file is refused, and a
// file that names costs beyond the bounds is refused before any work is done.
TEST_F(HistoryKeyVaultTest, WithoutAKeyringTheKeyIsSealedWithAPassphrase) {
    NoKeyring none;
    HistoryKeyVault vault = vaultOver(none);
    const HistoryKey key = HistoryKey::generate();
    EXPECT_EQ(store(vault, alice, key).status, Status::needsPassphrase);
    EXPECT_EQ(load(vault, alice).status, Status::absent);

    const Result stored = store(vault, alice, key, "correct horse");
    ASSERT_EQ(stored.status, Status::stored) << stored.reason.toStdString();
    EXPECT_EQ(stored.place, Place::file);
    const QString path = vault.filePath(alice);
    // Compared for the owner, the group and others (Qt adds the "user" bits).
    EXPECT_EQ(QFileInfo(path).permissions() & 0x7077, QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(QFileInfo(QFileInfo(path).path()).permissions() & 0x7077,
              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(load(vault, alice).status, Status::needsPassphrase);
    EXPECT_EQ(load(vault, alice, "correct horsE").status, Status::wrongPassphrase);
    EXPECT_EQ(load(vault, alice, "correct horse").key, key);

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray sealed = file.readAll();
    const auto put = [](const QString& where, const QByteArray& contents) {
        QFile target(where);
        return target.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               target.write(contents) == contents.size();
    };
    // Eight bytes at offset replaced by value; with digest, the digest made anew so that only the
    // rule under test can refuse the file.
    const auto patched = [&](int offset, quint64 value, bool digest) {
        QByteArray contents = sealed;
        qToBigEndian(value, reinterpret_cast<uchar*>(contents.data()) + offset);
        if (digest) {
            crypto_generichash(reinterpret_cast<uchar*>(contents.data()) + 112, 16,
                               reinterpret_cast<const uchar*>(contents.constData()), 112, nullptr, 0);
        }
        return contents;
    };
    const struct {
        const char* what;
        QByteArray contents;
        Status status;
    } damages[] = {
        {"overwritten bytes", patched(88, ~quint64(0), false), Status::damaged},
        {"cut short", sealed.left(100), Status::damaged},
        {"grown", sealed + QByteArray(1 << 20, 'x'), Status::damaged},
        {"empty", QByteArray(), Status::damaged},
        {"a gigantic memory cost", patched(16, HistoryKeyVault::maxMemoryBytes * 4, true), Status::damaged},
        {"a gigantic time cost", patched(8, quint64(1) << 40, true), Status::damaged},
        {"another salt", patched(24, 42, true), Status::wrongPassphrase},
    };
    for (const auto& damage : damages) {
        ASSERT_TRUE(put(path, damage.contents));
        const Result loaded = load(vault, alice, "correct horse");
        EXPECT_EQ(loaded.status, damage.status) << damage.what;
        EXPECT_FALSE(loaded.key.has_value()) << damage.what;
    }
    // Alice's file under Bob's name does not open as his.
    ASSERT_TRUE(put(vault.filePath(bob), sealed));
    EXPECT_EQ(load(vault, bob, "correct horse").key, std::nullopt);
}

} // namespace
} // namespace snipjar::test
