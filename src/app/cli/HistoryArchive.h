#pragma once

#include <QString>

#include <iterator>

namespace snipjar {

// The archive `snipjar export` writes and `snipjar import` reads: a POSIX ustar file of
//   snipjar-export.json        format "snipjar-export", version, app version, clip and payload
//                              counts (always the first member, 1024 bytes of JSON padded with
//                              spaces, so that the counts can be written once they are known)
//   payloads/N.text|rich|image|html
//                              the content of the Nth clip line (UTF-8 text, RTF, image bytes, the
//                              HTML copied with the text; html since version 2)
//   clips.jsonl                one JSON object per clip, pinned clips first, then newest first
// in that order. The README documents the fields.
namespace HistoryArchive {

inline const QString formatName = QStringLiteral("snipjar-export");
// The version written; every version from oldestReadVersion on is read.
constexpr int formatVersion = 2;
constexpr int oldestReadVersion = 1;
inline const QString manifestName = QStringLiteral("snipjar-export.json");
inline const QString clipsName = QStringLiteral("clips.jsonl");
constexpr qint64 manifestBytes = 1024;
// What an archive may hold at most; more is refused as damaged or hostile.
constexpr int largestClipCount = 500'000;
constexpr qint64 largestLineBytes = 1 << 20;
inline const char* payloadTypes[] = {"text", "rich", "image", "html"};
constexpr int payloadTypeCount = int(std::size(payloadTypes));

} // namespace HistoryArchive

} // namespace snipjar
