#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <map>
#include <optional>

namespace snipjar::test {

// Points the XDG data, cache, config and runtime folders at a fresh temporary folder for the life
// of the object, and restores the previous environment afterwards.
class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    QString root() const { return folder.path(); }
    QString path(const QString& relative) const { return folder.filePath(relative); }

private:
    void set(const char* name, const QByteArray& value);

    QTemporaryDir folder;
    std::map<QByteArray, std::optional<QByteArray>> previous;
};

} // namespace snipjar::test
