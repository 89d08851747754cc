#include "store/TDataFolder.h"

#include "store/StoreTexts.h"
#include "support/TTempDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
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

// "name type" of each column of Tellarin, then "rows=<count>"; empty when
// the file holds no such table.
std::vector<std::string> Tellarin(const std::string& path)
{
    std::vector<std::string> seen;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_exec(db, "SELECT name || ' ' || type FROM pragma_table_info('Tellarin');"
                         "SELECT 'rows=' || count(*) FROM Tellarin",
                     [](void* out, int, char** values, char**) {
                         static_cast<std::vector<std::string>*>(out)->push_back(values[0]);
                         return 0;
                     },
                     &seen, nullptr);
    }
    sqlite3_close(db);
    return seen;
}

const std::vector<std::string> kEmptyList = {"FileIndex INTEGER", "FileName NVARCHAR(255)", "FileEnable BOOLEAN",
                                             "rows=0"};

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
    std::string data_ = temp_ / "xdg/vantelo";

    void SetUp() override { fs::create_directory(start_); }
    TDataFolder::TPlaces Places(std::vector<std::string> schemas = {SourceSchema()}) const
    {
        return {start_, temp_ / "xdg", temp_ / "home", std::move(schemas)};
    }
};

TEST_F(TDataFolderChooseTest, AStartFolderHoldingTheDatabaseIsKeptAndNothingIsMadeElsewhere)
{
    temp_.WriteFile("start/FileName.mdb", "whatever the user keeps");
    const auto choice = TDataFolder::Choose(Places());
    EXPECT_EQ(choice.kind, TKind::StartFolder);
    EXPECT_EQ(choice.folder, start_);
    EXPECT_EQ(choice.database, "FileName.mdb");  // resolved in the start folder, as always
    EXPECT_FALSE(fs::exists(temp_ / "xdg"));
    EXPECT_EQ(temp_.ReadFile("start/FileName.mdb"), "whatever the user keeps");
}

