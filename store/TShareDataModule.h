// The data module: the tool's one database connection and the scratch
// queries through which the list reset and the search write the file-list
// table. Created second at start-up, after the main window.
#pragma once

#include "store/TComponent.h"

namespace vantelo {

class TShareDataModule : public TComponent {
public:
    explicit TShareDataModule(TComponent* owner = nullptr);
    ~TShareDataModule() override;
};

// The process's data module (set by the application object at start-up).
extern TShareDataModule* ShareDataModule;

}  // namespace vantelo
