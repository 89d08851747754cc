// The directory enumeration: every entry of one level, raw bytes, and errno
// on failure.
#include "platform/TDirectoryListing.h"

#include "support/TTempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace vantelo {
namespace {

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

TEST(DirectoryListing, ListsEveryEntryOfOneLevelWithDotAndDotDot) {
    test::TTempDir dir;
    dir.WriteFile("a.txt", "a");
    dir.WriteFile(".hidden", "");
    dir.WriteFile("\xFF\xFE bad \xC0\xAF", "x");  // not valid UTF-8
    ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);
    dir.WriteFile("sub/inner.txt", "deeper");
    std::vector<std::string> names;
    ASSERT_EQ(TDirectoryListing::ReadAll(dir.Path(), names), 0);
    const std::vector<std::string> expected = {".", "..", ".hidden", "a.txt", "sub", "\xFF\xFE bad \xC0\xAF"};
    EXPECT_EQ(Sorted(names), Sorted(expected));
}

TEST(DirectoryListing, TrailingSlashIsAccepted) {
    test::TTempDir dir;
    dir.WriteFile("x", "");
    std::vector<std::string> names;
    ASSERT_EQ(TDirectoryListing::ReadAll(dir.Path() + "/", names), 0);
    EXPECT_EQ(Sorted(names), (std::vector<std::string>{".", "..", "x"}));
}

TEST(DirectoryListing, FailuresReportErrnoAndListNothing) {
    test::TTempDir dir;
    dir.WriteFile("file", "");
    const std::pair<std::string, int> rows[] = {
        {dir / "missing", ENOENT},
        {"", ENOENT},
        {dir / "file", ENOTDIR},
    };
    for (const auto& [path, error] : rows) {
        std::vector<std::string> names = {"stale"};
        EXPECT_EQ(TDirectoryListing::ReadAll(path, names), error) << path;
        EXPECT_TRUE(names.empty());
        TDirectoryListing listing;
        EXPECT_EQ(listing.Open(path), error);
        std::string name;
        EXPECT_FALSE(listing.Next(name));
    }
}

TEST(DirectoryListing, StepwiseEnumerationEndsCleanly) {
    test::TTempDir dir;
    for (int i = 0; i < 300; ++i) dir.WriteFile("f" + std::to_string(i), "");
    TDirectoryListing listing;
    ASSERT_EQ(listing.Open(dir.Path()), 0);
    std::string name;
    size_t count = 0;
    while (listing.Next(name)) ++count;
    EXPECT_EQ(count, 302u);
    EXPECT_EQ(listing.LastError(), 0);
    EXPECT_FALSE(listing.Next(name));
}

}  // namespace
}  // namespace vantelo
