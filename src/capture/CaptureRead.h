#pragma once

#include "capture/CaptureLimits.h"
#include "capture/CaptureOutcome.h"
#include "model/Clip.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace snipjar {

class Pasteboard;

// The result of reading the clipboard once: the outcome and what to hand to the ingestor. The
// reading happens off the main thread; the monitor applies the result on the main thread, where
// the frontmost application is looked up.
struct CaptureRead {
    // An image above the direct limit, transcoded by the ingestor before it is stored.
    struct TranscodeJob {
        QByteArray bytes;
        std::optional<QString> sourceURLString;
    };

    CaptureOutcome outcome = CaptureOutcome::empty;
    // Set for a captured clip (its source application is filled in on hand-off).
    std::optional<Clip> clip;
    // Set for a captured image that must be transcoded first.
    std::optional<TranscodeJob> transcode;

    static CaptureRead skipped() { return {CaptureOutcome::skipped, std::nullopt, std::nullopt}; }
    static CaptureRead empty() { return {CaptureOutcome::empty, std::nullopt, std::nullopt}; }
    static CaptureRead captured(Clip clip) {
        return {CaptureOutcome::captured, std::move(clip), std::nullopt};
    }
    static CaptureRead capturedForTranscode(TranscodeJob job) {
        return {CaptureOutcome::captured, std::nullopt, std::move(job)};
    }
};

// True when the type list carries a concealed, transient or remote-clipboard marker: a password
// manager's copy, a clipboard meant to vanish, or one shared from another device is never recorded,
// and nothing of it is read.
bool carriesCaptureForbiddingMarker(const QStringList& types);

// Reads the clipboard's contents into one clip, by a fixed priority: nothing at all when a
// concealed, transient or remote-clipboard marker is present; then file URLs, images, rich text
// with its plain text, plain text; HTML offered beside either is kept with it. The byte cap for images is
// read from the user settings at every call. Touches the clipboard's contents, so it runs on the capture's
// reader thread.
CaptureRead readCapture(Pasteboard& pasteboard, const CaptureLimits& limits);

} // namespace snipjar
