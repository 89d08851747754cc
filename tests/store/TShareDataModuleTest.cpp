// The data module: its components with their stored settings, and the
// order in which it goes at shutdown.
#include "store/AdoTexts.h"
#include "store/TADOConnection.h"
#include "store/TADOQuery.h"
#include "store/TShareDataModule.h"
#include "tests/store/AdoTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

namespace vantelo {
namespace {

TEST(ShareDataModuleTest, ComponentsCarryTheirStoredSettingsAndNothingConnects)
{
    TShareDataModule module;
    EXPECT_EQ(module.Name(), "ShareDataModule");
    ASSERT_NE(module.ADOConnection1, nullptr);
    EXPECT_EQ(module.FindComponent("ADOConnection1"), module.ADOConnection1);
    EXPECT_EQ(module.FindComponent("ADOQueryTemp"), module.ADOQueryTemp);
    EXPECT_EQ(module.FindComponent("ADOQueryTemp2"), module.ADOQueryTemp2);
    const TADOConnection& connection = *module.ADOConnection1;
    EXPECT_EQ(connection.ConnectionString(),
              "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=FileName.mdb;Persist Security Info=False");
    EXPECT_EQ(connection.Provider(), "Microsoft.Jet.OLEDB.4.0");
    EXPECT_FALSE(connection.LoginPrompt());
    EXPECT_EQ(connection.Mode(), TConnectMode::cmShareDenyNone);
    EXPECT_TRUE(connection.KeepConnection());
    EXPECT_FALSE(connection.Connected());
    EXPECT_EQ(connection.OpenAttempts(), 0);
    for (const TADOQuery* query : {module.ADOQueryTemp, module.ADOQueryTemp2}) {
        EXPECT_EQ(query->Connection(), module.ADOConnection1);
        EXPECT_EQ(query->SQL().Count(), 0);
        EXPECT_FALSE(query->Active());
    }
}

TEST(ShareDataModuleTest, TheWindowsQueryIsBoundWhenTheModuleRegistersAndDetachedWhenItGoes)
{
    test::TDatabaseFolder folder;
    folder.AddRows({{"a", true}});
    TADOQuery query(nullptr, "ADOQuery1");
    TComponent::RequestReference("ShareDataModule", "ADOConnection1", [&](TComponent* connection) {
        query.SetConnection(dynamic_cast<TADOConnection*>(connection));
    });
    auto module = std::make_unique<TShareDataModule>();
    TComponent::RegisterModule(*module);
    ASSERT_EQ(query.Connection(), module->ADOConnection1);
    query.SQL().Add("Select * From Tellarin Where FileEnable = True");
    query.Open();
    module.reset();
    EXPECT_EQ(query.Connection(), nullptr);
    EXPECT_TRUE(query.Active());
    EXPECT_EQ(query.RecordCount(), 1);
    EXPECT_EQ(TComponent::PendingReferences(), 0u);
}

TEST(ShareDataModuleTest, ADatabaseGivenByItsPathIsOpenedThereWhateverTheCurrentDirectory)
{
    // A folder whose name the connection string must carry as it is.
    test::TDatabaseFolder elsewhere(false);
    const std::string folder = elsewhere.Path() + "/data; 'odd\" name ";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string database = folder + "/FileName.mdb";
    {
        test::TRawDb db(database, true);
        ASSERT_EQ(db.Exec(test::SchemaSql()), "");
        ASSERT_EQ(db.Exec("INSERT INTO Tellarin (FileName, FileEnable) VALUES ('kept', 1)"), "");
    }
    EXPECT_EQ(TADOConnection::ConnectionStringValue(TShareDataModule::ConnectionStringFor(database), "Data Source"),
              database);
    // The stored settings are kept; only the data source changes.
    EXPECT_EQ(TShareDataModule::ConnectionStringFor("FileName.mdb"), AdoTexts::kFileListConnectionString);

    TShareDataModule module(nullptr, database);
    EXPECT_EQ(module.ADOConnection1->Provider(), AdoTexts::kJetProvider);
    module.ADOQueryTemp->SQL().Add("Select * From Tellarin");
    module.ADOQueryTemp->Open();
    EXPECT_EQ(module.ADOQueryTemp->RecordCount(), 1);
    EXPECT_EQ(module.ADOConnection1->DatabasePath(), database);
    // Nothing was made in the current directory.
    EXPECT_FALSE(std::filesystem::exists(elsewhere.Path() + "/FileName.mdb"));
}

}  // namespace
}  // namespace vantelo
