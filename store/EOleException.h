// A failed call into the database engine: carries the engine's own
// description (trailing blanks, control characters and full stops removed),
// its result code, the source and the help file.
#pragma once

#include "platform/Exception.h"

#include <string>

struct sqlite3;

namespace vantelo {

class EOleException : public Exception {
public:
    // The text as given; an empty description becomes "OLE error %.8x".
    EOleException(const std::string& description, int errorCode, std::string source = {},
                  std::string helpFile = {});
    const char* ClassName() const noexcept override { return "EOleException"; }

    int ErrorCode() const { return errorCode_; }
    const std::string& Source() const { return source_; }
    const std::string& HelpFile() const { return helpFile_; }

    // The last error of db (sqlite3_errmsg and the extended result code);
    // when db is null, the engine's text for code.
    static EOleException FromEngine(sqlite3* db, int code);
    // The description cut as errors show it: trailing characters of code 32
    // or less and trailing full stops removed.
    static std::string TrimDescription(std::string text);

private:
    int errorCode_;
    std::string source_;
    std::string helpFile_;
};

}  // namespace vantelo
