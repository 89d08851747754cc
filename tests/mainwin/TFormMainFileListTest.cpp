// The file list end to end: the reset at first show, the search and the batch
// rename, run through the real main window and data module against a real
// FileName.mdb in a temporary folder, with the boxes answered by test hooks.
#include <gtest/gtest.h>

#include "FileListFixture.h"
#include "mainwin/MainTexts.h"
#include "platform/TDirectoryListing.h"
#include "platform/TFileOps.h"
#include "rename/TNameRules.h"
#include "support/TFullDiskVfs.h"
#include "ui_FormMain.h"  // generated for this target from resources/FormMain.ui

using FileListTest = FileListFixture;

TEST_F(FileListTest, StartUpSwitchesOffRowsAnEarlierRunLeftLive)
{
    sqlite3* db = nullptr;
    sqlite3_open((base->Path() + "/FileName.mdb").c_str(), &db);
    sqlite3_exec(db, "INSERT INTO Tellarin(FileName, FileEnable) VALUES ('a', 1), ('b', 0), ('c', 1)", nullptr,
                 nullptr, nullptr);
    sqlite3_close(db);
    Start();
    EXPECT_EQ(Table(), (std::vector<Row>{{1, "a", false}, {2, "b", false}, {3, "c", false}}));
    EXPECT_EQ(GridRows(), 0);
    EXPECT_TRUE(notices.empty());
    EXPECT_TRUE(errors.empty());
}

TEST_F(FileListTest, WithoutADatabaseTheWindowStillComesUpAfterTheTwoMessages)
{
    std::filesystem::remove(base->Path() + "/FileName.mdb");
    Start();
    EXPECT_EQ(notices, std::vector<std::string>{"数据库打开失败"});
    EXPECT_EQ(errors, std::vector<std::string>{"ADOQueryTemp: Cannot perform this operation on a closed dataset."});
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->ADOQuery1->Active());
}

TEST_F(FileListTest, SearchesReuseRowsInTableOrderAndSwitchOffTheRest)
{
    Start();
    for (const char* name : {"a1.txt", "a2.txt", "a3.txt", "b.txt"})
        Touch(name);
    Search(work->Path(), "A");  // letters fold for A..Z only
    std::vector<std::string> live = Live();
    std::sort(live.begin(), live.end());
    EXPECT_EQ(live, (std::vector<std::string>{"a1.txt", "a2.txt", "a3.txt"}));
    EXPECT_EQ(GridRows(), 3);
    // The scratch rows are let go once written; the next search starts
    // from the table as a closed query counts as standing at its end.
    EXPECT_FALSE(ShareDataModule->ADOQueryTemp->Active());

    // One match now: it overwrites the first row, the other two go off.
    Search(work->Path() + "/", "b.TXT");
    const std::vector<Row> rows = Table();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (Row{1, "b.txt", true}));
    EXPECT_FALSE(rows[1].enabled);
    EXPECT_FALSE(rows[2].enabled);
    EXPECT_EQ(GridRows(), 1);

    // More matches than rows: all rows overwritten, then appended.
    for (const char* name : {"c1", "c2", "c3", "c4"})
        Touch(name);
    Search(work->Path(), "c");
    EXPECT_EQ(Table().size(), 4u);
    EXPECT_EQ(Live().size(), 4u);

    // No match empties the list.
    Search(work->Path(), "zzz");
    EXPECT_TRUE(Live().empty());
    EXPECT_EQ(GridRows(), 0);
    EXPECT_TRUE(notices.empty());
}

TEST_F(FileListTest, TargetDotListsDotEntriesAndSubdirectoriesOneLevelDown)
{
    Start();
    Touch("x.txt");
    std::filesystem::create_directory(*work / "sub.d");
    Touch("sub.d/inner.txt");
    Search(work->Path(), ".");
    std::vector<std::string> live = Live();
    std::sort(live.begin(), live.end());
    EXPECT_EQ(live, (std::vector<std::string>{".", "..", "sub.d", "x.txt"}));
}

TEST_F(FileListTest, ADirectoryThatCannotBeListedLeavesThePreviousList)
{
    Start();
    Touch("keep.txt");
    Search(work->Path(), "keep");
    ASSERT_EQ(Live(), std::vector<std::string>{"keep.txt"});
    Search(work->Path() + "/vanished", "keep");
    EXPECT_EQ(Live(), std::vector<std::string>{"keep.txt"});
    EXPECT_EQ(GridRows(), 1);
    EXPECT_TRUE(notices.empty());
}

