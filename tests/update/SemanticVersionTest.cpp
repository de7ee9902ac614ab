#include "app/update/SemanticVersion.h"

#include <gtest/gtest.h>

#include <ostream>

namespace snipjar {

// Failure messages name versions instead of dumping their bytes.
void PrintTo(const SemanticVersion& version, std::ostream* out) {
    *out << version.toString().toStdString();
}

} // namespace snipjar

using namespace snipjar;

namespace {

SemanticVersion v(const char* text) {
    const auto parsed = SemanticVersion::parse(QString::fromLatin1(text));
    EXPECT_TRUE(parsed.has_value()) << text;
    return parsed.value_or(SemanticVersion());
}

} // namespace

// The precedence chain from the Semantic Versioning 2.0 text, plus numeric (not textual) order of
// numbers: each version ranks strictly below the next.
TEST(SemanticVersion, PrecedenceIncludingPreReleases) {
    const char* ascending[] = {
        "0.9.9",      "0.10.0",       "1.0.0-alpha",   "1.0.0-alpha.1", "1.0.0-alpha.beta",
        "1.0.0-beta", "1.0.0-beta.2", "1.0.0-beta.11", "1.0.0-rc.1",    "1.0.0",
        "1.0.1",      "1.2.0",        "1.10.0",        "2.0.0",         "18446744073709551615.0.0"};
    for (size_t i = 0; i + 1 < std::size(ascending); ++i) {
        EXPECT_LT(v(ascending[i]), v(ascending[i + 1])) << ascending[i] << " < " << ascending[i + 1];
        EXPECT_GT(v(ascending[i + 1]), v(ascending[i])) << ascending[i + 1] << " > " << ascending[i];
    }
    // Build metadata never counts; numeric identifiers longer than any integer still compare.
    EXPECT_EQ(v("1.0.0+build.1"), v("1.0.0+build.2"));
    EXPECT_LT(v("1.0.0-99999999999999999999"), v("1.0.0-100000000000000000000"));
    EXPECT_EQ(v("1.0.0-rc.1+exp.sha.5114f85").toString(), QStringLiteral("1.0.0-rc.1+exp.sha.5114f85"));
}

// What the grammar forbids is no version at all, so a feed carrying it is refused.
TEST(SemanticVersion, RejectsWhatTheGrammarForbids) {
    for (const char* text :
         {"", "1", "1.2", "1.2.3.4", "v1.2.3", "01.2.3", "1.02.3", "1.2.3-", "1.2.3-01", "1.2.3-a..b",
          "1.2.3+", "1.2.3-a_b", " 1.2.3", "1.2.-3", "1.2.3-beta+x+y", "99999999999999999999.0.0"}) {
        EXPECT_FALSE(SemanticVersion::parse(QString::fromLatin1(text)).has_value()) << text;
    }
    EXPECT_TRUE(SemanticVersion::parse(u"1.2.3-0.a-b.0a").has_value());
}
