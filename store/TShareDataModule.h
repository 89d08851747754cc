// The data module: the tool's one database connection and the scratch
// queries through which the list reset and the search write the file-list
// table. Created second at start-up, after the main window; its components
// are made here in code with the settings the module's stored description
// gives them (the connection string naming "FileName.mdb" beside the
// process's start directory, no login prompt, shared mode, the Jet provider
// name; both queries on that connection, without SQL). Nothing connects
// until a query is given a statement.
#pragma once

#include "store/TComponent.h"

namespace vantelo {

class TADOConnection;
class TADOQuery;

class TShareDataModule : public TComponent {
public:
    explicit TShareDataModule(TComponent* owner = nullptr);
    // Destroys the queries, then the connection (which disconnects and
    // detaches any other query still naming it).
    ~TShareDataModule() override;

    TADOConnection* ADOConnection1 = nullptr;
    TADOQuery* ADOQueryTemp = nullptr;
    // Never used by the tool's code; kept as the module declares it.
    TADOQuery* ADOQueryTemp2 = nullptr;
};

// The process's data module (set by the application object at start-up).
extern TShareDataModule* ShareDataModule;

}  // namespace vantelo
