// Letter case of the ASCII letters A-Z and a-z only, the same under every
// locale. Names the tool compares without regard to case (connection string
// keys, column names, codeset names) are ASCII by definition, and the user's
// locale must not change how they fold: under a Turkish locale the C
// library's tolower('I') is not 'i'. Bytes outside A-Z/a-z are left alone.
#pragma once

#include <string>
#include <string_view>

namespace vantelo {

constexpr char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// True when a and b have the same bytes once A-Z and a-z are folded together.
bool AsciiEqualIgnoreCase(std::string_view a, std::string_view b);
// The text with a-z turned into A-Z; every other byte kept.
std::string AsciiUpperCase(std::string_view text);

}  // namespace vantelo
