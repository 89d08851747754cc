// Every user-visible text the connection, the command and the query over
// SQLite raise, and the stored settings of the data module. Texts are data:
// callers format them with Format() and tests assert them word for word.
#pragma once

namespace vantelo::AdoTexts {

// Opening a query.
inline constexpr const char* kMissingConnection = "Missing Connection or ConnectionString";
inline constexpr const char* kMissingProperty = "Missing %s property";
inline constexpr const char* kNoResultSet = "CommandText does not return a result set";

// The name of the command's text property in messages: "CommandText" for a
// bare command, "SQL" for a query.
inline constexpr const char* kCommandTextProperty = "CommandText";
inline constexpr const char* kSqlProperty = "SQL";

// An engine error without a description of its own.
inline constexpr const char* kOleError = "OLE error %.8x";
// A write through a query whose connection was closed or destroyed meanwhile.
inline constexpr const char* kConnectionClosed = "Operation is not allowed when the object is closed";

// A row edited through a query that another process deleted meanwhile.
inline constexpr const char* kRowMissing = "Row cannot be located for updating";
// A new row the table took without error and without keeping it (a
// conflict it is told to ignore).
inline constexpr const char* kRowNotWritten = "记录未写入数据库";

// The stored settings of the data module's connection.
inline constexpr const char* kJetProvider = "Microsoft.Jet.OLEDB.4.0";
inline constexpr const char* kFileListConnectionString =
    "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=FileName.mdb;Persist Security Info=False";
// The table of the file list: the database that holds it is the tool's own.
inline constexpr const char* kFileListTable = "Tellarin";
// The provider a connection reports before a connection string names one.
inline constexpr const char* kDefaultProvider = "MSDASQL";

}  // namespace vantelo::AdoTexts