TEST_F(FileListTest, MissingInputIsAskedForAndNothingChanges)
{
    Start();
    Touch("a.txt");
    Search("", "a");
    Search(work->Path(), "");
    ASSERT_EQ(notices, (std::vector<std::string>{"请先选择要修改的文件目录", "请输入要搜索的目标字符"}));
    Search(work->Path(), "a");
    notices.clear();
    Rename("", "b", false);
    Rename("a", "", false);
    EXPECT_EQ(notices, (std::vector<std::string>{"请输入要搜索的目标字符", "请输入要改成的目标字符"}));
    EXPECT_EQ(Live(), std::vector<std::string>{"a.txt"});
    EXPECT_FALSE(Exists("b.txt"));
}

TEST_F(FileListTest, RenameKeepingTheOldFilesCopiesEveryListedFileAndEmptiesTheList)
{
    Start();
    Touch("photo1.JPG", "one");
    Touch("photo2.jpg", "two");
    Touch("other.png", "three");
    Search(work->Path(), "jpg");
    Rename("jpg", "png", false);
    EXPECT_EQ(notices, std::vector<std::string>{"文件名称修改成功"});
    EXPECT_EQ(work->ReadFile("photo1.png"), "one");
    EXPECT_EQ(work->ReadFile("photo2.png"), "two");
    EXPECT_TRUE(Exists("photo1.JPG"));
    EXPECT_TRUE(Exists("photo2.jpg"));
    EXPECT_TRUE(Live().empty());
    EXPECT_EQ(GridRows(), 0);
    // The rows keep the old names, switched off.
    for (const Row& row : Table())
        EXPECT_TRUE(row.name == "photo1.JPG" || row.name == "photo2.jpg") << row;
}

TEST_F(FileListTest, RenameDeletingTheOldFilesLeavesOnlyTheNewNames)
{
    Start();
    Touch("IMG_1.raw", "1");
    Touch("IMG_2.raw", "2");
    Search(work->Path(), "img");
    Rename("IMG", "PIC", true);
    EXPECT_EQ(notices, std::vector<std::string>{"文件名称修改成功"});
    EXPECT_FALSE(Exists("IMG_1.raw"));
    EXPECT_FALSE(Exists("IMG_2.raw"));
    EXPECT_EQ(work->ReadFile("PIC_1.raw"), "1");
    EXPECT_EQ(work->ReadFile("PIC_2.raw"), "2");
}

TEST_F(FileListTest, ATakenNewNameStopsTheBatchBeforeAnythingIsCopied)
{
    Start();
    Touch("x1", "old");
    Touch("x11", "taken");
    Touch("y1", "y");
    Search(work->Path(), "1");
    Rename("1", "11", true);  // x1 -> x11 exists already
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], "新文件生成失败，失败号为：17");
    EXPECT_EQ(work->ReadFile("x1"), "old");
    EXPECT_EQ(work->ReadFile("x11"), "taken");
    EXPECT_FALSE(Exists("y11"));
    EXPECT_EQ(Live().size(), 3u);  // the list stays live and on screen
    EXPECT_EQ(GridRows(), 3);
}

TEST_F(FileListTest, ASubdirectoryOnTheListStopsTheBatchWithItsNumber)
{
    Start();
    Touch("a.txt");
    Search(work->Path(), ".");  // ".", ".." and a.txt
    Rename(".", "_", false);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], "新文件生成失败，失败号为：21");
    EXPECT_FALSE(Exists("a_txt"));
}

// Fails the making of one new name with EIO, however it is made.
class FailingOneNewName : public TFileOps {
public:
    explicit FailingOneNewName(std::string name) : name_(std::move(name)) {}
    int Fault(Step step, const std::string& name) override
    {
        const bool making = step == Step::Link || step == Step::Rename || step == Step::CopyCommit;
        return making && name == name_ ? EIO : 0;
    }

private:
    std::string name_;
};

// With the old files kept (copies) and deleted (renames in place).
class FilePassFailureTest : public FileListFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(FilePassFailureTest, ShowsItsBoxWithTheGridOnTheFailingRow)
{
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"})
        Touch(name, name);
    FailingOneNewName ops("c.png");
    Start();
    form->SetFileOps(ops);
    Search(work->Path(), "jpg");
    ASSERT_EQ(GridRows(), 5);
    std::string currentWhenShown;
    TMessageForm::SetAnswerHook([&](const std::string& text, DialogKind, const DialogButtons&) {
        notices.push_back(text);
        currentWhenShown = form->ADOQuery1->FieldByName("FileName").AsString();
        return 1;
    });
    Rename("jpg", "png", GetParam());
    EXPECT_EQ(notices, std::vector<std::string>{"新文件生成失败，失败号为：5"});
    EXPECT_EQ(currentWhenShown, "c.jpg");
    EXPECT_EQ(GridRows(), 5);
    // The batch was taken back.
    for (const char* name : {"a", "b", "c", "d", "e"})
        EXPECT_TRUE(Exists(std::string(name) + ".jpg") && !Exists(std::string(name) + ".png")) << name;
}

