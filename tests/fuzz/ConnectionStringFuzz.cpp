// Fuzzes the connection-string parser of the database connection.
//
// Two checks on every input:
//   - Parsing the input as it stands: every key is non-empty, trimmed and
//     holds no "=" or ";"; writing the pairs back with every value in double
//     quotes (inner quotes doubled) and parsing that gives the same pairs;
//     a key's value is the last pair's with that key in any letter case.
//   - Building a string from pieces: the input split at NUL bytes into keys
//     and values (keys cleaned of "=", ";" and outer blanks), values written
//     quoted with single or double quotes, parse back to exactly those pairs,
//     whatever bytes the values hold.
#include "store/TADOConnection.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "connection string: %s\n", what);
    std::abort();
}

void Require(bool ok, const char* what) {
    if (!ok) Fail(what);
}

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

bool SameKey(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string Quoted(std::string_view value, char quote) {
    std::string out(1, quote);
    for (const char c : value) {
        out += c;
        if (c == quote) out += quote;
    }
    out += quote;
    return out;
}

std::string Compose(const Pairs& pairs, bool singleQuotes) {
    std::string text;
    for (const auto& [key, value] : pairs) text += key + "=" + Quoted(value, singleQuotes ? '\'' : '"') + ";";
    return text;
}

void CheckParsed(std::string_view text) {
    const Pairs pairs = vantelo::TADOConnection::ParseConnectionString(text);
    for (const auto& [key, value] : pairs) {
        Require(!key.empty(), "empty key");
        Require(key.find_first_of("=;") == std::string::npos, "key holds a separator");
        Require(!IsBlank(key.front()) && !IsBlank(key.back()), "key not trimmed");
    }
    Require(vantelo::TADOConnection::ParseConnectionString(Compose(pairs, false)) == pairs,
            "quoted pairs do not read back");
    for (const auto& [key, value] : pairs) {
        std::string last;
        for (const auto& [other, otherValue] : pairs) {
            if (SameKey(key, other)) last = otherValue;
        }
        Require(vantelo::TADOConnection::ConnectionStringValue(text, key) == last, "a key's value is not the last one");
    }
}

void CheckComposed(std::string_view input, bool singleQuotes) {
    Pairs pairs;
    while (!input.empty()) {
        const size_t keyEnd = input.find('\0');
        std::string key;
        for (const char c : input.substr(0, keyEnd)) {
            if (c != '=' && c != ';') key += c;
        }
        while (!key.empty() && IsBlank(key.front())) key.erase(key.begin());
        while (!key.empty() && IsBlank(key.back())) key.pop_back();
        if (keyEnd == std::string_view::npos) break;
        input.remove_prefix(keyEnd + 1);
        const size_t valueEnd = input.find('\0');
        std::string value(input.substr(0, valueEnd));
        input.remove_prefix(valueEnd == std::string_view::npos ? input.size() : valueEnd + 1);
        if (!key.empty()) pairs.emplace_back(std::move(key), std::move(value));
    }
    Require(vantelo::TADOConnection::ParseConnectionString(Compose(pairs, singleQuotes)) == pairs,
            "composed pairs do not read back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckParsed(text);
    CheckComposed(text, size > 0 && (data[0] & 1));
    return 0;
}
