#pragma once

#include <QByteArrayView>
#include <QTextDocument>

#include <memory>

namespace snipjar {

// Reads the RTF that rich-text clips hold into a styled QTextDocument for the preview: paragraphs and
// line breaks, bold, italic, underline, strike-through, super- and subscript, font sizes, font
// families, text and background colours, alignment, Unicode and code-page text. Everything else
// (pictures, fields' instructions, metadata, styles, lists, headers) is left out.
//
// Hostile input is expected: one pass over the bytes without recursion, groups nested deeper than
// maxGroupDepth are dropped with their content, and the document stops growing at maxCharacters.
class RtfReader {
public:
    struct Limits {
        int maxGroupDepth = 1000;
        qsizetype maxCharacters = 1'000'000;
    };

    struct Outcome {
        // False when the bytes are not RTF; the document was left alone.
        bool isRtf = false;
        // The document was cut at maxCharacters.
        bool truncated = false;
        // The work done: one step per token read and per character written. Tests check that it
        // grows linearly with the input.
        qint64 steps = 0;
    };

    struct Result {
        // None when the bytes are not RTF.
        std::unique_ptr<QTextDocument> document;
        bool truncated = false;
        qint64 steps = 0;
    };

    // True when the bytes open an RTF document ("{\rtf" after optional white space).
    static bool isRtf(QByteArrayView bytes);

    // Replaces the document's content with the RTF's, as one edit: a layout or view attached to it
    // hears of one change, not one per styled run.
    static Outcome readInto(QByteArrayView rtf, QTextDocument& document, Limits limits);
    static Result read(QByteArrayView rtf, Limits limits);
    static std::unique_ptr<QTextDocument> read(QByteArrayView rtf) { return read(rtf, Limits{}).document; }
};

} // namespace snipjar
