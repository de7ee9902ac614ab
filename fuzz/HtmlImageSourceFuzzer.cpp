#include "FuzzInput.h"

#include "capture/SourceAddress.h"
#include "platform/TypeIdentifier.h"
#include "platform/fakes/FakePasteboard.h"

#include <cstdio>
#include <cstdlib>

using namespace snipjar;

// The HTML of a copied image, as the capture reads it: decoded by its byte-order mark or declared
// charset, then searched for the first img tag's src. The address is never empty, never inline
// "data:" content and never longer than the markup it came from.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input = fuzz::bytesOf(data, size);
    static FakePasteboard pasteboard;
    pasteboard.setEntries({{QString::fromLatin1(TypeIdentifier::html), QByteArray(input)}});
    for (const std::optional<QString>& source :
         {sourceURLString(pasteboard), imageSourceFromHTML(QString::fromUtf8(input))}) {
        if (source) {
            SNIPJAR_FUZZ_CHECK(!source->isEmpty());
            SNIPJAR_FUZZ_CHECK(!source->startsWith(QLatin1String("data:")));
            SNIPJAR_FUZZ_CHECK(source->size() <= input.size());
        }
    }
    return 0;
}
