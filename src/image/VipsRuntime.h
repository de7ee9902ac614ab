#pragma once

namespace snipjar {

// Process-wide set-up of libvips and exiv2, done once on first use from whichever thread comes
// first.
class VipsRuntime {
public:
    // True when libvips started; every image function gives up when it did not.
    static bool ensureStarted();
    // Drops the text libvips collected about the last failure. Failures are reported as absent
    // results, and the shared error buffer would otherwise grow for the life of the process.
    static void discardError();
};

} // namespace snipjar
