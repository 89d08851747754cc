// The data module: the tool's one database connection and the scratch
// queries through which the list reset and the search write the file-list
// table. Created second at start-up, after the main window; its components
// are made here in code with the settings the module's stored description
// gives them (the connection string naming "FileName.mdb" beside the
// process's start directory, no login prompt, shared mode, the Jet provider
// name; both queries on that connection, without SQL). Nothing connects
// until a query is given a statement.
//
// Started without a database in its start folder, the tool opens the one in
// the user's data folder instead: the connection string then names that
// file by its absolute path, so that it does not depend on the current
// directory (see TDataFolder).
#pragma once

#include "store/TComponent.h"

#include <string>

namespace vantelo {

class TADOConnection;
class TADOQuery;

class TShareDataModule : public TComponent {
public:
    // `database`: the file the connection opens; empty for the stored
    // "FileName.mdb", resolved in the current directory at the first connect.
    explicit TShareDataModule(TComponent* owner = nullptr, const std::string& database = {});
    // Destroys the queries, then the connection (which disconnects and
    // detaches any other query still naming it).
    ~TShareDataModule() override;

    TADOConnection* ADOConnection1 = nullptr;
    TADOQuery* ADOQueryTemp = nullptr;
    // Never used by the tool's code; kept as the module declares it.
    TADOQuery* ADOQueryTemp2 = nullptr;

    // The stored connection string with its data source replaced by `database`.
    static std::string ConnectionStringFor(const std::string& database);
};

// The process's data module (set by the application object at start-up).
extern TShareDataModule* ShareDataModule;

}  // namespace vantelo
