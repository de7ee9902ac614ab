#pragma once

#include "capture/CaptureOutcome.h"

#include <QString>

#include <optional>

namespace snipjar {

class Pasteboard;

// The result of reading the primary selection (the text selected with the mouse) once.
struct SelectedTextRead {
    // captured with the text; skipped when the selection must not be recorded (a marker, a
    // selection of files, a text over the byte cap); empty when it offers no text or changed hands
    // while it was read.
    CaptureOutcome outcome = CaptureOutcome::empty;
    std::optional<QString> text;

    bool operator==(const SelectedTextRead&) const = default;
};

// Reads the selection's plain text, nothing else: never its images, rich text or files. The markers
// that keep a clipboard copy out of the history keep the selection out too, and a text longer than
// byteCap bytes (UTF-8) is not transferred past the cap. Touches the selection's contents, so it runs
// on a reader thread.
SelectedTextRead readSelectedText(Pasteboard& selection, qint64 byteCap);

} // namespace snipjar
