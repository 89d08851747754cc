// The code page: lossless narrow <-> wide for any byte string, the walk over
// characters, and upper-casing that keeps byte lengths, for UTF-8 and GBK.
#include "platform/TCodePage.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace vantelo {
namespace {

using Kind = TCodePage::Kind;

std::string Hex(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
        out += ' ';
    }
    return out;
}

class CodePageBothKinds : public ::testing::TestWithParam<Kind> {
protected:
    TCodePage page_{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Kinds, CodePageBothKinds, ::testing::Values(Kind::Utf8, Kind::Gbk),
                         [](const auto& info) { return info.param == Kind::Utf8 ? "Utf8" : "Gbk"; });

TEST_P(CodePageBothKinds, HandPickedByteStringsSurviveTheTripToWideAndBack) {
    const std::vector<std::string> samples = {
        "",
        "plain.txt",
        std::string("nul\0inside", 10),
        "\xEF\xBF\xBD\xFF",                  // a real U+FFFD next to an undecodable byte
        "\xFF\xEF\xBF\xBD",
        "\xC0\xAF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF",  // overlong forms
        "\xED\xA0\x80", "\xED\xBF\xBF\xED\xA0\x80x",      // encoded surrogates
        "\x80", "a\xBF" "b", "\x80\x80\x80",              // lone continuation bytes
        "\xC3", "\xE4\xB8", "\xF0\x9F\x98",               // cut-off sequences
        "\xF4\x90\x80\x80",                               // above U+10FFFF
        "\xF0\x9F\x98\x80 smile",                         // outside the BMP
        "\xD6\xD0\xCE\xC4.txt",                           // GBK "中文"
        "\xB0\xA1\x81", "\x81\x20", "\x81\x7F", "\xFF\xFE", "\x80\xA1",
        "\xE4\xB8\xAD\xE6\x96\x87.txt",                   // UTF-8 "中文"
    };
    for (const std::string& s : samples) {
        EXPECT_EQ(Hex(page_.ToNarrow(page_.ToWide(s))), Hex(s)) << Hex(s);
    }
}

TEST_P(CodePageBothKinds, RandomByteStringsSurviveTheTripToWideAndBack) {
    std::mt19937 random(20240917);
    std::uniform_int_distribution<int> length(0, 24);
    std::uniform_int_distribution<int> highByte(0x7E, 0xFF);
    std::uniform_int_distribution<int> anyByte(0, 0xFF);
    std::uniform_int_distribution<int> coin(0, 3);
    for (int round = 0; round < 20000; ++round) {
        std::string s;
        const int n = length(random);
        for (int i = 0; i < n; ++i) {
            s += static_cast<char>(coin(random) == 0 ? anyByte(random) : highByte(random));
        }
        const std::string back = page_.ToNarrow(page_.ToWide(s));
        ASSERT_EQ(Hex(back), Hex(s));
    }
}

TEST_P(CodePageBothKinds, UpperCaseKeepsTheByteLengthOfEveryString) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> anyByte(0, 0xFF);
    for (int round = 0; round < 5000; ++round) {
        std::string s;
        for (int i = 0; i < 16; ++i) s += static_cast<char>(anyByte(random));
        const std::string upper = page_.UpperCase(s);
        ASSERT_EQ(upper.size(), s.size());
        // Character boundaries stay where they were.
        for (size_t pos = 0; pos < s.size(); ++pos) {
            ASSERT_EQ(page_.IsTrailByteAt(upper, pos), page_.IsTrailByteAt(s, pos)) << Hex(s);
        }
    }
}

TEST_P(CodePageBothKinds, AsciiLettersAreUpperCasedAndOtherAsciiKept) {
    EXPECT_EQ(page_.UpperCase("Photo.jpg_09-az{}"), "PHOTO.JPG_09-AZ{}");
    EXPECT_EQ(page_.UpperCase(""), "");
}

TEST(CodePageUtf8, EscapesUndecodableBytesAsLoneSurrogates) {
    const TCodePage page(Kind::Utf8);
    EXPECT_EQ(page.ToWide("\xFF"), u"\xDCFF");
    EXPECT_EQ(page.ToWide("\xEF\xBF\xBD\xFE"), u"\xFFFD\xDCFE");
    EXPECT_EQ(page.ToWide("\xED\xA0\x80"), u"\xDCED\xDCA0\xDC80");
    EXPECT_EQ(page.ToWide("\xC0\xAF"), u"\xDCC0\xDCAF");
    EXPECT_EQ(page.ToWide("\xE4\xB8\xAD"), u"\x4E2D");
    EXPECT_EQ(page.ToWide("\xF0\x9F\x98\x80"), u"\xD83D\xDE00");
}

