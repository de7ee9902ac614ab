#pragma once

#include "panel/RtfReader.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <ostream>

// Readable failure messages for the texts compared below.
inline void PrintTo(const QString& text, std::ostream* stream) {
    *stream << '"' << text.toStdString() << '"';
}

namespace snipjar::test {

// The hand-written RTF samples in tests/fixtures/rtf, shaped like what office suites put on the
// clipboard.
inline QByteArray rtfFixture(const char* name) {
    QFile file(QStringLiteral(SNIPJAR_FIXTURES_DIR "/rtf/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

inline std::unique_ptr<QTextDocument> readRtf(const QByteArray& rtf) {
    return RtfReader::read(rtf);
}

// The document's text exactly as stored, paragraphs joined by "\n". QTextDocument::toPlainText
// would turn non-breaking spaces into spaces and line separators into line feeds.
inline QString plainText(const QTextDocument& document) {
    QString text;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block != document.begin()) {
            text += u'\n';
        }
        text += block.text();
    }
    return text;
}

inline QString plainText(const std::unique_ptr<QTextDocument>& document) {
    return document ? plainText(*document) : QStringLiteral("<none>");
}

// The format of the styled run that holds `text`; none when no single run holds it.
inline std::optional<QTextCharFormat> formatOf(const QTextDocument& document, const QString& text) {
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
            if (fragment.fragment().text().contains(text)) {
                return fragment.fragment().charFormat();
            }
        }
    }
    return std::nullopt;
}

} // namespace snipjar::test
