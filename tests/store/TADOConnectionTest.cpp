// The connection over a real SQLite file: the connection string, connecting
// on demand relative to the current directory, clients, locks held by
// another process, and batches of posts.
#include "store/AdoTexts.h"
#include "store/EOleException.h"
#include "store/TADOConnection.h"
#include "store/TADOQuery.h"
#include "store/TNotice.h"
#include "tests/store/AdoTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace vantelo {
namespace {

using test::ErrorOf;
using test::TDatabaseFolder;

TEST(ADOConnectionStringTest, PairsAreParsedWithQuotesAnyKeyCaseAndUnknownKeys)
{
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(TADOConnection::ParseConnectionString(AdoTexts::kFileListConnectionString),
              (Pairs{{"Provider", "Microsoft.Jet.OLEDB.4.0"},
                     {"Data Source", "FileName.mdb"},
                     {"Persist Security Info", "False"}}));
    EXPECT_EQ(TADOConnection::ParseConnectionString(" a = 1 ;;junk; b='x;y' ; c=\"say \"\"hi\"\"\" ;d="),
              (Pairs{{"a", "1"}, {"b", "x;y"}, {"c", "say \"hi\""}, {"d", ""}}));
    struct Case {
        const char* text;
        const char* dataSource;
    } cases[] = {
        {"Data Source=FileName.mdb", "FileName.mdb"},
        {"data source = My Files.mdb ;Mode=Share Deny None", "My Files.mdb"},
        {"DATA SOURCE='semi;colon.mdb'", "semi;colon.mdb"},
        {"Provider=X;Data Source=first.mdb;Data Source=second.mdb", "second.mdb"},
        {"Provider=X;Extended Properties=\"a=b;c=d\"", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TADOConnection::ConnectionStringValue(c.text, "Data Source"), c.dataSource) << c.text;
}

TEST(ADOConnectionTest, SettingsBeforeAnyConnect)
{
    TADOConnection connection;
    EXPECT_TRUE(connection.LoginPrompt());
    EXPECT_TRUE(connection.KeepConnection());
    EXPECT_EQ(connection.Mode(), TConnectMode::cmUnknown);
    EXPECT_EQ(connection.CursorLocation(), TCursorLocation::clUseClient);
    EXPECT_EQ(connection.Provider(), "MSDASQL");
    connection.SetConnectionString(AdoTexts::kFileListConnectionString);
    EXPECT_EQ(connection.Provider(), "Microsoft.Jet.OLEDB.4.0");
    EXPECT_FALSE(connection.Connected());
    EXPECT_EQ(connection.OpenAttempts(), 0);
    EXPECT_EQ(connection.DatabasePath(), "");
}

TEST(ADOConnectionTest, AMissingFileFailsAndIsNotCreated)
{
    TDatabaseFolder folder(false);
    TADOConnection connection;
    connection.SetConnectionString(AdoTexts::kFileListConnectionString);
    EXPECT_EQ(ErrorOf([&] { connection.Open(); }), "EOleException: unable to open database file");
    EXPECT_FALSE(connection.Connected());
    EXPECT_EQ(connection.OpenAttempts(), 1);
    EXPECT_FALSE(std::filesystem::exists(folder.DatabasePath()));
    connection.SetConnectionString("Provider=Microsoft.Jet.OLEDB.4.0");
    EXPECT_EQ(ErrorOf([&] { connection.Open(); }), "EOleException: unable to open database file");
    EXPECT_EQ(connection.OpenAttempts(), 2);
}

TEST(ADOConnectionTest, AFileThatIsNoDatabaseFailsTheConnect)
{
    TDatabaseFolder folder(false);
    std::filesystem::copy_file("/etc/hostname", folder.DatabasePath());
    TADOConnection connection;
    connection.SetConnectionString(AdoTexts::kFileListConnectionString);
    EXPECT_EQ(ErrorOf([&] { connection.Open(); }), "EOleException: file is not a database");
    EXPECT_FALSE(connection.Connected());
}

std::string Bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ADOConnectionTest, AFileWithoutTheFileListIsLeftByteForByte)
{
    struct Case {
        const char* what;
        std::string schema;  // empty: a 0-byte file
    } cases[] = {
        {"0-byte file", ""},
        {"foreign database", "CREATE TABLE Other(x); INSERT INTO Other VALUES (1);"},
        {"table named like it", "CREATE TABLE TellarinOld(x);"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TDatabaseFolder folder(false);
        std::ofstream(folder.DatabasePath(), std::ios::binary).flush();
        if (!c.schema.empty()) {
            ASSERT_EQ(test::TRawDb(folder.DatabasePath()).Exec(c.schema), "");
        }
        const std::string before = Bytes(folder.DatabasePath());
        {
            TADOConnection connection;
            connection.SetConnectionString(AdoTexts::kFileListConnectionString);
            TADOQuery query;
            query.SetConnection(&connection);
            query.SQL().Add("Select * From Tellarin Where FileEnable = True");
            EXPECT_EQ(ErrorOf([&] { query.Open(); }), "EOleException: no such table: Tellarin");
            EXPECT_TRUE(connection.Connected());
        }
        const std::string after = Bytes(folder.DatabasePath());
        EXPECT_TRUE(after == before) << after.size() << " bytes, were " << before.size();
        for (const char* companion : {"-wal", "-shm", "-journal"})
            EXPECT_FALSE(std::filesystem::exists(folder.DatabasePath() + companion)) << companion;
    }
}

TEST(ADOConnectionTest, TheFileResolvesAgainstTheCurrentDirectoryWhenConnecting)
{
    TDatabaseFolder folder;
    TADOConnection connection;
    connection.SetConnectionString(AdoTexts::kFileListConnectionString);
    connection.Open();
    ASSERT_TRUE(connection.Connected());
    EXPECT_EQ(std::filesystem::canonical(connection.DatabasePath()), std::filesystem::canonical(folder.DatabasePath()));
    EXPECT_EQ(connection.DatabasePath().front(), '/');
    // Moving elsewhere afterwards does not move the connection.
    test::TTempDir elsewhere;
    ASSERT_EQ(chdir(elsewhere.Path().c_str()), 0);
    TADOQuery query;
    query.SetConnection(&connection);
    query.SQL().Add("Select * From Tellarin");
    query.Open();
    EXPECT_EQ(connection.OpenAttempts(), 1);
    ASSERT_EQ(chdir(folder.Path().c_str()), 0);

    test::TRawDb view(folder.DatabasePath());
    EXPECT_EQ(view.Scalar("PRAGMA journal_mode"), "wal");
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(connection.Handle(), "PRAGMA synchronous", -1, &statement, nullptr);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(statement, 0), 1);  // NORMAL
    sqlite3_finalize(statement);
}

TEST(ADOConnectionTest, ClientsAreToldOfConnectAndDisconnectInRegistrationOrder)
{
    TDatabaseFolder folder(false);
    // Clients outlive the connection (a client that goes unregisters first).
    TComponent first(nullptr, "first");
    TComponent second(nullptr, "second");
    TADOConnection connection;
    connection.SetConnectionString(AdoTexts::kFileListConnectionString);
    std::vector<std::string> log;
    connection.RegisterClient(&first, [&](bool on) { log.push_back(std::string("first ") + (on ? "on" : "off")); });
    connection.RegisterClient(&second, [&](bool on) { log.push_back(std::string("second ") + (on ? "on" : "off")); });
    connection.SetBeforeConnect([&](TCustomConnection&) { log.push_back("before connect"); });
    connection.SetAfterDisconnect([&](TCustomConnection&) { log.push_back("after disconnect"); });
    EXPECT_THROW(connection.Open(), EOleException);  // no file: nobody is told
    EXPECT_EQ(log, std::vector<std::string>{"before connect"});

    log.clear();
    test::TRawDb(folder.DatabasePath(), true).Exec(test::SchemaSql());
    connection.Open();
    connection.Open();  // connected already: nothing
    connection.Close();
    connection.Close();
    EXPECT_EQ(log, (std::vector<std::string>{"before connect", "first on", "second on", "first off", "second off",
                                             "after disconnect"}));
    connection.UnRegisterClient(&first);
    EXPECT_EQ(connection.ClientCount(), 1u);
}

TEST(ADOConnectionTest, WithoutKeepConnectionTheLastClosingQueryDisconnects)
{
    TDatabaseFolder folder;
    TADOConnection connection;
    connection.SetConnectionString(AdoTexts::kFileListConnectionString);
    TADOQuery a, b;
    a.SetConnection(&connection);
    b.SetConnection(&connection);
    a.SQL().Add("Select * From Tellarin");
    b.SQL().Add("Select * From Tellarin");
    a.Open();
    b.Open();
    a.Close();
    EXPECT_TRUE(connection.Connected());  // kept by default
    connection.SetKeepConnection(false);
    a.Open();
    a.Close();
    EXPECT_TRUE(connection.Connected());  // b is still open
    b.Close();
    EXPECT_FALSE(connection.Connected());
}

TEST(ADOConnectionTest, DestroyingTheConnectionDetachesItsQueries)
{
    TDatabaseFolder folder;
    folder.AddRows({{"a", true}});
    TADOQuery query(nullptr, "ADOQuery1");
    {
        TADOConnection connection;
        connection.SetConnectionString(AdoTexts::kFileListConnectionString);
        query.SetConnection(&connection);
        query.SQL().Add("Select * From Tellarin");
        query.Open();
    }
    EXPECT_EQ(query.Connection(), nullptr);
    EXPECT_EQ(query.Command().Connection(), nullptr);
    // The rows stay readable; writing needs the connection.
    ASSERT_TRUE(query.Active());
    EXPECT_EQ(query.FieldByName("FileName").AsString(), "a");
    query.Edit();
    query.FieldByName("FileEnable").SetAsBoolean(false);
    EXPECT_EQ(ErrorOf([&] { query.Post(); }), "EDatabaseError: Operation is not allowed when the object is closed");
    query.Cancel();
}

class ADOConnectionLockTest : public ::testing::Test {
protected:
    ADOConnectionLockTest()
    {
        folder.AddRows({{"a", true}, {"b", true}});
        connection.SetConnectionString(AdoTexts::kFileListConnectionString);
        connection.SetBusyTimeout(150);
        query.SetConnection(&connection);
        query.SQL().Add("Select * From Tellarin");
        query.Open();
    }

