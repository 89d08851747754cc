#include "store/TDataFolder.h"

#include "store/StoreTexts.h"
#include "support/TTempDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace vantelo {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;
using TKind = TDataFolder::TKind;

std::string SourceSchema()
{
    const char* source = std::getenv("VANTELO_SOURCE_DIR");
    const std::string root = source ? source : std::string(__FILE__).substr(0, std::string(__FILE__).rfind("/tests/"));
    return root + "/resources/schema.sql";
}

// The names in a folder, sorted; empty when it does not exist.
std::vector<std::string> Names(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The columns of Tellarin in a database file, "name type" each, and its row count.
std::vector<std::string> TellarinColumns(const std::string& path, int* rows = nullptr)
{
    sqlite3* db = nullptr;
    std::vector<std::string> columns;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA table_info(Tellarin)", -1, &statement, nullptr);
        while (statement && sqlite3_step(statement) == SQLITE_ROW)
            columns.push_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, 1))) + " " +
                              reinterpret_cast<const char*>(sqlite3_column_text(statement, 2)));
        sqlite3_finalize(statement);
        if (rows) {
            sqlite3_prepare_v2(db, "SELECT count(*) FROM Tellarin", -1, &statement, nullptr);
            *rows = statement && sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int(statement, 0) : -1;
            sqlite3_finalize(statement);
        }
    }
    sqlite3_close(db);
    return columns;
}

const std::vector<std::string> kTellarin = {"FileIndex INTEGER", "FileName NVARCHAR(255)", "FileEnable BOOLEAN"};

