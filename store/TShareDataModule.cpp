#include "store/TShareDataModule.h"

#include "store/AdoTexts.h"
#include "store/TADOConnection.h"
#include "store/TADOQuery.h"

namespace vantelo {

TShareDataModule* ShareDataModule = nullptr;

TShareDataModule::TShareDataModule(TComponent* owner) : TComponent(owner, "ShareDataModule")
{
    // In the order the stored description applies them.
    ADOConnection1 = Create<TADOConnection>(this, "ADOConnection1");
    ADOConnection1->SetConnectionString(AdoTexts::kFileListConnectionString);
    ADOConnection1->SetLoginPrompt(false);
    ADOConnection1->SetMode(TConnectMode::cmShareDenyNone);
    ADOConnection1->SetProvider(AdoTexts::kJetProvider);

    ADOQueryTemp = Create<TADOQuery>(this, "ADOQueryTemp");
    ADOQueryTemp->SetConnection(ADOConnection1);
    ADOQueryTemp2 = Create<TADOQuery>(this, "ADOQueryTemp2");
    ADOQueryTemp2->SetConnection(ADOConnection1);
}

TShareDataModule::~TShareDataModule()
{
    // Last created first: the queries go before the connection they use.
    DestroyComponents();
    if (ShareDataModule == this)
        ShareDataModule = nullptr;
}

}  // namespace vantelo
