#pragma once

#include <QMetaType>

namespace snipjar {

// What one capture of the clipboard came to.
enum class CaptureOutcome {
    // A clip, or a large image to transcode, was handed to the ingestor.
    captured,
    // A marker (concealed, transient, remote clipboard) forbids capturing this content, or its
    // text is larger than the store keeps.
    skipped,
    // Nothing usable was found; the monitor tries the same change again shortly.
    empty,
};

} // namespace snipjar

Q_DECLARE_METATYPE(snipjar::CaptureOutcome)
