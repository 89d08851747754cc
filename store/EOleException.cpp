#include "store/EOleException.h"

#include "store/AdoTexts.h"

#include <sqlite3.h>

namespace vantelo {

namespace {

std::string Described(const std::string& description, int errorCode)
{
    std::string text = EOleException::TrimDescription(description);
    if (text.empty())
        text = Format(AdoTexts::kOleError, static_cast<unsigned>(errorCode));
    return text;
}

}  // namespace

EOleException::EOleException(const std::string& description, int errorCode, std::string source,
                             std::string helpFile)
    : Exception(Described(description, errorCode)),
      errorCode_(errorCode),
      source_(std::move(source)),
      helpFile_(std::move(helpFile))
{
}

std::string EOleException::TrimDescription(std::string text)
{
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.'))
        text.pop_back();
    return text;
}

EOleException EOleException::FromEngine(sqlite3* db, int code)
{
    if (db) {
        const int extended = sqlite3_extended_errcode(db);
        return EOleException(sqlite3_errmsg(db), extended != 0 ? extended : code, "SQLite");
    }
    return EOleException(sqlite3_errstr(code), code, "SQLite");
}

}  // namespace vantelo