TEST(TDataFolderTest, UserFolderFollowsXdgDataHomeThenHomeAndIgnoresRelativePaths)
{
    struct Case {
        const char* xdg;
        const char* home;
        const char* folder;
    };
    const Case cases[] = {
        {"/data", "/home/u", "/data/vantelo"},
        {"/data/", "/home/u", "/data/vantelo"},
        {"", "/home/u", "/home/u/.local/share/vantelo"},
        {"", "/home/u/", "/home/u/.local/share/vantelo"},
        {"relative/data", "/home/u", "/home/u/.local/share/vantelo"},
        {"/", "/home/u", "/vantelo"},
        {"", "", ""},
        {"relative", "also/relative", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TDataFolder::UserFolder(c.xdg, c.home), c.folder) << "xdg=" << c.xdg << " home=" << c.home;
}

TEST(TDataFolderTest, SchemaIsLookedForWhereInstalledThenInTheBuildFolder)
{
    EXPECT_EQ(TDataFolder::SchemaCandidates("/usr/bin/vantelo"),
              (std::vector<std::string>{"/usr/share/vantelo/schema.sql", "/usr/bin/share/vantelo/schema.sql"}));
    EXPECT_EQ(TDataFolder::SchemaCandidates("/src/build/vantelo"),
              (std::vector<std::string>{"/src/share/vantelo/schema.sql", "/src/build/share/vantelo/schema.sql"}));
    EXPECT_TRUE(TDataFolder::SchemaCandidates("").empty());
}

class TDataFolderChooseTest : public ::testing::Test {
protected:
    TTempDir temp_;
    std::string start_ = temp_ / "start";
    std::string xdg_ = temp_ / "xdg";
    std::string data_ = xdg_ + "/vantelo";

    void SetUp() override { fs::create_directory(start_); }
    TDataFolder::TPlaces Places(std::vector<std::string> schemas = {SourceSchema()}) const
    {
        return {start_, xdg_, temp_ / "home", std::move(schemas)};
    }
};

TEST_F(TDataFolderChooseTest, AStartFolderHoldingTheDatabaseIsKeptAndNothingIsMadeElsewhere)
{
    temp_.WriteFile("start/FileName.mdb", "whatever the user keeps");
    const auto choice = TDataFolder::Choose(Places());
    EXPECT_EQ(choice.kind, TKind::StartFolder);
    EXPECT_EQ(choice.folder, start_);
    EXPECT_FALSE(fs::exists(xdg_));
    EXPECT_EQ(temp_.ReadFile("start/FileName.mdb"), "whatever the user keeps");
}

TEST_F(TDataFolderChooseTest, AFreshAccountGetsItsDataFolderAndAnEmptyListMadeFromTheSchema)
{
    const auto choice = TDataFolder::Choose(Places({"/nowhere/schema.sql", SourceSchema()}));
    ASSERT_EQ(choice.kind, TKind::Created) << choice.problem;
    EXPECT_EQ(choice.folder, data_);
    EXPECT_TRUE(choice.problem.empty());

    int rows = -1;
    EXPECT_EQ(TellarinColumns(data_ + "/FileName.mdb", &rows), kTellarin);
    EXPECT_EQ(rows, 0);
    // Nothing beside the database: no temporary file or journal stays.
    EXPECT_EQ(Names(data_), std::vector<std::string>{"FileName.mdb"});
    // The start folder is never written to.
    EXPECT_TRUE(Names(start_).empty());
    // Folders made for the user are private, as the base folders are to be.
    struct stat st {};
    ASSERT_EQ(::stat(xdg_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(data_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(TDataFolderChooseTest, AnExistingDataFolderDatabaseIsUsedAsItIs)
{
    ASSERT_EQ(TDataFolder::Choose(Places()).kind, TKind::Created);
    test::Shell("sqlite3 '" + data_ + "/FileName.mdb' \"INSERT INTO Tellarin(FileName, FileEnable) VALUES('a', 1)\"");

    // Without a schema too: an existing database needs none.
    const auto choice = TDataFolder::Choose(Places({}));
    EXPECT_EQ(choice.kind, TKind::DataFolder);
    EXPECT_EQ(choice.folder, data_);
    int rows = -1;
    TellarinColumns(data_ + "/FileName.mdb", &rows);
    EXPECT_EQ(rows, 1);
}

TEST_F(TDataFolderChooseTest, AnyEntryNamedLikeTheDatabaseInTheDataFolderIsNeverReplaced)
{
    fs::create_directories(data_);
    fs::create_symlink(temp_ / "elsewhere.mdb", data_ + "/FileName.mdb");
    const auto choice = TDataFolder::Choose(Places());
    EXPECT_EQ(choice.kind, TKind::DataFolder);
    EXPECT_TRUE(fs::is_symlink(data_ + "/FileName.mdb"));
    EXPECT_FALSE(fs::exists(temp_ / "elsewhere.mdb"));
}

TEST_F(TDataFolderChooseTest, WithoutXdgDataHomeTheFolderLiesUnderTheHomeFolder)
{
    auto places = Places();
    places.xdgDataHome.clear();
    const auto choice = TDataFolder::Choose(places);
    ASSERT_EQ(choice.kind, TKind::Created) << choice.problem;
    EXPECT_EQ(choice.folder, temp_ / "home/.local/share/vantelo");
    EXPECT_EQ(TellarinColumns(choice.folder + "/FileName.mdb"), kTellarin);
}

TEST_F(TDataFolderChooseTest, FailuresKeepTheStartFolderLeaveNoDatabaseAndSayWhy)
{
    struct Case {
        const char* what;
        std::vector<std::string> schemas;
        const char* schemaText;  // written to temp/bad.sql when set
        const char* blocker;     // a file made where a folder is needed
        const char* problemHas;
    };
    const Case cases[] = {
        {"no schema found", {"/nowhere/schema.sql"}, nullptr, nullptr, "/nowhere/schema.sql: No such file or directory"},
        {"no schema given", {}, nullptr, nullptr, "schema.sql: No such file or directory"},
        {"empty schema", {"bad.sql"}, " \n", nullptr, "bad.sql: empty schema"},
        {"broken schema", {"bad.sql"}, "CREATE TABLE Tellarin (", nullptr, "incomplete input"},
        {"file in the way", {"schema"}, nullptr, "xdg", "/xdg: Not a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TTempDir temp;
        const std::string start = temp / "start";
        fs::create_directory(start);
        std::vector<std::string> schemas;
        for (const std::string& s : c.schemas)
            schemas.push_back(s == "bad.sql" ? temp / s : s == "schema" ? SourceSchema() : s);
        if (c.schemaText)
            temp.WriteFile("bad.sql", c.schemaText);
        if (c.blocker)
            temp.WriteFile(c.blocker, "");
        const auto choice = TDataFolder::Choose({start, temp / "xdg", temp / "home", schemas});
        EXPECT_EQ(choice.kind, TKind::Failed);
        EXPECT_EQ(choice.folder, start);
        EXPECT_NE(choice.problem.find(c.problemHas), std::string::npos) << choice.problem;
        EXPECT_TRUE(Names(start).empty());
        EXPECT_FALSE(fs::exists(temp / "xdg/vantelo/FileName.mdb"));
        if (fs::is_directory(temp / "xdg/vantelo")) {
            EXPECT_TRUE(Names(temp / "xdg/vantelo").empty()) << "a temporary file stayed";
        }
    }
}

TEST(TDataFolderCreateTest, ADatabaseMadeMeanwhileByAnotherStartIsKeptAndTheSpareRemoved)
{
    TTempDir temp;
    temp.WriteFile("FileName.mdb", "made by the other start");
    EXPECT_EQ(TDataFolder::CreateDatabase(temp.Path(), SourceSchema()), "");
    EXPECT_EQ(temp.ReadFile("FileName.mdb"), "made by the other start");
    EXPECT_EQ(Names(temp.Path()), std::vector<std::string>{"FileName.mdb"});
}

// The start-up step changes the process's folder and reads its environment;
// this restores both.
class TDataFolderEnterTest : public ::testing::Test {
protected:
    TTempDir temp_;
    std::string before_ = fs::current_path().string();
    std::string xdgBefore_;
    bool hadXdg_ = false;

    void SetUp() override
    {
        if (const char* xdg = std::getenv("XDG_DATA_HOME")) {
            hadXdg_ = true;
            xdgBefore_ = xdg;
        }
        fs::create_directory(temp_ / "start");
        ASSERT_EQ(::chdir((temp_ / "start").c_str()), 0);
    }
    void TearDown() override
    {
        ASSERT_EQ(::chdir(before_.c_str()), 0);
        if (hadXdg_)
            ::setenv("XDG_DATA_HOME", xdgBefore_.c_str(), 1);
        else
            ::unsetenv("XDG_DATA_HOME");
    }
};

// This test program lies in the build folder's tests/, so it finds the
// build folder's copy of the schema as <dir>/../share/vantelo/schema.sql.
TEST_F(TDataFolderEnterTest, StartingWithoutADatabaseEntersTheDataFolderWhereTheToolThenFindsIt)
{
    ::setenv("XDG_DATA_HOME", (temp_ / "xdg").c_str(), 1);
    const auto choice = TDataFolder::EnterForStart();
    ASSERT_EQ(choice.kind, TKind::Created) << choice.problem;
    EXPECT_EQ(fs::current_path(), fs::path(temp_ / "xdg/vantelo"));
    EXPECT_EQ(TellarinColumns("FileName.mdb"), kTellarin);
    EXPECT_TRUE(Names(temp_ / "start").empty());
}

TEST_F(TDataFolderEnterTest, StartingInAFolderWithADatabaseStaysThere)
{
    temp_.WriteFile("start/FileName.mdb", "");
    ::setenv("XDG_DATA_HOME", (temp_ / "xdg").c_str(), 1);
    EXPECT_EQ(TDataFolder::EnterForStart().kind, TKind::StartFolder);
    EXPECT_EQ(fs::current_path(), fs::path(temp_ / "start"));
    EXPECT_FALSE(fs::exists(temp_ / "xdg"));
}

TEST_F(TDataFolderEnterTest, AFailureStaysInTheStartFolderAndIsNotedOnStandardError)
{
    temp_.WriteFile("xdg", "");
    ::setenv("XDG_DATA_HOME", (temp_ / "xdg").c_str(), 1);
    ::testing::internal::CaptureStderr();
    const auto choice = TDataFolder::EnterForStart();
    const std::string noted = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(choice.kind, TKind::Failed);
    EXPECT_EQ(fs::current_path(), fs::path(temp_ / "start"));
    EXPECT_EQ(noted, "数据库创建失败：" + temp_ / "xdg" + ": Not a directory\n");
    EXPECT_STREQ(StoreTexts::kDataFolderFailed, "数据库创建失败：%s");
}

}  // namespace
}  // namespace vantelo
