#include "FuzzInput.h"

#include "paste/HotKeyCombo.h"
#include "paste/PasteKeyTable.h"
#include "platform/AppPaths.h"
#include "platform/UserSettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

using namespace snipjar;

namespace {

QTemporaryDir& folders() {
    static QTemporaryDir dir;
    return dir;
}

} // namespace

// A settings file written by hand, by another version or by someone else: every value is read
// through the accessors the application uses, each of which keeps to its documented range.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The settings are read again when the file's path changes; two configuration folders used in
    // turn make every input a fresh read, whatever the file system's time stamps.
    QDir(folders().path()).mkpath(QStringLiteral("a"));
    QDir(folders().path()).mkpath(QStringLiteral("b"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool second = false;
    second = !second;
    const QString home = folders().path() + (second ? QStringLiteral("/b") : QStringLiteral("/a"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home));
    AppPaths::ensurePrivateFolder(AppPaths::configFolder());
    {
        QFile file(UserSettings::filePath());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            abort();
        }
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }

    const int length = UserSettings::historyLength();
    SNIPJAR_FUZZ_CHECK(length >= 1 && length <= 1000);
    SNIPJAR_FUZZ_CHECK(UserSettings::retentionDays() >= 1);
    SNIPJAR_FUZZ_CHECK(UserSettings::maxStoreBytes() > 0);
    const int menuLimit = UserSettings::menuClipLimit();
    SNIPJAR_FUZZ_CHECK(menuLimit >= 1 && menuLimit <= 30);
    SNIPJAR_FUZZ_CHECK(UserSettings::maxCaptureRepBytes() > 0);
    UserSettings::syncEnabled();
    UserSettings::keepClipboard();
    UserSettings::didOnboard();
    UserSettings::didConfigureLoginItem();
    UserSettings::recordSelectedText();
    if (const auto server = UserSettings::syncServer()) {
        SNIPJAR_FUZZ_CHECK(!server->isEmpty());
    }
    if (const auto url = UserSettings::updateFeedURL()) {
        SNIPJAR_FUZZ_CHECK(url->isValid() && !url->host().isEmpty());
    }
    if (const auto key = UserSettings::updatePublicKey()) {
        SNIPJAR_FUZZ_CHECK(key->size() == 32);
    }
    if (const auto checked = UserSettings::lastUpdateCheck()) {
        SNIPJAR_FUZZ_CHECK(checked->isValid());
    }
    SNIPJAR_FUZZ_CHECK(!HotKeyCombo::fromSettings().refusal());
    PasteKeyTable::keystrokeFor(QStringLiteral("XTerm"), QStringLiteral("xterm"));
    for (const auto& [name, value] :
         UserSettings::valuesIn(QString::fromLatin1(UserSettings::pasteKeysGroup))) {
        PasteKeyTable::keystrokeFor(name);
    }
    return 0;
}