INSTANTIATE_TEST_SUITE_P(OldFiles, FilePassFailureTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Deleted" : "Kept"; });

TEST_F(FileListTest, AfterASearchFailedPartWayARenameIsRefusedUntilASearchCompletes)
{
    for (const char* name : {"old1.o", "old2.o", "old3.o", "old4.o"})
        Touch(name);
    TTempDir other;
    for (const char* name : {"a.k", "b.k", "c.k"})
        other.WriteFile(name, name);
    Start();
    Search(work->Path(), ".o");
    ASSERT_EQ(GridRows(), 4);
    // The database refuses the second folder's last name in listing order,
    // so the names listed before it are written.
    std::vector<std::string> listed;
    ASSERT_EQ(TDirectoryListing::ReadAll(other.Path(), listed), 0);
    std::erase_if(listed, [](const std::string& name) { return !NameMatches(name, ".k"); });
    ASSERT_EQ(listed.size(), 3u);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((base->Path() + "/FileName.mdb").c_str(), &db), SQLITE_OK);
    for (const char* when : {"INSERT", "UPDATE"}) {
        const std::string trigger = std::string("CREATE TRIGGER refuse_") + when + " BEFORE " + when +
                                    " ON Tellarin WHEN NEW.FileName = '" + listed.back() +
                                    "' BEGIN SELECT RAISE(ABORT, 'refused'); END";
        ASSERT_EQ(sqlite3_exec(db, trigger.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    }
    sqlite3_close(db);
    Search(other.Path(), ".k");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("refused"), std::string::npos) << errors[0];

    // Neither the list on screen nor the table's mix of both folders is renamed.
    Rename(".", "_", false);
    EXPECT_EQ(notices, std::vector<std::string>{"上次搜索未完成，请重新搜索"});
    EXPECT_STREQ(texts::kSearchUnfinished, "上次搜索未完成，请重新搜索");
    for (const char* name : {"old1_o", "old2_o", "old3_o", "old4_o"})
        EXPECT_FALSE(Exists(name)) << name;
    for (const std::string& name : listed)
        EXPECT_EQ(other.ReadFile(name), name);

    // A folder that cannot be listed is no completed search.
    notices.clear();
    Search(work->Path() + "/missing", ".k");
    Rename(".", "_", false);
    EXPECT_EQ(notices, std::vector<std::string>{"上次搜索未完成，请重新搜索"});

    // A search that completes lists one folder again, and its list is renamed.
    notices.clear();
    Search(other.Path(), listed.front());
    ASSERT_EQ(GridRows(), 1);
    Rename(".k", ".z", false);
    EXPECT_EQ(notices, std::vector<std::string>{"文件名称修改成功"});
    EXPECT_EQ(other.ReadFile(listed.front().substr(0, 1) + ".z"), listed.front());
}

TEST_F(FileListTest, NamesResolveAgainstTheSearchedDirectoryWhereverTheProcessStands)
{
    Start();
    Touch("doc.txt", "d");
    Search(work->Path(), "doc");
    TTempDir elsewhere;
    std::filesystem::current_path(elsewhere.Path());
    Rename("doc", "note", true);
    EXPECT_EQ(notices, std::vector<std::string>{"文件名称修改成功"});
    EXPECT_EQ(work->ReadFile("note.txt"), "d");
    EXPECT_FALSE(Exists("doc.txt"));
}

TEST_F(FileListTest, NamesThatAreNotUtf8AndSymbolicLinksAreRenamedAsTheyAre)
{
    Start();
    const std::string odd = "caf\xe9-a.bin";  // Latin-1 byte, not UTF-8
    Touch(odd, "bytes");
    ASSERT_EQ(symlink("caf\xe9-a.bin", (*work / "link-a").c_str()), 0);
    Search(work->Path(), "-a");
    ASSERT_EQ(Live().size(), 2u);
    Rename("-a", "-b", true);
    EXPECT_EQ(notices, std::vector<std::string>{"文件名称修改成功"});
    EXPECT_EQ(work->ReadFile("caf\xe9-b.bin"), "bytes");
    char target[64] = {};
    ASSERT_GT(readlink((*work / "link-b").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "caf\xe9-a.bin");  // a link copied as a link, its target unchanged
    EXPECT_FALSE(Exists(odd));
}

TEST_F(FileListTest, TheToolsOwnDatabaseIsNeverRenamed)
{
    Start();
    Search(base->Path(), "FileName");
    ASSERT_FALSE(Live().empty());
    Rename("FileName", "Other", true);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], "新文件生成失败，失败号为：16");
    EXPECT_TRUE(std::filesystem::exists(base->Path() + "/FileName.mdb"));
    EXPECT_FALSE(std::filesystem::exists(base->Path() + "/Other.mdb"));
}

