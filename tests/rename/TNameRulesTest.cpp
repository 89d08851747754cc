// The match and replacement rules, one table run once with the UTF-8 code
// page and once with GBK. Where the two code pages see different characters
// in the same bytes, a row gives both results.
#include "rename/TNameRules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vantelo {
namespace {

using Kind = TCodePage::Kind;

struct RuleRow {
    const char* why;
    std::string name;
    std::string target;
    std::string replacement;
    bool matches;          // NameMatches(name, target), the same under both code pages
    std::string utf8;      // ReplaceAllIgnoreCase under UTF-8
    std::string gbk;       // ... and under GBK
    std::optional<Kind> only = std::nullopt;  // the row's bytes only make sense in this code page
};

const RuleRow kRows[] = {
    {"ASCII case folded both ways", "Photo.JPG", "jpg", "png", true, "Photo.png", "Photo.png"},
    {"every occurrence, left to right", "aAa", "a", "b", true, "bbb", "bbb"},
    {"no overlap", "aAa", "aa", "x", true, "xa", "xa"},
    {"empty replacement removes", "a.b.c", ".", "", true, "abc", "abc"},
    {"replacement is never searched again", "aa", "a", "aa", true, "aaaa", "aaaa"},
    {"untouched parts keep their case", "MixEd.TXT", "ed", "X", true, "MixX.TXT", "MixX.TXT"},
    {"replacement keeps its own case", "file.txt", "FILE", "NeW", true, "NeW.txt", "NeW.txt"},
    {"no occurrence leaves the name", "readme", "xyz", "q", false, "readme", "readme"},
    {"target longer than the name", "ab", "abc", "q", false, "ab", "ab"},
    {"whole name replaced", "Name", "name", "other", true, "other", "other"},
    {"README.TXT found with readme", "README.TXT", "readme", "x", true, "x.TXT", "x.TXT"},
    {"dot lists dot and dot-dot", "..", ".", "_", true, "__", "__"},
    {"undecodable bytes around an occurrence kept", "\xFF" "abc" "\xFE", "B", "x", true,
     "\xFF" "axc" "\xFE", "\xFF" "axc" "\xFE"},
    // Two GBK characters B0 A1 B0 A1; A1 B0 spans their boundary. In UTF-8
    // every one of these bytes is a character of its own.
    {"target across two double-byte characters", "\xB0\xA1\xB0\xA1", "\xA1\xB0", "x", true,
     "\xB0" "x" "\xA1", "\xB0\xA1\xB0\xA1"},
    // C4 B0 | B0 B0: the first byte-wise hit (offset 1) is a trail byte; the
    // real character B0 B0 right after it must still be found. (In UTF-8,
    // C4 B0 is one character too, followed by two stray bytes.)
    {"occurrence right after a rejected trail-byte hit", "\xC4\xB0\xB0\xB0", "\xB0\xB0", "x", true,
     "\xC4\xB0" "x", "\xC4\xB0" "x"},
    // 81 61 is one GBK character whose trail byte is "a".
    {"trail byte that looks like a letter", "\x81" "aa", "A", "b", true, "\x81" "bb", "\x81" "ab"},
    {"match rule folds a trail byte like a letter", "\x81\x41", "a", "b", true, "\x81" "b", "\x81\x41"},
    {"an occurrence never ends inside a character", "\xC3\xA9", "\xC3", "x", true, "\xC3\xA9", "\xC3\xA9"},
    {"an occurrence never ends inside a character (GBK)", "\xD6\xD0", "\xD6", "x", true, "x\xD0",
     "\xD6\xD0"},
    // Full-width a / A: the match rule sees different bytes, the replacement
    // rule folds them.
    {"full-width letters (UTF-8)", "\xEF\xBD\x81.txt", "\xEF\xBC\xA1", "b", false, "b.txt", "", Kind::Utf8},
    {"full-width letters (GBK)", "\xA3\xE1.txt", "\xA3\xC1", "b", false, "", "b.txt", Kind::Gbk},
    {"Chinese name (UTF-8)", "\xE4\xB8\xAD\xE6\x96\x87.TXT", "\xE6\x96\x87", "X", true, "\xE4\xB8\xADX.TXT", "",
     Kind::Utf8},
    {"Chinese name (GBK)", "\xD6\xD0\xCE\xC4.TXT", "\xCE\xC4", "X", true, "", "\xD6\xD0X.TXT", Kind::Gbk},
    {"letter after a Chinese character (GBK)", "\xD6\xD0" "abc", "B", "-", true, "", "\xD6\xD0" "a-c", Kind::Gbk},
};

class NameRules : public ::testing::TestWithParam<Kind> {
protected:
    TCodePage page_{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(CodePages, NameRules, ::testing::Values(Kind::Utf8, Kind::Gbk),
                         [](const auto& info) { return info.param == Kind::Utf8 ? "Utf8" : "Gbk"; });

TEST_P(NameRules, MatchRuleFoldsOnlyAsciiLetters) {
    for (const RuleRow& row : kRows) {
        if (row.only && *row.only != GetParam()) continue;
        EXPECT_EQ(NameMatches(row.name, row.target), row.matches) << row.why;
    }
}

TEST_P(NameRules, ReplacementRuleFollowsTheCodePage) {
    for (const RuleRow& row : kRows) {
        if (row.only && *row.only != GetParam()) continue;
        const std::string& expected = GetParam() == Kind::Utf8 ? row.utf8 : row.gbk;
        EXPECT_EQ(ReplaceAllIgnoreCase(row.name, row.target, row.replacement, page_), expected) << row.why;
    }
}

TEST_P(NameRules, EmptyTargetNeitherMatchesNorReplaces) {
    EXPECT_FALSE(NameMatches("abc", ""));
    EXPECT_EQ(ReplaceAllIgnoreCase("abc", "", "x", page_), "abc");
    EXPECT_EQ(ReplaceAllIgnoreCase("", "a", "x", page_), "");
}

TEST(NameRulesDefaultCodePage, ReplacementUsesTheActiveCodePage) {
    TCodePage::SetActive(Kind::Gbk);
    EXPECT_EQ(ReplaceAllIgnoreCase("\xB0\xA1\xB0\xA1", "\xA1\xB0", "x"), "\xB0\xA1\xB0\xA1");
    TCodePage::SetActive(Kind::Utf8);
    EXPECT_EQ(ReplaceAllIgnoreCase("\xB0\xA1\xB0\xA1", "\xA1\xB0", "x"), "\xB0" "x" "\xA1");
}

}  // namespace
}  // namespace vantelo
