#pragma once

#include <QtGlobal>

namespace snipjar {

// The size rules of a capture. The byte cap is the user setting maxCaptureRepBytes, read anew at
// every capture; the direct limit is fixed for the product and adjustable only so that tests can
// exercise the transcode path with small images.
struct CaptureLimits {
    static constexpr qint64 defaultDirectImageLimit = 50'000'000;
    // The largest clip the store keeps (ClipStore::largestClipBytes).
    static constexpr qint64 defaultTextLimit = 50'000'000;

    // Images longer than this are transcoded before they are stored.
    qint64 directImageLimit = defaultDirectImageLimit;
    // Text and rich text are read no further than this (nor than maxCaptureRepBytes): a longer
    // text could not be stored, so a copy of it is not recorded and its bytes are never held.
    qint64 textLimit = defaultTextLimit;
};

} // namespace snipjar
