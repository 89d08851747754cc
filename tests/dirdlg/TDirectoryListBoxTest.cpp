#include <QListWidget>
#include <QScrollBar>
#include <QTest>

#include <unistd.h>

#include "dirdlg/PathRoutines.h"
#include "dirdlg/TDirectoryListBox.h"
#include "platform/EInOutError.h"
#include "tests/dirdlg/DirDlgFixture.h"

namespace vantelo {
namespace {

class TDirectoryListBoxTest : public test::DirDlgFixture {
protected:
    // Names of the entries from `from` on.
    static std::vector<std::string> Names(const TDirectoryListBox& tree, int from = 0)
    {
        std::vector<std::string> names;
        for (int i = from; i < tree.count(); ++i)
            names.push_back(tree.EntryName(i));
        return names;
    }
    // Whether a row is wholly inside the visible rows.
    static bool InView(const TDirectoryListBox& tree, int row)
    {
        const QRect rect = tree.visualItemRect(tree.item(row));
        return rect.height() > 0 && rect.top() >= 0 && rect.bottom() < tree.viewport()->height();
    }
    static void DoubleClick(TDirectoryListBox& tree, int row)
    {
        const QRect rect = tree.visualItemRect(tree.item(row));
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(tree.viewport(), Qt::LeftButton, {}, rect.center());
    }
};

TEST_F(TDirectoryListBoxTest, TreeShowsRootAncestorsOpenFolderAndSortedSubfolders)
{
    MakeFolder("Work");
    MakeFolder("Work/Photos");
    for (const char* name : {"beta", "Alpha", "gamma", "alpha", ".hidden", "Zeta"})
        MakeFolder(std::string("Work/Photos/") + name);
    dir_.WriteFile("Work/Photos/aaa-file", "x");
    symlink("beta", Path("Work/Photos/link-to-beta").c_str());
    TCurrentDirectory::Set(Path("Work/Photos"));

    TDirectoryListBox tree;
    const std::string open = Path("Work/Photos");
    EXPECT_EQ(tree.OpenPath(), open);
    const int depth = FolderDepth(open);
    ASSERT_EQ(tree.OpenIndex(), depth);
    EXPECT_EQ(tree.EntryName(0), "/");
    for (int i = 0; i < depth; ++i)
        EXPECT_EQ(tree.KindOf(i), TDirectoryListBox::ekAncestor) << i;
    EXPECT_EQ(tree.EntryName(depth), "Photos");
    EXPECT_EQ(tree.KindOf(depth), TDirectoryListBox::ekOpenFolder);
    EXPECT_EQ(tree.currentRow(), depth);
    // Hidden folders and plain files never; names differing only in case both.
    const std::vector<std::string> subfolders = Names(tree, depth + 1);
    ASSERT_EQ(subfolders.size(), 6u);
    EXPECT_EQ(subfolders[2], "beta");
    EXPECT_EQ(subfolders[3], "gamma");
    EXPECT_EQ(subfolders[4], "link-to-beta");
    EXPECT_EQ(subfolders[5], "Zeta");
    EXPECT_TRUE((subfolders[0] == "alpha" && subfolders[1] == "Alpha") ||
                (subfolders[0] == "Alpha" && subfolders[1] == "alpha"));

    // Paths and indentation of each kind of entry.
    EXPECT_EQ(tree.EntryPath(0), "/");
    EXPECT_EQ(tree.EntryPath(depth - 1), Path("Work"));
    EXPECT_EQ(tree.EntryPath(depth), open);
    EXPECT_EQ(tree.EntryPath(depth + 4), open + "/gamma");
    EXPECT_EQ(tree.EntryPath(tree.count()), "");
    EXPECT_EQ(tree.EntryOffset(0), 2);
    EXPECT_EQ(tree.EntryOffset(1), 6);
    EXPECT_EQ(tree.EntryOffset(depth), depth * 4 + 2);
    EXPECT_EQ(tree.EntryOffset(depth + 1), (depth + 1) * 4 + 2);
    EXPECT_EQ(tree.EntryOffset(tree.count() - 1), (depth + 1) * 4 + 2);
}

TEST_F(TDirectoryListBoxTest, RootIsOneOpenEntryWithSubfoldersAtOffsetTen)
{
    TCurrentDirectory::Set("/");
    TDirectoryListBox tree;
    EXPECT_EQ(tree.OpenPath(), "/");
    EXPECT_EQ(tree.OpenIndex(), 0);
    EXPECT_EQ(tree.KindOf(0), TDirectoryListBox::ekOpenFolder);
    ASSERT_GT(tree.count(), 1);
    EXPECT_EQ(tree.EntryOffset(1), 10);
    EXPECT_EQ(tree.EntryPath(1), "/" + tree.EntryName(1));
}

TEST_F(TDirectoryListBoxTest, DoubleClickOpensAFolderAndMakesItCurrentSingleClickDoesNot)
{
    MakeFolder("a");
    MakeFolder("a/inner");
    MakeFolder("b");
    TDirectoryListBox tree;
    tree.resize(300, 400);
    tree.show();
    int changes = 0;
    tree.OnChange = [&] { ++changes; };
    const int a = tree.OpenIndex() + 1;
    ASSERT_EQ(tree.EntryName(a), "a");

    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualItemRect(tree.item(a + 1)).center());
    QTest::keyClick(&tree, Qt::Key_Up);
    EXPECT_EQ(tree.currentRow(), a);
    EXPECT_EQ(tree.OpenPath(), root_);
    EXPECT_EQ(changes, 0);

