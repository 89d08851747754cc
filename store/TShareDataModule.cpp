#include "store/TShareDataModule.h"

namespace vantelo {

TShareDataModule* ShareDataModule = nullptr;

TShareDataModule::TShareDataModule(TComponent* owner) : TComponent(owner, "ShareDataModule") {}

TShareDataModule::~TShareDataModule()
{
    if (ShareDataModule == this)
        ShareDataModule = nullptr;
}

}  // namespace vantelo
