// The batch rename's safety through the real window: Ctrl+Z with its
// question and its answer, undo across a restart, a search that fails on a
// locked database, a folder replaced between search and rename, a link to
// the tool's own database, and a take-back that cannot finish.
#include <gtest/gtest.h>

#include "FileListFixture.h"
#include "platform/TFileOps.h"
#include "reliability/DirState.h"
#include "ui_FormMain.h"  // generated for this target from resources/FormMain.ui

#include <algorithm>

using FileListTest = FileListFixture;
using vantelo::reliability::SameDirectory;
using vantelo::reliability::Snapshot;

namespace {

class UndoTest : public FileListFixture {
protected:
    // Ctrl+Z as the user presses it, with the grid holding the focus (an
    // edit field keeps the key for its own undo).
    void PressCtrlZ()
    {
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        form->Controls().DBGrid1->setFocus();
        QTest::keyClick(form->Controls().DBGrid1, Qt::Key_Z, Qt::ControlModifier);
    }

    // Closes the window and the data module and starts again, as the user
    // does between two runs.
    void Restart()
    {
        module.reset();
        ShareDataModule = nullptr;
        form.reset();
        Start();
    }
};

// The question names the batch's folder and its number of files.
#define Question(n) ("撤销上次在 " + work->Path() + " 中的修改（共 " #n " 个文件）？")

TEST_F(UndoTest, CtrlZTwiceAfterTwoBatchesRestoresTheFolderByteForByteAcrossARestart)
{
    Touch("x1.jpg", "first picture");
    Touch("x2.jpg", "second picture");
    Touch("notes.txt", "not listed");
    const auto before = Snapshot(work->Path());
    Start();
    Search(work->Path(), "jpg");
    Rename("jpg", "png", true);  // renamed in place
    Search(work->Path(), "png");
    Rename("png", "gif", false);  // copies beside the originals
    ASSERT_EQ(notices, (std::vector<std::string>{"文件名称修改成功", "文件名称修改成功"}));
    ASSERT_TRUE(Exists("x1.png") && Exists("x1.gif") && !Exists("x1.jpg"));

    Restart();
    notices.clear();
    kinds.clear();
    PressCtrlZ();
    PressCtrlZ();
    PressCtrlZ();
    EXPECT_EQ(notices, (std::vector<std::string>{Question(2), "已撤销 2 个文件",
                                                 Question(2), "已撤销 2 个文件", "没有可撤销的修改"}));
    EXPECT_EQ(kinds, (std::vector<DialogKind>{dkConfirmation, dkCustom, dkConfirmation, dkCustom, dkCustom}));
    EXPECT_TRUE(SameDirectory(before, Snapshot(work->Path())));
    EXPECT_TRUE(errors.empty());
}

TEST_F(UndoTest, UndoAsksFirstAndLeavesAloneWhatChangedSince)
{
    Touch("a.jpg", "a");
    Touch("b.jpg", "b");
    Touch("c.jpg", "c");
    Start();
    Search(work->Path(), "jpg");
    Rename("jpg", "png", true);
    notices.clear();

    confirmAnswer = 7;  // "No": nothing happens
    PressCtrlZ();
    EXPECT_EQ(notices, std::vector<std::string>{Question(3)});
    EXPECT_TRUE(Exists("a.png") && !Exists("a.jpg"));

    // One new file edited, one old name taken again: both stay as they are.
    Touch("b.png", "edited since");
    Touch("c.jpg", "a new file under the old name");
    notices.clear();
    confirmAnswer = 6;
    PressCtrlZ();
    EXPECT_EQ(notices, (std::vector<std::string>{Question(3), "已撤销 1 个文件；2 个文件已被改动，未撤销"}));
    EXPECT_EQ(work->ReadFile("a.jpg"), "a");
    EXPECT_FALSE(Exists("a.png"));
    EXPECT_EQ(work->ReadFile("b.png"), "edited since");
    EXPECT_FALSE(Exists("b.jpg"));
    EXPECT_EQ(work->ReadFile("c.png"), "c");
    EXPECT_EQ(work->ReadFile("c.jpg"), "a new file under the old name");
}

TEST_F(UndoTest, ASearchThatFailsOnALockedDatabaseLeavesTheListWithItsOwnFolder)
{
    TTempDir other;
    Touch("a1.txt", "A one");
    Touch("a2.txt", "A two");
    other.WriteFile("ba.txt", "B");
    Start(100);
    Search(work->Path(), "a");
    std::vector<std::string> listed = Live();
    std::sort(listed.begin(), listed.end());
    ASSERT_EQ(listed, (std::vector<std::string>{"a1.txt", "a2.txt"}));

    // Another process holds the database's write lock through the second search.
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open((base->Path() + "/FileName.mdb").c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    Search(other.Path(), "a");
    EXPECT_EQ(errors, std::vector<std::string>{"database is locked."});
    sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(holder);

    // The list still shows the first folder's files, and those are renamed.
    EXPECT_EQ(GridRows(), 2);
    Rename("a", "z", true);
    EXPECT_EQ(notices, std::vector<std::string>{"文件名称修改成功"});
    EXPECT_EQ(work->ReadFile("z1.txt"), "A one");
    EXPECT_EQ(work->ReadFile("z2.txt"), "A two");
    EXPECT_EQ(other.ReadFile("ba.txt"), "B");
    EXPECT_FALSE(std::filesystem::exists(other / "bz.txt"));
}

TEST_F(UndoTest, AFolderReplacedAtTheSamePathIsRefusedNotRenamed)
{
    const std::string folder = *work / "photos";
    const std::string moved = *work / "photos-old";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    Touch("photos/p.jpg", "listed");
    Start();
    Search(folder, "jpg");
    ASSERT_EQ(::rename(folder.c_str(), moved.c_str()), 0);
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    Touch("photos/p.jpg", "someone else's");
    Rename("jpg", "png", true);
    EXPECT_EQ(notices, std::vector<std::string>{"新文件生成失败，失败号为：116"});
    EXPECT_TRUE(Exists("photos/p.jpg") && Exists("photos-old/p.jpg"));
    EXPECT_FALSE(Exists("photos/p.png") || Exists("photos-old/p.png"));
}

TEST_F(UndoTest, ALinkToTheToolsDatabaseIsRefusedLikeTheDatabase)
{
    ASSERT_EQ(::symlink((base->Path() + "/FileName.mdb").c_str(), (*work / "list.k").c_str()), 0);
    Touch("photo.k");
    const auto before = Snapshot(work->Path());
    Start();
    Search(work->Path(), ".k");
    Rename(".k", ".r", true);
    EXPECT_EQ(notices, std::vector<std::string>{"新文件生成失败，失败号为：16"});
    EXPECT_TRUE(SameDirectory(before, Snapshot(work->Path())));
}

// A file system that will neither rename without replacing nor remove an
// entry (as an append-only folder): the old files stay beside their copies.
class NothingRemoved : public TFileOps {
public:
    int Fault(Step step, const std::string&) override { return step == Step::Unlink ? EPERM : 0; }

protected:
    int RenameNoReplace(int, const std::string&, const std::string&) override
    {
        errno = EINVAL;
        return -1;
    }
};

TEST_F(UndoTest, OldFilesThatCouldNotBeDeletedAreReportedAfterTheSuccess)
{
    NothingRemoved ops;
    Touch("a.jpg", "a");
    Touch("b.jpg", "b");
    Start();
    form->SetFileOps(ops);
    Search(work->Path(), "jpg");
    Rename("jpg", "png", true);
    EXPECT_EQ(notices, (std::vector<std::string>{"文件名称修改成功", "2 个原文件未能删除，失败号为：1"}));
    EXPECT_TRUE(Exists("a.jpg") && Exists("a.png") && Exists("b.jpg") && Exists("b.png"));
    EXPECT_TRUE(Live().empty());
    form.reset();
}

TEST_F(UndoTest, TheRenameButtonsTooltipNamesCtrlZ)
{
    Start();
    EXPECT_EQ(form->Controls().SpeedButton2->toolTip().toStdString(), texts::kRenameHint);
}

// The real file system, except that the third rename in place fails with
// EIO, and so does giving the first file its old name back: the batch fails
// and its take-back leaves that file under its new name.
class TakeBackFails : public TFileOps {
public:
    int Fault(Step step, const std::string& name) override
    {
        if (step != Step::Rename)
            return 0;
        renamedTo.push_back(name);
        if (renamedTo.size() == 3 || name == OldOf(renamedTo.front()))
            return EIO;
        return 0;
    }
    static std::string OldOf(const std::string& newName) { return newName.substr(0, newName.size() - 2) + ".k"; }
    std::vector<std::string> renamedTo;  // every name a rename in place was asked to give
};

TEST_F(UndoTest, AFileATakeBackLeftRenamedLeavesTheListAndWaitsForTheNextStart)
{
    for (const char* name : {"a.k", "b.k", "c.k", "d.k"})
        Touch(name, name);
    TakeBackFails ops;
    Start();
    form->SetFileOps(ops);
    Search(work->Path(), ".k");
    Rename(".k", ".r", true);
    ASSERT_GE(ops.renamedTo.size(), 3u);
    const std::string left = TakeBackFails::OldOf(ops.renamedTo[0]);
    EXPECT_EQ(notices, (std::vector<std::string>{"新文件生成失败，失败号为：5", "1 个文件未能还原，下次启动时再试"}));
    EXPECT_FALSE(Exists(left));
    EXPECT_TRUE(Exists(ops.renamedTo[0]));
    // The grid never shows a name the folder no longer has, and it stands on
    // the row that stopped the batch.
    EXPECT_EQ(GridRows(), 3);
    const std::vector<std::string> live = Live();
    EXPECT_EQ(std::count(live.begin(), live.end(), left), 0);
    for (const std::string& name : live)
        EXPECT_TRUE(Exists(name)) << name;
    EXPECT_EQ(form->ADOQuery1->FieldByName("FileName").AsString(), TakeBackFails::OldOf(ops.renamedTo[2]));
    EXPECT_TRUE(errors.empty());

    // The batch stayed pending: the next start takes the file back.
    Restart();
    EXPECT_EQ(notices.back(), "上次修改未完成，已撤销 1 个文件");
    EXPECT_TRUE(Exists(left));
    EXPECT_FALSE(Exists(ops.renamedTo[0]));
}

}  // namespace
