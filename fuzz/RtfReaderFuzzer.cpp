#include "panel/RtfReader.h"

#include <QByteArrayView>
#include <QGuiApplication>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using snipjar::RtfReader;

// Text layout and fonts expect a GUI application; the offscreen platform needs no display.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_rtf_reader";
    static char* argv[] = {name, nullptr};
    static QGuiApplication application(argc, argv);
    return 0;
}

// Besides crashes and sanitizer reports, any input that breaks the reader's promises aborts: a
// document exactly for RTF, no more characters than bytes, and linear work.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView input(data, static_cast<qsizetype>(size));
    const RtfReader::Result result =
        RtfReader::read(input, {.maxGroupDepth = 1000, .maxCharacters = 100'000});
    if ((result.document != nullptr) != RtfReader::isRtf(input)) {
        std::abort();
    }
    if (result.steps > 2 * input.size() + 2) {
        std::abort();
    }
    if (result.document && result.document->characterCount() - 1 > input.size()) {
        std::abort();
    }
    return 0;
}
