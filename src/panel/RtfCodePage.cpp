#include "panel/RtfCodePage.h"

#include <array>
#include <utility>

namespace snipjar {
namespace {

// Code pages whose codec is not simply "windows-N".
constexpr std::array codecNames{
    std::pair{437, "IBM437"},           std::pair{850, "IBM850"},
    std::pair{852, "IBM852"},           std::pair{866, "IBM866"},
    std::pair{932, "Shift_JIS"},        std::pair{936, "GBK"},
    std::pair{949, "windows-949"},      std::pair{950, "Big5"},
    std::pair{1361, "Johab"},           std::pair{10000, "macintosh"},
    std::pair{10007, "x-mac-cyrillic"}, std::pair{20127, "US-ASCII"},
    std::pair{20866, "KOI8-R"},         std::pair{28591, "ISO-8859-1"},
    std::pair{28592, "ISO-8859-2"},     std::pair{28605, "ISO-8859-15"},
    std::pair{65001, "UTF-8"},
};

// \fcharsetN values and the code pages they stand for.
constexpr std::array charsetCodePages{
    std::pair{77, 10000}, std::pair{128, 932},  std::pair{129, 949},  std::pair{130, 1361},
    std::pair{134, 936},  std::pair{136, 950},  std::pair{161, 1253}, std::pair{162, 1254},
    std::pair{163, 1258}, std::pair{177, 1255}, std::pair{178, 1256}, std::pair{186, 1257},
    std::pair{204, 1251}, std::pair{222, 874},  std::pair{238, 1250}, std::pair{255, 437},
};

QByteArray codecName(int codePage) {
    for (const auto& [page, name] : codecNames) {
        if (page == codePage) {
            return name;
        }
    }
    if ((codePage >= 1250 && codePage <= 1258) || codePage == 874) {
        return "windows-" + QByteArray::number(codePage);
    }
    return {};
}

} // namespace

int RtfCodePage::forCharset(int charset) {
    for (const auto& [set, page] : charsetCodePages) {
        if (set == charset) {
            return page;
        }
    }
    return 0;
}

RtfTextDecoder::RtfTextDecoder() = default;
RtfTextDecoder::~RtfTextDecoder() = default;

QStringDecoder* RtfTextDecoder::decoderFor(int codePage) {
    auto found = m_decoders.find(codePage);
    if (found == m_decoders.end()) {
        const QByteArray name = codecName(codePage);
        if (name.isEmpty()) {
            // Not cached: a hostile document could otherwise grow the cache with every \ansicpgN.
            return nullptr;
        }
        // Stateless: a lead byte cut off by formatting becomes a replacement character instead of
        // swallowing the next run's first byte.
        auto decoder = std::make_unique<QStringDecoder>(name.constData(), QStringConverter::Flag::Stateless);
        if (!decoder->isValid()) {
            decoder.reset();
        }
        found = m_decoders.emplace(codePage, std::move(decoder)).first;
    }
    return found->second.get();
}

QString RtfTextDecoder::decode(int codePage, QByteArrayView bytes) {
    QStringDecoder* decoder = decoderFor(codePage);
    return decoder ? decoder->decode(bytes) : QString::fromLatin1(bytes);
}

} // namespace snipjar