    DoubleClick(tree, a);
    EXPECT_EQ(tree.OpenPath(), Path("a"));
    EXPECT_EQ(TCurrentDirectory::Get(), Path("a"));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(Names(tree, tree.OpenIndex()), (std::vector<std::string>{"a", "inner"}));

    // The open folder's own entry changes nothing.
    DoubleClick(tree, tree.OpenIndex());
    EXPECT_EQ(changes, 1);
    // An ancestor goes back up.
    DoubleClick(tree, tree.OpenIndex() - 1);
    EXPECT_EQ(tree.OpenPath(), root_);
    EXPECT_EQ(TCurrentDirectory::Get(), root_);
    tree.hide();
}

TEST_F(TDirectoryListBoxTest, DoubleClickBelowTheEntriesOpensTheHighlightedOne)
{
    MakeFolder("only");
    TDirectoryListBox tree;
    tree.resize(300, 600);
    tree.show();
    tree.setCurrentRow(tree.OpenIndex() + 1);
    QTest::mouseDClick(tree.viewport(), Qt::LeftButton, {}, QPoint(10, tree.viewport()->height() - 5));
    EXPECT_EQ(tree.OpenPath(), Path("only"));
    tree.hide();
}

TEST_F(TDirectoryListBoxTest, RemovedFolderGivesFileNotFoundAndLeavesTreeAndDirectory)
{
    MakeFolder("gone");
    MakeFolder("stay");
    TDirectoryListBox tree;
    tree.resize(300, 400);
    tree.show();
    const std::vector<std::string> before = Names(tree);
    const int gone = tree.OpenIndex() + 1;
    ASSERT_EQ(tree.EntryName(gone), "gone");
    ASSERT_EQ(rmdir(Path("gone").c_str()), 0);

    DoubleClick(tree, gone);
    EXPECT_EQ(boxes_, std::vector<std::string>{"File not found."});
    EXPECT_EQ(tree.OpenPath(), root_);
    EXPECT_EQ(Names(tree), before);
    EXPECT_EQ(TCurrentDirectory::Get(), root_);
    tree.hide();
}

TEST_F(TDirectoryListBoxTest, FolderWithoutPermissionGivesFileAccessDenied)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to switch to the unprivileged user 'nobody'";
    MakeFolder("locked");
    chmod(root_.c_str(), 0755);
    chmod(Path("locked").c_str(), 0700);
    TDirectoryListBox tree;
    const int locked = tree.OpenIndex() + 1;
    tree.setCurrentRow(locked);
    {
        // Act as nobody only around the navigation.
        ASSERT_EQ(setegid(65534), 0);
        ASSERT_EQ(seteuid(65534), 0);
        try {
            tree.OpenEntry();
            ADD_FAILURE() << "no error";
        } catch (const EInOutError& error) {
            EXPECT_EQ(error.Message(), "File access denied");
        }
        EXPECT_EQ(seteuid(0), 0);
        EXPECT_EQ(setegid(0), 0);
    }
    EXPECT_EQ(tree.OpenPath(), root_);
    EXPECT_EQ(tree.EntryName(locked), "locked");
    EXPECT_EQ(TCurrentDirectory::Get(), root_);
}

TEST_F(TDirectoryListBoxTest, SetDriveOpensTheDrivesRememberedFolder)
{
    MakeFolder("usb");
    MakeFolder("usb/photos");
    MakeFolder("home");
    TDrive root;
    root.mountPoint = "/";
    TDrive usb;
    usb.mountPoint = Path("usb");
    TDrives::SetTableOverride(std::vector<TDrive>{root, usb});

    TDirectoryListBox tree;
    int changes = 0;
    tree.OnChange = [&] { ++changes; };
    // Never visited: the mount point.
    tree.SetDrive(Path("usb"));
    EXPECT_EQ(tree.OpenPath(), Path("usb"));
    tree.ChangeOpenPath(Path("usb/photos"));
    tree.ChangeOpenPath(Path("home"));
    EXPECT_EQ(changes, 3);
    // Back on the drive: where it was left. Repeating changes nothing.
    tree.SetDrive(Path("usb"));
    EXPECT_EQ(tree.OpenPath(), Path("usb/photos"));
    EXPECT_EQ(TCurrentDirectory::Get(), Path("usb/photos"));
    tree.SetDrive(Path("usb"));
    EXPECT_EQ(changes, 4);
    tree.SetDrive("/");
    EXPECT_EQ(tree.OpenPath(), Path("home"));
}