TEST_F(FileListTest, PressingRenameOnAnEmptyListDoesNothing)
{
    Start();
    Rename("a", "b", true);
    EXPECT_TRUE(notices.empty());
    EXPECT_TRUE(errors.empty());
}

TEST_F(FileListTest, TheChosenDirectoryGoesIntoTheFieldAndASearchListsIt)
{
    Start();
    Touch("pick.txt");
    TSelectDirDlg::SetNextResult(true, work->Path());
    QTest::mouseClick(form->Controls().Button1, Qt::LeftButton);
    TSelectDirDlg::ClearTestHooks();
    EXPECT_EQ(form->Controls().Edit1->text().toStdString(), work->Path());
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(work->Path()));
    Type(form->Controls().Edit2, "pick");
    QTest::mouseClick(form->Controls().SpeedButton1, Qt::LeftButton);
    EXPECT_EQ(Live(), std::vector<std::string>{"pick.txt"});

    // A cancelled chooser leaves the field as it was.
    TSelectDirDlg::SetNextResult(false);
    QTest::mouseClick(form->Controls().Button1, Qt::LeftButton);
    TSelectDirDlg::ClearTestHooks();
    EXPECT_EQ(form->Controls().Edit1->text().toStdString(), work->Path());
}

TEST_F(FileListTest, TheGridFooterCountsTheListThroughSearchAndRename)
{
    Start();
    EXPECT_EQ(FooterCount(), "0");
    for (int i = 0; i < 25; ++i) {
        std::string name = "n";
        name += std::to_string(i);
        name += ".dat";
        Touch(name);
    }
    Search(work->Path(), ".dat");
    EXPECT_EQ(FooterCount(), "25");
    Rename(".dat", ".bak", true);
    EXPECT_EQ(notices, std::vector<std::string>{"文件名称修改成功"});
    EXPECT_EQ(FooterCount(), "0");
    EXPECT_TRUE(Exists("n24.bak"));
}

// A search whose database's disk fills while its rows are committed keeps
// the rows written before the first that does not fit, over the old list,
// and shows the engine's error once; the old list is not switched off and
// the grid is not refreshed, and once refreshed it shows what the table holds.
TEST_F(FileListTest, ASearchOnAFillingDiskKeepsTheRowsBeforeTheFullDiskAndShowsTheErrorOnce)
{
    test::TFullDiskVfs disk;
    for (int i = 0; i < 40; ++i)
        Touch(Numbered("old", i, ".o"));
    for (int i = 0; i < 3000; ++i)
        Touch(Numbered("IMG_", 100000 + i, ".k"));
    std::vector<std::string> matches;
    ASSERT_EQ(TDirectoryListing::ReadAll(work->Path(), matches), 0);
    std::erase_if(matches, [](const std::string& name) { return !NameMatches(name, ".k"); });
    Start();
    Search(work->Path(), ".o");
    ASSERT_EQ(GridRows(), 40);

    test::TFullDiskVfs::SetRoom(64 * 1024);
    Search(work->Path(), ".k");
    test::TFullDiskVfs::SetRoom(-1);
    EXPECT_EQ(errors, std::vector<std::string>{"database or disk is full."});
    EXPECT_TRUE(notices.empty());
    const std::vector<Row> rows = Table();
    size_t written = 0;
    while (written < rows.size() && rows[written].name.ends_with(".k"))
        ++written;
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, matches.size());
    for (size_t i = 0; i < written; ++i)
        EXPECT_EQ(rows[i], (Row{static_cast<int>(i) + 1, matches[i], true}));
    // The old rows not overwritten stay live.
    EXPECT_EQ(rows.size(), std::max<size_t>(written, 40));
    for (size_t i = written; i < rows.size(); ++i)
        EXPECT_TRUE(rows[i].enabled);
    EXPECT_EQ(GridRows(), 40);
    form->RefreshFileList();
    EXPECT_EQ(GridRows(), static_cast<int>(Live().size()));
}
