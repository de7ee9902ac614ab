#include "image/VipsRuntime.h"

#include "image/VipsInclude.h"
#include "platform/LogCategories.h"

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

#include <mutex>

namespace snipjar {

namespace {

void logLibraryMessage(const gchar*, GLogLevelFlags, const gchar* message, gpointer) {
    qCDebug(lcImage) << "libvips:" << message;
}

// The XMP toolkit keeps one namespace registry for the process, and exiv2 registers every namespace
// it meets in a packet; images are read on any thread, so the registry is changed under this lock.
std::mutex xmpToolkitMutex;

void lockXmpToolkit(void* data, bool lock) {
    auto* mutex = static_cast<std::mutex*>(data);
    if (lock) {
        mutex->lock();
    } else {
        mutex->unlock();
    }
}

bool startLibraries() {
    if (VIPS_INIT("snipjar") != 0) {
        vips_error_clear();
        return false;
    }
    // Every call works on new bytes, so cached operations would only hold on to large images.
    vips_cache_set_max(0);
    // Loaders that libvips marks as unsafe for untrusted input (ImageMagick, OpenSlide, Matlab,
    // FITS, ...) stay off; clipboard contents come from any application. PDF and SVG are formats
    // the clipboard carries as images, and their libraries (poppler, librsvg) are the ones every
    // desktop viewer exposes to the same files.
    vips_block_untrusted_set(TRUE);
    vips_operation_block_set("VipsForeignLoadPdf", FALSE);
    vips_operation_block_set("VipsForeignLoadSvg", FALSE);
    // Warnings about damaged files belong in the image log, not on standard error.
    g_log_set_handler("VIPS", GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO),
                      &logLibraryMessage, nullptr);

    // The XMP toolkit must be initialised, with its lock, before threads use it; exiv2's warnings
    // about odd files would only clutter the output.
    heif_init(nullptr);
    Exiv2::XmpParser::initialize(&lockXmpToolkit, &xmpToolkitMutex);
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
