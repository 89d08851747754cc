#include <gtest/gtest.h>

#include "dirdlg/EInvalidOperation.h"
#include "dirdlg/PathRoutines.h"
#include "dirdlg/TFileListBox.h"
#include "dirdlg/TPathLabel.h"
#include "platform/EInOutError.h"
#include "tests/dirdlg/DirDlgFixture.h"

namespace vantelo {
namespace {

TEST(PathRoutines, JoinPathAddsOneSeparator)
{
    EXPECT_EQ(JoinPath("/", "a"), "/a");
    EXPECT_EQ(JoinPath("/home", "a"), "/home/a");
    EXPECT_EQ(JoinPath("/home/", "a"), "/home/a");
    EXPECT_EQ(JoinPath("", "a"), "/a");
}

TEST(PathRoutines, FolderDepthCountsSeparators)
{
    EXPECT_EQ(FolderDepth("/"), 1);
    EXPECT_EQ(FolderDepth("/home/user/Photos"), 3);
    EXPECT_EQ(FolderDepth(""), 0);
    EXPECT_EQ(FolderDepth("/数据/照片"), 2);
}

// Every form the shortening goes through, with one pixel per byte.
TEST(TPathLabel, ShortenPathDropsLeadingFoldersUntilItFits)
{
    const auto bytes = [](const std::string& text) { return static_cast<int>(text.size()); };
    const std::string path = "/home/user/Photos/2020";
    const std::pair<int, const char*> rows[] = {
        {100, "/home/user/Photos/2020"},
        {22, "/home/user/Photos/2020"},
        {21, "/.../user/Photos/2020"},
        {20, "/.../Photos/2020"},
        {15, "/.../2020"},
        {8, ".../2020"},
        {7, "2020"},
        {1, "2020"},  // the last form is drawn even when still too wide
    };
    for (const auto& [width, shown] : rows)
        EXPECT_EQ(TPathLabel::ShortenPath(path, bytes, width), shown) << width;
    EXPECT_EQ(TPathLabel::ShortenPath("/", bytes, 0), "/");
    EXPECT_EQ(TPathLabel::ShortenPath("/home", bytes, 1), "home");
}

TEST(TPathLabel, DropLeadingFolderTakesOneFolderAtATime)
{
    const std::pair<const char*, const char*> rows[] = {
        {"/", ""},
        {"/home/user/", "/.../user/"},
        {"/.../user/", "/.../"},
        {".../", ""},
        {"home/user/", ".../user/"},
        {"/数据/照片/", "/.../照片/"},
    };
    for (const auto& [dir, shorter] : rows)
        EXPECT_EQ(TPathLabel::DropLeadingFolder(dir), shorter) << dir;
}

TEST(TFileListBox, LandingPositionsFollowInsertionIntoASortedList)
{
    // Arriving in final order, entry k lands at k.
    std::vector<int> ascending(150);
    for (int i = 0; i < 150; ++i)
        ascending[static_cast<size_t>(i)] = i;
    EXPECT_TRUE(TFileListBox::SomeEntryLandsAt(ascending, 100));
    // Arriving in reverse order, every entry lands at 0.
    std::vector<int> descending(ascending.rbegin(), ascending.rend());
    EXPECT_FALSE(TFileListBox::SomeEntryLandsAt(descending, 100));
    EXPECT_TRUE(TFileListBox::SomeEntryLandsAt(descending, 0));
    // 100 entries can fill positions 0..99 only.
    EXPECT_FALSE(TFileListBox::SomeEntryLandsAt(std::vector<int>(ascending.begin(), ascending.begin() + 100), 100));
    // Ranks 3,0,2,1: landing at 0,0,1,1.
    EXPECT_TRUE(TFileListBox::SomeEntryLandsAt({3, 0, 2, 1}, 1));
    EXPECT_FALSE(TFileListBox::SomeEntryLandsAt({3, 0, 2, 1}, 2));
}

class SplitTypedPathTest : public test::DirDlgFixture {};

TEST_F(SplitTypedPathTest, SplitsIntoFolderAndFilePartAndKeepsTheCurrentDirectory)
{
    MakeFolder("a");
    MakeFolder("a/b");
    dir_.WriteFile("a/file.txt", "x");
    struct Row {
        std::string text, folder, file;
    };
    const Row rows[] = {
        {Path("a/b"), Path("a/b"), ""},
        {Path("a/file.txt"), Path("a"), "file.txt"},
        {Path("a/*.txt"), Path("a"), "*.txt"},
        {Path("a/new.txt"), "", ""},  // neither file nor folder: an error, below
        {"a", Path("a"), ""},
        {"[a]", Path("a"), ""},
        {"a/b", "a/b", ""},
        {"/", "/", ""},
    };
    for (const Row& row : rows) {
        if (row.folder.empty())
            continue;
        const TTypedPath typed = SplitTypedPath(row.text);
        EXPECT_EQ(typed.folder, row.folder) << row.text;
        EXPECT_EQ(typed.file, row.file) << row.text;
        EXPECT_EQ(typed.drive, "/") << row.text;
        EXPECT_EQ(TCurrentDirectory::Get(), root_) << row.text;
    }
}

TEST_F(SplitTypedPathTest, FolderThatCannotBeEnteredRaisesAndSetsTheDirectoryBack)
{
    MakeFolder("a");
    for (const std::string& text : {Path("a/new.txt"), Path("missing/x"), std::string("gone")}) {
        try {
            SplitTypedPath(text);
            ADD_FAILURE() << "no error for " << text;
        } catch (const EInOutError& error) {
            EXPECT_EQ(error.Message(), "File not found");
        }
        EXPECT_EQ(TCurrentDirectory::Get(), root_);
    }
}

TEST_F(SplitTypedPathTest, DriveIsTheMountPointHoldingTheFolder)
{
    MakeFolder("usb");
    MakeFolder("usb/x");
    TDrive root;
    root.mountPoint = "/";
    TDrive usb;
    usb.mountPoint = Path("usb");
    TDrives::SetTableOverride(std::vector<TDrive>{root, usb});
    EXPECT_EQ(SplitTypedPath(Path("usb/x")).drive, Path("usb"));
    EXPECT_EQ(SplitTypedPath(Path("usb")).drive, Path("usb"));
    EXPECT_EQ(SplitTypedPath(root_).drive, "/");
}

}  // namespace
}  // namespace vantelo