TEST(CodePageUtf8, WideTextThatCannotBeWrittenBecomesQuestionMarks) {
    const TCodePage page(Kind::Utf8);
    EXPECT_EQ(page.ToNarrow(u"a\xD800" "b"), "a?b");
    EXPECT_EQ(page.ToNarrow(u"\xDC10"), "?");
    EXPECT_EQ(page.ToNarrow(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
}

TEST(CodePageGbk, DecodesChineseAndEscapesWhatIsNotGbk) {
    const TCodePage page(Kind::Gbk);
    EXPECT_EQ(page.ToWide("\xD6\xD0\xCE\xC4"), u"\x4E2D\x6587");
    EXPECT_EQ(page.ToNarrow(u"\x4E2D\x6587"), "\xD6\xD0\xCE\xC4");
    EXPECT_EQ(page.ToWide("\x81\x20"), u"\xDC81 ");  // lead byte without a valid trail
    EXPECT_EQ(page.ToWide("\xFF"), u"\xDCFF");
    EXPECT_EQ(page.ToNarrow(u"\x0E01"), "?");          // Thai: not in GBK
    EXPECT_EQ(page.ToNarrow(u"\xD83D\xDE00"), "?");
}

struct UpperRow {
    Kind kind;
    const char* in;
    const char* out;
    const char* why;
};

TEST(CodePageUpperCase, MapsLettersOnlyWhenTheByteLengthStaysTheSame) {
    const UpperRow rows[] = {
        {Kind::Utf8, "\xEF\xBD\x81", "\xEF\xBC\xA1", "full-width a -> A"},
        {Kind::Utf8, "\xC3\xA9", "\xC3\x89", "e acute"},
        {Kind::Utf8, "\xCE\xB1\xD0\xB4", "\xCE\x91\xD0\x94", "Greek alpha, Cyrillic de"},
        {Kind::Utf8, "\xC3\x9F", "\xC3\x9F", "sharp s has no one-character upper case"},
        {Kind::Utf8, "\xC4\xB1", "\xC4\xB1", "dotless i -> I changes length: kept"},
        {Kind::Utf8, "\xC5\xBF", "\xC5\xBF", "long s -> S changes length: kept"},
        {Kind::Utf8, "\xE4\xB8\xAD", "\xE4\xB8\xAD", "CJK has no case"},
        {Kind::Utf8, "a\xFF" "b\xC3", "A\xFF" "B\xC3", "undecodable bytes kept"},
        {Kind::Gbk, "\xA3\xE1", "\xA3\xC1", "full-width a -> A"},
        {Kind::Gbk, "\xA6\xC1\xA7\xD5", "\xA6\xA1\xA7\xA5", "Greek alpha, Cyrillic de"},
        {Kind::Gbk, "\xA8\xB9", "\xA8\xB9", "u umlaut: upper case not in GBK"},
        {Kind::Gbk, "\xA8\xA6", "\xA8\xA6", "e acute: upper case not in GBK"},
        {Kind::Gbk, "\x81\x61z", "\x81\x61Z", "a trail byte that looks like a letter stays"},
        {Kind::Gbk, "\xD6\xD0" "abc", "\xD6\xD0" "ABC", "letters after a double-byte character"},
        {Kind::Gbk, "a\x81", "A\x81", "lead byte at the end"},
    };
    for (const UpperRow& row : rows) {
        const TCodePage page(row.kind);
        EXPECT_EQ(Hex(page.UpperCase(row.in)), Hex(row.out)) << row.why;
    }
}

struct WalkRow {
    Kind kind;
    std::string text;
    std::vector<size_t> lengths;  // CharLength at each position, walking from the start
};

TEST(CodePageWalk, CharacterLengthsAndTrailBytes) {
    const WalkRow rows[] = {
        {Kind::Gbk, "\xB0\xA1\xB0\xA1", {2, 2}},
        {Kind::Gbk, "a\xB0\xA1" "b", {1, 2, 1}},
        {Kind::Gbk, "\x81\x41\x41", {2, 1}},   // 0x41 as trail, then as a letter
        {Kind::Gbk, "x\x81", {1, 1}},          // lead byte with nothing after it
        {Kind::Gbk, "\x80\xFF", {1, 1}},       // not lead bytes
        {Kind::Utf8, "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80", {1, 2, 3, 4}},
        {Kind::Utf8, "\x80\xC3\xE4\xB8", {1, 1, 1, 1}},
        {Kind::Utf8, "\xED\xA0\x80", {1, 1, 1}},
    };
    for (const WalkRow& row : rows) {
        const TCodePage page(row.kind);
        std::vector<size_t> lengths;
        std::vector<bool> trail(row.text.size(), true);
        for (size_t pos = 0; pos < row.text.size(); pos += lengths.back()) {
            lengths.push_back(page.CharLength(row.text, pos));
            trail[pos] = false;
        }
        EXPECT_EQ(lengths, row.lengths) << Hex(row.text);
        for (size_t pos = 0; pos < row.text.size(); ++pos) {
            EXPECT_EQ(page.IsTrailByteAt(row.text, pos), trail[pos]) << Hex(row.text) << " at " << pos;
        }
    }
}

TEST(CodePageLeadBytes, FollowTheCodePage) {
    const TCodePage gbk(Kind::Gbk), utf8(Kind::Utf8);
    EXPECT_FALSE(gbk.IsLeadByte(0x80));
    EXPECT_TRUE(gbk.IsLeadByte(0x81));
    EXPECT_TRUE(gbk.IsLeadByte(0xFE));
    EXPECT_FALSE(gbk.IsLeadByte(0xFF));
    EXPECT_FALSE(utf8.IsLeadByte(0xC1));
    EXPECT_TRUE(utf8.IsLeadByte(0xC2));
    EXPECT_TRUE(utf8.IsLeadByte(0xF4));
    EXPECT_FALSE(utf8.IsLeadByte(0xF5));
    EXPECT_FALSE(utf8.IsLeadByte(0x80));
    EXPECT_TRUE(gbk.IsDoubleByte());
    EXPECT_FALSE(utf8.IsDoubleByte());
}

TEST(CodePageTexts, TheToolsUtf8TextsComeOutInTheCodePage) {
    // "文件名称修改成功" and "数据库打开失败", in UTF-8 and in GBK.
    const std::pair<std::string, std::string> rows[] = {
        {"\xE6\x96\x87\xE4\xBB\xB6\xE5\x90\x8D\xE7\xA7\xB0\xE4\xBF\xAE\xE6\x94\xB9\xE6\x88\x90\xE5\x8A\x9F",
         "\xCE\xC4\xBC\xFE\xC3\xFB\xB3\xC6\xD0\xDE\xB8\xC4\xB3\xC9\xB9\xA6"},
        {"\xE6\x95\xB0\xE6\x8D\xAE\xE5\xBA\x93\xE6\x89\x93\xE5\xBC\x80\xE5\xA4\xB1\xE8\xB4\xA5",
         "\xCA\xFD\xBE\xDD\xBF\xE2\xB4\xF2\xBF\xAA\xCA\xA7\xB0\xDC"},
        {"plain: 12", "plain: 12"},
        {"", ""},
    };
    for (const auto& [utf8, gbk] : rows) {
        EXPECT_EQ(TCodePage(Kind::Utf8).FromUtf8(utf8), utf8);
        EXPECT_EQ(Hex(TCodePage(Kind::Gbk).FromUtf8(utf8)), Hex(gbk));
    }
}

TEST(CodePageChoice, CodesetNamesPickTheKind) {
    const std::pair<const char*, Kind> rows[] = {
        {"GBK", Kind::Gbk},          {"gb2312", Kind::Gbk},       {"GB18030", Kind::Gbk},
        {"CP936", Kind::Gbk},        {"UTF-8", Kind::Utf8},       {"ANSI_X3.4-1968", Kind::Utf8},
        {"", Kind::Utf8},            {"ISO-8859-1", Kind::Utf8},
    };
    for (const auto& [codeset, kind] : rows) EXPECT_EQ(TCodePage::KindFromCodeset(codeset), kind) << codeset;
}

TEST(CodePageChoice, SetActiveSwitchesTheProcessCodePage) {
    TCodePage::SetActive(Kind::Gbk);
    EXPECT_EQ(TCodePage::Active().GetKind(), Kind::Gbk);
    TCodePage::SetActive(Kind::Utf8);
    EXPECT_EQ(TCodePage::Active().GetKind(), Kind::Utf8);
}

}  // namespace
}  // namespace vantelo
