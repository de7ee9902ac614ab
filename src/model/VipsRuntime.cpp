#include "model/VipsRuntime.h"

#include "model/VipsInclude.h"
#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

namespace snipjar {

namespace {

bool startLibraries() {
    if (VIPS_INIT("snipjar") != 0) {
        vips_error_clear();
        return false;
    }
    // Every call works on new bytes, so cached operations would only hold on to large images.
    vips_cache_set_max(0);
    // Loaders that libvips marks as unsafe for untrusted input (ImageMagick, OpenSlide, Matlab,
    // FITS, ...) stay off; clipboard contents come from any application.
    vips_block_untrusted_set(TRUE);

    // The XMP toolkit must be initialised before threads use it, and exiv2's warnings about odd
    // files would only clutter the output.
    heif_init(nullptr);
    Exiv2::XmpParser::initialize();
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    Exiv2::enableBMFF(true);
    return true;
}

} // namespace

bool VipsRuntime::ensureStarted() {
    static const bool started = startLibraries();
    return started;
}

void VipsRuntime::discardError() {
    vips_error_clear();
}

} // namespace snipjar
