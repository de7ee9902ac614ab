#include "panel/RtfControlWord.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace snipjar {
namespace {

struct Entry {
    std::string_view name;
    RtfControl control;
    char16_t character = 0;
};

using enum RtfControl;

// Sorted by name for binary search. Destinations that hold no text of the document (metadata,
// pictures, headers and footers, style and list definitions) are skipped with everything inside.
constexpr std::array entries{
    Entry{"ansi", ansi},
    Entry{"ansicpg", ansicpg},
    Entry{"author", skippedDestination},
    Entry{"b", bold},
    Entry{"blue", blue},
    Entry{"bullet", character, u'\u2022'},
    Entry{"buptim", skippedDestination},
    Entry{"cb", background},
    Entry{"cell", cell},
    Entry{"cf", foreground},
    Entry{"chcbpat", background},
    Entry{"colortbl", colorTable},
    Entry{"comment", skippedDestination},
    Entry{"cpg", fontCodePage},
    Entry{"creatim", skippedDestination},
    Entry{"deff", defaultFont},
    Entry{"doccomm", skippedDestination},
    Entry{"emdash", character, u'\u2014'},
    Entry{"emspace", character, u'\u2003'},
    Entry{"endash", character, u'\u2013'},
    Entry{"enspace", character, u'\u2002'},
    Entry{"f", font},
    Entry{"fcharset", fontCharset},
    Entry{"fdecor", fontFamilyDecor},
    Entry{"filetbl", skippedDestination},
    Entry{"fldinst", skippedDestination},
    Entry{"fmodern", fontFamilyModern},
    Entry{"fonttbl", fontTable},
    Entry{"footer", skippedDestination},
    Entry{"footerf", skippedDestination},
    Entry{"footerl", skippedDestination},
    Entry{"footerr", skippedDestination},
    Entry{"footnote", skippedDestination},
    Entry{"froman", fontFamilyRoman},
    Entry{"fs", fontSize},
    Entry{"fscript", fontFamilyScript},
    Entry{"fswiss", fontFamilySwiss},
    Entry{"ftech", fontFamilyTech},
    Entry{"ftncn", skippedDestination},
    Entry{"ftnsep", skippedDestination},
    Entry{"ftnsepc", skippedDestination},
    Entry{"green", green},
    Entry{"header", skippedDestination},
    Entry{"headerf", skippedDestination},
    Entry{"headerl", skippedDestination},
    Entry{"headerr", skippedDestination},
    Entry{"highlight", background},
    Entry{"i", italic},
    Entry{"info", skippedDestination},
    Entry{"keywords", skippedDestination},
    Entry{"ldblquote", character, u'\u201C'},
    Entry{"line", lineBreak},
    Entry{"listoverridetable", skippedDestination},
    Entry{"listtable", skippedDestination},
    Entry{"lquote", character, u'\u2018'},
    Entry{"ltrmark", character, u'\u200E'},
    Entry{"mac", mac},
    Entry{"nestcell", cell},
    Entry{"nestrow", paragraph},
    Entry{"nonshppict", skippedDestination},
    Entry{"nosupersub", noSuperSub},
    Entry{"object", skippedDestination},
    Entry{"operator", skippedDestination},
    Entry{"page", paragraph},
    Entry{"par", paragraph},
    Entry{"pard", paragraphDefault},
    Entry{"pc", pc},
    Entry{"pca", pca},
    Entry{"pict", skippedDestination},
    Entry{"plain", plain},
    Entry{"printim", skippedDestination},
    Entry{"private", skippedDestination},
    Entry{"qc", alignCenter},
    Entry{"qj", alignJustify},
    Entry{"ql", alignLeft},
    Entry{"qmspace", character, u'\u2005'},
    Entry{"qr", alignRight},
    Entry{"rdblquote", character, u'\u201D'},
    Entry{"red", red},
    Entry{"revtbl", skippedDestination},
    Entry{"revtim", skippedDestination},
    Entry{"row", paragraph},
    Entry{"rquote", character, u'\u2019'},
    Entry{"rtf", rtf},
    Entry{"rtlmark", character, u'\u200F'},
    Entry{"rxe", skippedDestination},
    Entry{"sect", paragraph},
    Entry{"shp", skippedDestination},
    Entry{"strike", strikeOut},
    Entry{"striked", strikeOut},
    Entry{"stylesheet", skippedDestination},
    Entry{"sub", subscript},
    Entry{"subject", skippedDestination},
    Entry{"super", superscript},
    Entry{"tab", character, u'\t'},
    Entry{"tc", skippedDestination},
    Entry{"title", skippedDestination},
    Entry{"txe", skippedDestination},
    Entry{"u", unicode},
    Entry{"uc", unicodeSkip},
    Entry{"ud", unicodeAlternative},
    Entry{"ul", underline},
    Entry{"uld", underline},
    Entry{"uldash", underline},
    Entry{"uldashd", underline},
    Entry{"uldashdd", underline},
    Entry{"uldb", underline},
    Entry{"ulhwave", underline},
    Entry{"ulldash", underline},
    Entry{"ulnone", underlineNone},
    Entry{"ulth", underline},
    Entry{"ulw", underline},
    Entry{"ulwave", underline},
    Entry{"upr", unicodePair},
    Entry{"v", hidden},
    Entry{"xe", skippedDestination},
    Entry{"zwj", character, u'\u200D'},
    Entry{"zwnj", character, u'\u200C'},
};

static_assert(std::is_sorted(entries.begin(), entries.end(),
                             [](const Entry& a, const Entry& b) { return a.name < b.name; }));

} // namespace

RtfControlWord rtfControlWord(QByteArrayView name) {
    const std::string_view key(name.data(), static_cast<size_t>(name.size()));
    const auto found =
        std::lower_bound(entries.begin(), entries.end(), key,
                         [](const Entry& entry, std::string_view k) { return entry.name < k; });
    if (found == entries.end() || found->name != key) {
        return {};
    }
    return RtfControlWord{found->control, found->character};
}

} // namespace snipjar