    TDatabaseFolder folder;
    TADOConnection connection;
    TADOQuery query{nullptr, "ADOQueryTemp"};
};

TEST_F(ADOConnectionLockTest, AWriteLockHeldElsewhereGivesAnErrorAfterTheTimeoutAndLosesNothing)
{
    auto holder = folder.Open();
    ASSERT_EQ(holder->Exec("BEGIN IMMEDIATE; UPDATE Tellarin SET FileName = 'held' WHERE FileIndex = 2"), "");
    query.Edit();
    query.FieldByName("FileName").SetAsString("mine");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorOf([&] { query.Post(); }), "EDatabaseError: database is locked");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(query.State(), TDataSetState::Edit);
    EXPECT_FALSE(connection.InTransaction());

    // Reading still works while the other one writes.
    TADOQuery reader;
    reader.SetConnection(&connection);
    reader.SQL().Add("Select * From Tellarin");
    reader.Open();
    EXPECT_EQ(reader.RecordCount(), 2);

    ASSERT_EQ(holder->Exec("COMMIT"), "");
    query.Post();
    auto view = folder.Open();
    EXPECT_EQ(view->Column("SELECT FileName FROM Tellarin ORDER BY FileIndex"),
              (std::vector<std::string>{"mine", "held"}));
    EXPECT_EQ(view->Scalar("PRAGMA integrity_check"), "ok");
}

