// The query routine on the data module's queries: connects on demand, shows
// its failure text through the notice handler, and the file-list rules
// written through the scratch query.
#include "store/OpenQuery.h"
#include "store/TADOConnection.h"
#include "store/TADOQuery.h"
#include "store/TNotice.h"
#include "store/TShareDataModule.h"
#include "tests/store/AdoTestSupport.h"

#include <gtest/gtest.h>

namespace vantelo {
namespace {

using test::TDatabaseFolder;

constexpr const char* kFailed = "数据库打开失败";
constexpr const char* kLive = "Select * From Tellarin Where FileEnable = True";
constexpr const char* kAll = "Select * From Tellarin";

class OpenQueryTest : public ::testing::Test {
protected:
    explicit OpenQueryTest(bool withDatabase = true) : folder(withDatabase)
    {
        SetNoticeHandler([this](const std::string& text) { notices.push_back(text); });
        module = std::make_unique<TShareDataModule>();
    }
    ~OpenQueryTest() override
    {
        module.reset();
        SetNoticeHandler(nullptr);
    }

    TADOConnection& Connection() { return *module->ADOConnection1; }
    TADOQuery& Temp() { return *module->ADOQueryTemp; }

    // The search's slot rule: overwrite rows in table order, append past the
    // end, switch the rest off.
    void WriteMatches(const std::vector<std::string>& names)
    {
        TADOQuery& temp = Temp();
        ASSERT_TRUE(OpenQuery(temp, kAll, kFailed));
        for (const std::string& name : names) {
            if (temp.Eof())
                temp.Insert();
            else
                temp.Edit();
            temp.FieldByName("FileName").SetAsString(name);
            temp.FieldByName("FileEnable").SetAsBoolean(true);
            temp.Post();
            temp.Next();
        }
        while (!temp.Eof()) {
            temp.Edit();
            temp.FieldByName("FileEnable").SetAsBoolean(false);
            temp.Post();
            temp.Next();
        }
    }

    std::vector<std::string> Table()
    {
        return folder.Open()->Column(
            "SELECT FileIndex || ':' || FileName || ':' || FileEnable FROM Tellarin ORDER BY FileIndex");
    }

    TDatabaseFolder folder;
    std::vector<std::string> notices;
    std::unique_ptr<TShareDataModule> module;
};

class OpenQueryMissingFileTest : public OpenQueryTest {
protected:
    OpenQueryMissingFileTest() : OpenQueryTest(false) {}
};

TEST_F(OpenQueryMissingFileTest, EachCallTriesToConnectTwiceShowsTheFailureAndStaysClosed)
{
    for (int call = 1; call <= 2; ++call) {
        EXPECT_FALSE(OpenQuery(Temp(), kLive, kFailed));
        EXPECT_EQ(Connection().OpenAttempts(), 2 * call);
        EXPECT_EQ(notices, std::vector<std::string>(static_cast<size_t>(call), kFailed));
        EXPECT_FALSE(Temp().Active());
        EXPECT_FALSE(Connection().Connected());
    }
    // The file appears: the next call connects.
    test::TRawDb(folder.DatabasePath(), true).Exec(test::SchemaSql());
    EXPECT_TRUE(OpenQuery(Temp(), kLive, kFailed));
    EXPECT_EQ(Connection().OpenAttempts(), 5);
    EXPECT_EQ(notices.size(), 2u);
}

TEST_F(OpenQueryTest, TheConnectionOpensOnceWhileTheFirstStatementIsGiven)
{
    TADOQuery& temp = Temp();
    temp.SQL().Clear();
    EXPECT_EQ(Connection().OpenAttempts(), 0);  // an empty text connects nothing
    temp.SQL().Add(kLive);
    EXPECT_TRUE(Connection().Connected());
    EXPECT_EQ(Connection().OpenAttempts(), 1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(OpenQuery(temp, kLive, kFailed));
        EXPECT_TRUE(OpenQuery(*module->ADOQueryTemp2, kAll, kFailed));
    }
    EXPECT_EQ(Connection().OpenAttempts(), 1);
    EXPECT_TRUE(notices.empty());
    EXPECT_TRUE(temp.Active());
    EXPECT_TRUE(temp.Eof());
    EXPECT_EQ(temp.Command().CommandText(), std::string(kLive) + "\r\n");
}

TEST_F(OpenQueryTest, AnyOpenFailureShowsTheCallersTextAndLeavesTheQueryClosed)
{
    ASSERT_TRUE(OpenQuery(Temp(), kAll, kFailed));
    for (const char* bad : {"Select * From Missing", "Selec nothing", "Update Tellarin Set FileEnable = 0", ""}) {
        EXPECT_FALSE(OpenQuery(Temp(), bad, kFailed)) << bad;
        EXPECT_FALSE(Temp().Active()) << bad;
    }
    EXPECT_EQ(notices, std::vector<std::string>(4, kFailed));
    // A locked file ends the same way (another process holds it exclusively).
    Connection().Close();
    auto holder = folder.Open();
    ASSERT_EQ(holder->Exec("PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE"), "");
    TShareDataModule late;
    late.ADOConnection1->SetBusyTimeout(50);
    EXPECT_FALSE(OpenQuery(*late.ADOQueryTemp, kAll, kFailed));
    EXPECT_EQ(notices.size(), 5u);
}

TEST_F(OpenQueryTest, SlotsAreReusedInTableOrderAndTheRestSwitchedOff)
{
    WriteMatches({"a.txt", "b.txt", "c.txt"});
    EXPECT_EQ(Table(), (std::vector<std::string>{"1:a.txt:1", "2:b.txt:1", "3:c.txt:1"}));
    WriteMatches({"d.txt"});
    EXPECT_EQ(Table(), (std::vector<std::string>{"1:d.txt:1", "2:b.txt:0", "3:c.txt:0"}));

    TADOQuery live(nullptr, "ADOQuery1");
    live.SetConnection(&Connection());
    ASSERT_TRUE(OpenQuery(live, kLive, kFailed));
    EXPECT_EQ(live.RecordCount(), 1);
    EXPECT_EQ(live.FieldByName("FileIndex").AsString(), "1");
    EXPECT_EQ(live.FieldByName("FileName").AsString(), "d.txt");

    WriteMatches({"e", "f", "g", "h"});
    EXPECT_EQ(Table(), (std::vector<std::string>{"1:e:1", "2:f:1", "3:g:1", "4:h:1"}));
    WriteMatches({});
    EXPECT_EQ(Table(), (std::vector<std::string>{"1:e:0", "2:f:0", "3:g:0", "4:h:0"}));
    EXPECT_TRUE(notices.empty());
}

}  // namespace
}  // namespace vantelo
