#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <map>
#include <memory>

namespace snipjar {

namespace RtfCodePage {

// The Windows code page RTF names with \ansicpgN and \cpgN.
constexpr int windowsLatin = 1252;
constexpr int macRoman = 10000;

// The code page of an \fcharsetN font charset; 0 for the default (ANSI) charsets, which follow the
// document's code page.
int forCharset(int charset);

} // namespace RtfCodePage

// Turns the bytes of RTF text into characters, one code page at a time. Decoders are made once per
// code page; a code page the system cannot decode is read as Latin-1.
class RtfTextDecoder {
public:
    RtfTextDecoder();
    ~RtfTextDecoder();

    QString decode(int codePage, QByteArrayView bytes);

private:
    QStringDecoder* decoderFor(int codePage);

    std::map<int, std::unique_ptr<QStringDecoder>> m_decoders;
};

} // namespace snipjar
