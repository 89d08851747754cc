// The statement side of a query: its text, the connection it runs on, its
// parameter markers, and the uses for which it holds the connection (open:
// while its query is open; parameters: while the engine is asked about the
// statement's parameters). Marking the first use attaches the command to
// its connection, connecting it when needed; clearing the last lets the
// connection decide whether to disconnect.
#pragma once

#include "store/TComponent.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vantelo {

class TADOConnection;

enum class TCommandType {
    cmdUnknown = 8,
    cmdText = 1,
    cmdTable = 2,
    cmdStoredProc = 4,
    cmdFile = 256,
    cmdTableDirect = 512,
};

class TADOCommand : public TComponent {
public:
    enum class TConnectionUse : unsigned { Open = 1, Parameters = 2 };

    explicit TADOCommand(TComponent* owner = nullptr, std::string name = {});
    ~TADOCommand() override;

    TADOConnection* Connection() const { return connection_; }
    // Registers the command as a client of connection (null: none). The
    // attachment to the previous connection is dropped.
    void SetConnection(TADOConnection* connection);
    // A connection string of the command's own (empty in the tool): used
    // instead of a connection component, through a private connection.
    const std::string& ConnectionString() const { return connectionString_; }
    void SetConnectionString(std::string text) { connectionString_ = std::move(text); }

    const std::string& CommandText() const { return commandText_; }
    // Stores the text when it differs. A non-empty text with parameter
    // checking on is scanned for ":name" markers (outside quotes and
    // comments), each replaced by "?" in the text given to the engine; with
    // a connection the engine is then asked about the statement (connecting
    // when needed), and any error of that, a failed connect included, is
    // dropped. An empty text clears the parameters.
    void SetCommandText(std::string text);
    // The text as given to the engine.
    const std::string& EngineText() const { return engineText_; }
    TCommandType CommandType() const { return commandType_; }
    void SetCommandType(TCommandType type) { commandType_ = type; }
    bool ParamCheck() const { return paramCheck_; }
    void SetParamCheck(bool check) { paramCheck_ = check; }
    // The names of the markers found (values are not supported: each
    // marker is bound Null).
    const std::vector<std::string>& Parameters() const { return parameters_; }
    // The name of the text property in messages ("CommandText"; "SQL" for a query).
    const std::string& CommandTextAlias() const { return commandTextAlias_; }
    void SetCommandTextAlias(std::string alias) { commandTextAlias_ = std::move(alias); }

    // The connection the command is attached to, or null.
    TADOConnection* ActiveConnection() const { return activeConnection_; }
    // Marks a use: the first one attaches (raising "Missing Connection or
    // ConnectionString" without any connection, or the connect's error).
    // Clearing the last use runs the connection's check disconnect.
    void SetConnectionFlag(TConnectionUse use, bool on);
    bool HasConnectionFlag(TConnectionUse use) const { return (flags_ & static_cast<unsigned>(use)) != 0; }

    // The text with every ":name" marker outside quotes and comments
    // replaced by "?"; names (when given) receives the marker names.
    static std::string ScanParameters(std::string_view text, std::vector<std::string>* names);

private:
    void Attach();

    TADOConnection* connection_ = nullptr;
    TADOConnection* activeConnection_ = nullptr;
    std::unique_ptr<TADOConnection> ownConnection_;
    std::string connectionString_;
    std::string commandText_;
    std::string engineText_;
    TCommandType commandType_ = TCommandType::cmdText;
    bool paramCheck_ = true;
    std::vector<std::string> parameters_;
    std::string commandTextAlias_;
    unsigned flags_ = 0;
};

}  // namespace vantelo
