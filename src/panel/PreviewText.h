#pragma once

#include <QString>

#include <optional>

namespace snipjar {

// The text the preview pane shows of a clip, and the counts it reports. Characters are what a
// reader sees (grapheme clusters), so an accented letter or an emoji counts once.
struct PreviewText {
    static constexpr int shownCharacterLimit = 10'000;

    // The first shownCharacterLimit characters.
    QString shown;
    // True when the source had more characters than are shown.
    bool truncated = false;
    // Characters and lines of the whole source text; absent where counts make no sense.
    std::optional<qsizetype> charCount;
    std::optional<qsizetype> lineCount;

    bool operator==(const PreviewText&) const = default;

    enum class Counts { include, omit };
    // May run on any thread: long payload texts are measured off the main thread.
    static PreviewText from(const QString& source, Counts counts);

    // Lines as a reader counts them: pieces between line breaks (LF, VT, FF, CR, CR LF, NEL, LS,
    // PS), empty ones included, without a last empty piece after a final break; 0 for no text.
    static qsizetype countLines(QStringView text);
};

} // namespace snipjar
