#include "store/TShareDataModule.h"

#include "store/AdoTexts.h"
#include "store/TADOConnection.h"
#include "store/TADOQuery.h"

namespace vantelo {

TShareDataModule* ShareDataModule = nullptr;

TShareDataModule::TShareDataModule(TComponent* owner, const std::string& database)
    : TComponent(owner, "ShareDataModule")
{
    // In the order the stored description applies them.
    ADOConnection1 = Create<TADOConnection>(this, "ADOConnection1");
    ADOConnection1->SetConnectionString(database.empty() ? std::string(AdoTexts::kFileListConnectionString)
                                                         : ConnectionStringFor(database));
    ADOConnection1->SetLoginPrompt(false);
    ADOConnection1->SetMode(TConnectMode::cmShareDenyNone);
    ADOConnection1->SetProvider(AdoTexts::kJetProvider);

    ADOQueryTemp = Create<TADOQuery>(this, "ADOQueryTemp");
    ADOQueryTemp->SetConnection(ADOConnection1);
    ADOQueryTemp2 = Create<TADOQuery>(this, "ADOQueryTemp2");
    ADOQueryTemp2->SetConnection(ADOConnection1);
}

std::string TShareDataModule::ConnectionStringFor(const std::string& database)
{
    std::string text;
    for (const auto& [key, value] : TADOConnection::ParseConnectionString(AdoTexts::kFileListConnectionString)) {
        if (!text.empty())
            text += ';';
        text += key + '=' + (key == "Data Source" ? TADOConnection::QuotedValue(database) : value);
    }
    return text;
}

TShareDataModule::~TShareDataModule()
{
    // Last created first: the queries go before the connection they use.
    DestroyComponents();
    if (ShareDataModule == this)
        ShareDataModule = nullptr;
}

}  // namespace vantelo