TEST_F(TDataFolderChooseTest, AFreshAccountGetsAPrivateDataFolderWithAnEmptyListAndTheSecondStartKeepsIt)
{
    const auto choice = TDataFolder::Choose(Places({"/nowhere/schema.sql", SourceSchema()}));
    ASSERT_EQ(choice.kind, TKind::Created) << choice.problem;
    EXPECT_EQ(choice.folder, data_);
    EXPECT_EQ(choice.database, data_ + "/FileName.mdb");
    EXPECT_EQ(Tellarin(data_ + "/FileName.mdb"), kEmptyList);
    // No temporary file or journal stays beside it, and the start folder is never written to.
    EXPECT_EQ(Names(data_), std::vector<std::string>{"FileName.mdb"});
    EXPECT_TRUE(Names(start_).empty());
    for (const std::string& folder : {temp_ / "xdg", data_}) {
        struct stat st {};
        ASSERT_EQ(::stat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
    }

    // The second start uses what is there, and needs no schema for it.
    test::Shell("sqlite3 '" + data_ + "/FileName.mdb' \"INSERT INTO Tellarin(FileName, FileEnable) VALUES('a', 1)\"");
    const auto again = TDataFolder::Choose(Places({}));
    EXPECT_EQ(again.kind, TKind::DataFolder);
    EXPECT_EQ(again.folder, data_);
    EXPECT_EQ(again.database, data_ + "/FileName.mdb");
    EXPECT_EQ(Tellarin(data_ + "/FileName.mdb").back(), "rows=1");
}

TEST_F(TDataFolderChooseTest, AnyEntryNamedLikeTheDatabaseInTheDataFolderIsNeverReplaced)
{
    fs::create_directories(data_);
    fs::create_symlink(temp_ / "elsewhere.mdb", data_ + "/FileName.mdb");
    EXPECT_EQ(TDataFolder::Choose(Places()).kind, TKind::DataFolder);
    EXPECT_TRUE(fs::is_symlink(data_ + "/FileName.mdb"));
    EXPECT_FALSE(fs::exists(temp_ / "elsewhere.mdb"));
}

TEST_F(TDataFolderChooseTest, FailuresKeepTheStartFoldersNameMakeNothingAndSayWhy)
{
    struct Case {
        const char* what;
        std::vector<std::string> schemas;  // "bad.sql" stands for temp/bad.sql
        const char* badSchema;             // the text of bad.sql when set
        bool fileInTheWay;                 // a file where the data folder's parent should be
        bool parentThere;                  // the data folder's parent exists beforehand
        const char* problemHas;
    };
    const Case cases[] = {
        {"no schema found", {"/nowhere/schema.sql"}, nullptr, false, false,
         "/nowhere/schema.sql: No such file or directory"},
        {"no schema given", {}, nullptr, false, false, "schema.sql: No such file or directory"},
        {"empty schema", {"bad.sql"}, " \n", false, false, "bad.sql: empty schema"},
        {"broken schema", {"bad.sql"}, "CREATE TABLE Tellarin (", false, false, "incomplete input"},
        {"broken schema, parent kept", {"bad.sql"}, "CREATE TABLE Tellarin (", false, true, "incomplete input"},
        {"file in the way", {SourceSchema()}, nullptr, true, false, "/xdg: Not a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TTempDir temp;
        const std::string start = temp / "start";
        fs::create_directory(start);
        std::vector<std::string> schemas = c.schemas;
        std::replace(schemas.begin(), schemas.end(), std::string("bad.sql"), temp / "bad.sql");
        if (c.badSchema)
            temp.WriteFile("bad.sql", c.badSchema);
        if (c.fileInTheWay)
            temp.WriteFile("xdg", "");
        if (c.parentThere)
            fs::create_directory(temp / "xdg");
        const auto choice = TDataFolder::Choose({start, temp / "xdg", temp / "home", schemas});
        EXPECT_EQ(choice.kind, TKind::Failed);
        EXPECT_EQ(choice.folder, start);
        EXPECT_EQ(choice.database, "FileName.mdb");
        EXPECT_NE(choice.problem.find(c.problemHas), std::string::npos) << choice.problem;
        EXPECT_TRUE(Names(start).empty());
        // No folder, database or temporary file stays; what was there stays.
        EXPECT_EQ(fs::exists(temp / "xdg"), c.fileInTheWay || c.parentThere);
        EXPECT_FALSE(fs::exists(temp / "xdg/vantelo"));
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

// The start-up step as the program runs it: this process's folder, its
// environment, and the schema found from this test program's place in the
// build folder (tests/../share/vantelo/schema.sql).
TEST(TDataFolderStartTest, WithoutADatabaseTheDataFoldersIsNamedByPathAndTheProcessStaysWhereItStarted)
{
    TTempDir temp;
    const fs::path before = fs::current_path();
    const bool hadXdg = std::getenv("XDG_DATA_HOME") != nullptr;
    const std::string keptXdg = hadXdg ? std::getenv("XDG_DATA_HOME") : "";
    fs::create_directory(temp / "start");
    ASSERT_EQ(::chdir((temp / "start").c_str()), 0);

    ::setenv("XDG_DATA_HOME", (temp / "xdg").c_str(), 1);
    const auto choice = TDataFolder::ChooseForStart();
    EXPECT_EQ(choice.kind, TKind::Created) << choice.problem;
    EXPECT_EQ(choice.database, temp / "xdg/vantelo/FileName.mdb");
    EXPECT_EQ(fs::current_path(), fs::path(temp / "start"));
    EXPECT_EQ(Tellarin(choice.database), kEmptyList);
    EXPECT_TRUE(Names(temp / "start").empty());

    temp.WriteFile("start/blocker", "");
    ::setenv("XDG_DATA_HOME", (temp / "start/blocker").c_str(), 1);
    ::testing::internal::CaptureStderr();
    const auto failed = TDataFolder::ChooseForStart();
    const std::string noted = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(failed.kind, TKind::Failed);
    EXPECT_EQ(failed.database, "FileName.mdb");
    EXPECT_EQ(fs::current_path(), fs::path(temp / "start"));
    EXPECT_EQ(noted, "数据库创建失败：" + temp / "start/blocker" + ": Not a directory\n");
    EXPECT_STREQ(StoreTexts::kDataFolderFailed, "数据库创建失败：%s");

    ASSERT_EQ(::chdir(before.c_str()), 0);
    if (hadXdg)
        ::setenv("XDG_DATA_HOME", keptXdg.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace vantelo
