// ASCII-only case folding: A-Z and a-z fold together, nothing else does, and
// the user's locale has no say.
#include "platform/TAsciiCase.h"

#include <gtest/gtest.h>

#include "support/TTempDir.h"

#include <cctype>
#include <clocale>
#include <cstdlib>
#include <string>

namespace vantelo {
namespace {

struct Pair {
    std::string a;
    std::string b;
    bool equal;
};

void ExpectTable()
{
    const Pair rows[] = {
        {"", "", true},
        {"Data Source", "data source", true},
        {"FILEINDEX", "FileIndex", true},
        {"I", "i", true},
        {"Z", "z", true},
        {"@", "`", false},           // 0x40/0x60: neighbours of the letters, not letters
        {"[", "{", false},           // 0x5B/0x7B likewise
        {"abc", "abcd", false},
        {"abc", "abd", false},
        {"\xC4\xB0", "\xC4\xB1", false},  // UTF-8 dotted and dotless I stay distinct
        {"\xC4\xB0", "i", false},
        {"\xC9", "\xE9", false},          // Latin-1 E acute: not ASCII, not folded
        {std::string("a\0b", 3), std::string("A\0B", 3), true},
        {std::string("a\0b", 3), std::string("A\0C", 3), false},
    };
    for (const Pair& row : rows) {
        EXPECT_EQ(AsciiEqualIgnoreCase(row.a, row.b), row.equal) << '"' << row.a << "\" vs \"" << row.b << '"';
        EXPECT_EQ(AsciiEqualIgnoreCase(row.b, row.a), row.equal) << "reversed: " << row.a;
    }
    for (int c = 0; c < 256; ++c) {
        const char ch = static_cast<char>(c);
        const bool upper = c >= 'A' && c <= 'Z';
        const bool lower = c >= 'a' && c <= 'z';
        EXPECT_EQ(AsciiLower(ch), upper ? static_cast<char>(c + 32) : ch) << c;
        EXPECT_EQ(AsciiUpper(ch), lower ? static_cast<char>(c - 32) : ch) << c;
    }
    EXPECT_EQ(AsciiUpperCase("integer(10) \xC3\xA9i"), "INTEGER(10) \xC3\xA9I");
}

TEST(AsciiCase, FoldsOnlyTheAsciiLettersInTheCLocale)
{
    ExpectTable();
}

TEST(AsciiCase, TurkishLocaleDoesNotChangeTheFolding)
{
    // A Turkish locale, built for the test: there the C library folds "I" to
    // a dotless i, which these helpers must not follow.
    test::TTempDir locales;
    test::Shell("localedef -i tr_TR -f ISO-8859-9 '" + (locales / "tr_TR.ISO-8859-9") + "' >/dev/null 2>&1");
    ASSERT_EQ(setenv("LOCPATH", locales.Path().c_str(), 1), 0);
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "tr_TR.ISO-8859-9"), nullptr) << "localedef -i tr_TR failed (package locales)";
    EXPECT_NE(std::tolower('I'), 'i');
    ExpectTable();
    std::setlocale(LC_ALL, saved.c_str());
    unsetenv("LOCPATH");
}

}  // namespace
}  // namespace vantelo