TEST_F(ADOConnectionLockTest, ABatchCommitsOnceAtItsOutermostEnd)
{
    auto view = folder.Open();
    connection.BeginBatch();
    connection.BeginBatch();
    query.Edit();
    query.FieldByName("FileName").SetAsString("x");
    query.Post();
    EXPECT_TRUE(connection.InTransaction());
    EXPECT_EQ(view->Scalar("SELECT FileName FROM Tellarin WHERE FileIndex = 1"), "a");
    connection.CommitBatch();
    EXPECT_TRUE(connection.InTransaction());
    EXPECT_TRUE(connection.EndBatch());  // the form for destructors: same effect, never raises
    EXPECT_FALSE(connection.InTransaction());
    EXPECT_EQ(view->Scalar("SELECT FileName FROM Tellarin WHERE FileIndex = 1"), "x");
    connection.CommitBatch();  // unbalanced: ignored
    EXPECT_EQ(connection.BatchDepth(), 0);
}

TEST_F(ADOConnectionLockTest, RowsPostedBeforeAFailingPostInABatchSurvive)
{
    auto view = folder.Open();
    ASSERT_EQ(view->Exec("CREATE TRIGGER NoBad BEFORE INSERT ON Tellarin WHEN NEW.FileName = 'bad' "
                         "BEGIN SELECT RAISE(ABORT, 'bad name'); END"),
              "");
    connection.BeginBatch();
    query.Edit();
    query.FieldByName("FileName").SetAsString("first");
    query.Post();
    query.Last();
    query.Next();
    query.Insert();
    query.FieldByName("FileName").SetAsString("second");
    query.Post();
    query.Next();
    query.Insert();
    query.FieldByName("FileName").SetAsString("bad");
    EXPECT_EQ(ErrorOf([&] { query.Post(); }), "EDatabaseError: bad name");
    // Written before anyone is told.
    EXPECT_EQ(view->Column("SELECT FileName FROM Tellarin ORDER BY FileIndex"),
              (std::vector<std::string>{"first", "b", "second"}));
    query.FieldByName("FileName").SetAsString("third");
    query.Post();
    EXPECT_TRUE(connection.InTransaction());
    EXPECT_EQ(view->Scalar("SELECT count(*) FROM Tellarin"), "3");
    // What a box commits before it shows.
    std::string seen;
    SetNoticeHandler([&](const std::string& text) {
        seen = text + " " + view->Scalar("SELECT count(*) FROM Tellarin");
    });
    ShowStoreNotice("shown");
    SetNoticeHandler(nullptr);
    EXPECT_EQ(seen, "shown 4");
    EXPECT_FALSE(connection.InTransaction());
    EXPECT_EQ(connection.BatchDepth(), 1);
    connection.CommitBatch();
    EXPECT_EQ(view->Scalar("PRAGMA integrity_check"), "ok");
}

}  // namespace
}  // namespace vantelo
