#include "FuzzInput.h"

#include "platform/PasteboardMimeMapping.h"

#include <cstdio>
#include <cstdlib>

using namespace snipjar;
using Mapping = PasteboardMimeMapping;

// File lists and addresses as other programs put them on the clipboard: text/uri-list,
// x-special/gnome-copied-files and text/x-moz-url, and text targets with a charset in their name.
// The first part of the input is the target name, the rest its bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QList<QByteArray> parts = fuzz::partsOf(fuzz::bytesOf(data, size), 2);
    const QByteArray& bytes = parts.last();

    const QStringList entries = Mapping::parseURIList(bytes);
    for (const QString& entry : entries) {
        // Comments and blank lines are skipped, and an entry is one line.
        SNIPJAR_FUZZ_CHECK(!entry.isEmpty() && !entry.startsWith(QLatin1Char('#')));
        SNIPJAR_FUZZ_CHECK(!entry.contains(QLatin1Char('\n')));
    }
    SNIPJAR_FUZZ_CHECK(entries.size() <= bytes.count('\n') + 1);
    // A list that is written out again reads back as itself.
    if (!entries.isEmpty()) {
        SNIPJAR_FUZZ_CHECK(Mapping::parseURIList(entries.join(QLatin1String("\r\n")).toUtf8()) == entries);
    }

    const QStringList copied = Mapping::parseGnomeCopiedFiles(bytes);
    SNIPJAR_FUZZ_CHECK(copied.size() <= entries.size());
    if (const std::optional<QString> address = Mapping::parseMozURL(bytes)) {
        SNIPJAR_FUZZ_CHECK(!address->isEmpty());
    }
    if (parts.size() == 2) {
        const QString text = Mapping::decodeText(parts.first(), bytes);
        SNIPJAR_FUZZ_CHECK(!text.endsWith(QChar(0)));
        Mapping::identifierForTarget(parts.first());
        Mapping::isSecretHint(bytes);
    }
    return 0;
}