TEST_F(TDirectoryListBoxTest, NamesOnAVolumeWithoutCaseAreDrawnInLowerCase)
{
    MakeFolder("Fat");
    MakeFolder("Fat/MixedCase");
    TDrive root;
    root.mountPoint = "/";
    TDrive fat;
    fat.mountPoint = Path("Fat");
    fat.fsType = "msdos";
    TDrives::CaseFlagsOf(fat.fsType, fat.caseKept, fat.caseMatters);
    TDrives::SetTableOverride(std::vector<TDrive>{root, fat});
    TCurrentDirectory::Set(Path("Fat"));
    TDirectoryListBox tree;
    EXPECT_FALSE(tree.CaseKept());
    const int sub = tree.OpenIndex() + 1;
    EXPECT_EQ(tree.ShownName(tree.EntryName(sub)), "mixedcase");
    // The path keeps the stored case.
    EXPECT_EQ(tree.EntryPath(sub), Path("Fat/MixedCase"));
    EXPECT_TRUE(tree.SamePath(Path("Fat/mixedcase"), Path("Fat/MIXEDCASE")));
}

TEST_F(TDirectoryListBoxTest, FoldersPastTheLongestPathTheSystemTakesAreListedAndOpened)
{
    // A chain of folders whose full path passes 4,095 bytes, made one step
    // at a time from the current directory.
    const std::string name(200, 'd');
    std::string deep = root_;
    while (deep.size() + 1 + name.size() <= 4095) {
        ASSERT_EQ(mkdir(name.c_str(), 0755), 0);
        ASSERT_EQ(chdir(name.c_str()), 0);
        deep += "/" + name;
    }
    ASSERT_EQ(mkdir(name.c_str(), 0755), 0);          // its path passes 4,095 bytes
    ASSERT_EQ(mkdir((name + "/inner").c_str(), 0755), 0);
    const std::string longest = deep + "/" + name;
    ASSERT_GT(longest.size(), 4095u);

    TDirectoryListBox tree;
    tree.resize(300, 400);
    tree.show();
    EXPECT_EQ(tree.OpenPath(), deep);
    ASSERT_EQ(Names(tree, tree.OpenIndex() + 1), std::vector<std::string>{name});
    DoubleClick(tree, tree.OpenIndex() + 1);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(tree.OpenPath(), longest);
    EXPECT_EQ(TCurrentDirectory::Get(), longest);
    EXPECT_EQ(Names(tree, tree.OpenIndex() + 1), std::vector<std::string>{"inner"});
    // And back up by an ancestor, whose path is long too.
    DoubleClick(tree, tree.OpenIndex() - 1);
    EXPECT_EQ(tree.OpenPath(), deep);
    tree.hide();
    TCurrentDirectory::Set(root_);
    ASSERT_EQ(test::Shell("rm -rf '" + Path(name) + "'"), 0);
}

TEST_F(TDirectoryListBoxTest, ARebuiltTreeStartsAtItsTopWithTheRootInView)
{
    // Two long trees: the open folder's and its last subfolder's.
    for (int i = 0; i < 60; ++i)
        MakeFolder("sub" + std::to_string(100 + i));
    for (int i = 0; i < 60; ++i)
        MakeFolder("sub159/inner" + std::to_string(100 + i));
    TDirectoryListBox tree;
    tree.resize(200, 150);
    tree.show();
    tree.scrollToBottom();
    ASSERT_GT(tree.verticalScrollBar()->value(), 0);
    DoubleClick(tree, tree.count() - 1);
    ASSERT_EQ(tree.OpenPath(), Path("sub159"));
    EXPECT_EQ(tree.verticalScrollBar()->value(), 0);
    EXPECT_TRUE(InView(tree, 0));
    EXPECT_TRUE(InView(tree, tree.OpenIndex()));
    tree.hide();
}

TEST_F(TDirectoryListBoxTest, RowHeightFollowsTheFontUntilSet)
{
    TDirectoryListBox tree;
    EXPECT_EQ(tree.ItemHeight(), std::max(16, TextRowHeight(tree.font())));
    tree.SetItemHeight(17);
    EXPECT_EQ(tree.visualItemRect(tree.item(0)).height(), 17);
    QFont big = tree.font();
    big.setPixelSize(30);
    tree.setFont(big);
    EXPECT_EQ(tree.ItemHeight(), TextRowHeight(big));
}

}  // namespace
}  // namespace vantelo
