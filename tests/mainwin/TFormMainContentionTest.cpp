// The file list while another process uses the same database: a held write
// lock surfaces as a clear error with nothing lost or corrupted, and rows
// another process commits are seen at the next refresh.
#include <gtest/gtest.h>

#include "FileListFixture.h"
#include "mainwin/TListRows.h"
#include "ui_FormMain.h"  // generated for this target from resources/FormMain.ui

namespace {

// A second connection to FileName.mdb, as another process would hold it.
class OtherProcess {
public:
    explicit OtherProcess(const std::string& path) { sqlite3_open(path.c_str(), &db_); }
    ~OtherProcess() { sqlite3_close(db_); }
    int Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }
    std::string IntegrityCheck()
    {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db_, "PRAGMA integrity_check", -1, &statement, nullptr);
        std::string result = sqlite3_step(statement) == SQLITE_ROW
                                 ? reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))
                                 : "no answer";
        sqlite3_finalize(statement);
        return result;
    }

private:
    sqlite3* db_ = nullptr;
};

class ContentionTest : public FileListFixture {
protected:
    std::string DatabasePath() const { return base->Path() + "/FileName.mdb"; }
    // Every original content is still there under its old or its new name.
    void ExpectNothingLost(const std::map<std::string, std::string>& originals, const std::string& from,
                           const std::string& to)
    {
        for (const auto& [name, content] : originals) {
            std::string renamed = name;
            renamed.replace(renamed.find(from), from.size(), to);
            const bool old = Exists(name) && work->ReadFile(name) == content;
            const bool made = Exists(renamed) && work->ReadFile(renamed) == content;
            EXPECT_TRUE(old || made) << name;
        }
    }
};

}  // namespace

TEST_F(ContentionTest, AWriteLockHeldElsewhereStopsTheSearchWithAClearErrorAndChangesNothing)
{
    Start(100);
    Touch("a1");
    Touch("a2");
    OtherProcess other(DatabasePath());
    ASSERT_EQ(other.Exec("BEGIN IMMEDIATE"), SQLITE_OK);
    Search(work->Path(), "a");
    EXPECT_EQ(errors, std::vector<std::string>{"database is locked."});
    other.Exec("ROLLBACK");
    EXPECT_TRUE(Table().empty());
    EXPECT_EQ(other.IntegrityCheck(), "ok");

    // Once the other process lets go, the same search works.
    errors.clear();
    Search(work->Path(), "a");
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(Live().size(), 2u);
}

TEST_F(ContentionTest, AWriteLockHeldElsewhereDuringTheRenameLosesNoFile)
{
    Start(100);
    // A short list is switched off after the batch, a long one during it.
    for (const size_t count : {size_t{5}, TListRows::kLongList + 100}) {
        const std::string from = "doc" + std::to_string(count) + "_", to = "note" + std::to_string(count) + "_";
        std::map<std::string, std::string> originals;
        for (size_t i = 0; i < count; ++i) {
            const std::string name = from + std::to_string(i) + ".txt";
            originals[name] = "content " + std::to_string(i);
            Touch(name, originals[name]);
        }
        Search(work->Path(), from);
        ASSERT_EQ(Live().size(), count);
        errors.clear();
        OtherProcess other(DatabasePath());
        ASSERT_EQ(other.Exec("BEGIN IMMEDIATE"), SQLITE_OK);
        Rename(from, to, true);
        EXPECT_EQ(errors, std::vector<std::string>{"database is locked."}) << count;
        EXPECT_TRUE(notices.empty()) << count;  // no success reported
        other.Exec("ROLLBACK");
        ExpectNothingLost(originals, from, to);
        EXPECT_EQ(other.IntegrityCheck(), "ok");
        // The rows the failed pass could not switch off are still live.
        EXPECT_EQ(Live().size(), count);
    }
}

TEST_F(ContentionTest, RowsAnotherProcessCommitsAreSeenAtTheNextRefresh)
{
    Start();
    Touch("x1");
    Search(work->Path(), "x");
    OtherProcess other(DatabasePath());
    ASSERT_EQ(other.Exec("INSERT INTO Tellarin(FileName, FileEnable) VALUES ('foreign', 1)"), SQLITE_OK);
    // The open query keeps its own rows: the rename acts on what the grid shows.
    EXPECT_EQ(GridRows(), 1);
    Rename("x", "y", false);
    EXPECT_EQ(notices, std::vector<std::string>{"文件名称修改成功"});
    EXPECT_TRUE(Exists("y1"));
    EXPECT_EQ(GridRows(), 1);  // the foreign live row, seen after the refresh
    EXPECT_EQ(Live(), std::vector<std::string>{"foreign"});
    EXPECT_EQ(other.IntegrityCheck(), "ok");
}
