// The directory enumeration: every entry of one level, raw bytes, and errno
// on failure.
#include "platform/TDirectoryListing.h"

#include "support/TTempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

TEST(DirectoryListing, FoldersPastTheLongestPathAreListedAndEntriesTellTheirKind) {
    test::TTempDir dir;
    // A path past 4,095 bytes, made one folder at a time.
    const std::string step(250, 's');
    std::string deep = dir.Path();
    int at = open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(at, 0);
    while (deep.size() <= 4200) {
        ASSERT_EQ(mkdirat(at, step.c_str(), 0755), 0);
        const int next = openat(at, step.c_str(), O_RDONLY | O_DIRECTORY);
        close(at);
        ASSERT_GE(next, 0);
        at = next;
        deep += "/" + step;
    }
    ASSERT_EQ(mkdirat(at, "folder", 0755), 0);
    close(openat(at, "file", O_CREAT | O_WRONLY, 0644));
    ASSERT_EQ(symlinkat("folder", at, "link"), 0);
    close(at);

    std::vector<std::string> names;
    ASSERT_EQ(TDirectoryListing::ReadAll(deep, names), 0);
    EXPECT_EQ(Sorted(names), (std::vector<std::string>{".", "..", "file", "folder", "link"}));
    TDirectoryListing listing;
    ASSERT_EQ(listing.Open(deep + "/"), 0);
    std::string name;
    while (listing.Next(name)) {
        const unsigned char expected = name == "file" ? DT_REG : name == "link" ? DT_LNK : DT_DIR;
        // tmpfs and the usual disk file systems record the kind.
        if (listing.EntryType() != DT_UNKNOWN) {
            EXPECT_EQ(listing.EntryType(), expected) << name;
        }
        // The folder's descriptor reaches its entries whatever the path's length.
        struct stat info {};
        EXPECT_EQ(fstatat(listing.Descriptor(), name.c_str(), &info, 0), 0) << name;
        EXPECT_EQ(S_ISDIR(info.st_mode), name != "file") << name;
    }
    EXPECT_EQ(listing.LastError(), 0);
    // A name too long for the system fails as such.
    EXPECT_EQ(TDirectoryListing::ReadAll(deep + "/" + std::string(300, 'x'), names), ENAMETOOLONG);
    EXPECT_EQ(test::Shell("rm -rf '" + dir / step + "'"), 0);
}

}  // namespace
}  // namespace vantelo
