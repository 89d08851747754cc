// The one way the tool opens a query: close it, replace its SQL text by one
// statement, open it. Any failure (no database file, a locked file, a
// missing table, bad SQL) is shown as failureMessage through the store's
// notice handler, with the error's own text dropped.
#pragma once

#include <string>

namespace vantelo {

class TADOQuery;

// Answers true when query is open on sqlText (first row current, or Eof on
// an empty result); false after failureMessage was shown, the query then
// closed (or as far as the failing step left it).
bool OpenQuery(TADOQuery& query, const std::string& sqlText, const std::string& failureMessage);

}  // namespace vantelo
