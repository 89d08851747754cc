// The match and replacement rules. Both are pure functions of their inputs
// (and, for the replacement, of the code page passed in).
#include "rename/TNameRules.h"

#include <algorithm>

namespace vantelo {
namespace {

unsigned char LowerAscii(char c) {
    const auto b = static_cast<unsigned char>(c);
    return (b >= 'A' && b <= 'Z') ? static_cast<unsigned char>(b + 0x20) : b;
}

// True when an occurrence of `length` bytes at `pos` ends on a character
// boundary of `text` (pos itself is one).
bool EndsOnBoundary(std::string_view text, size_t pos, size_t length, const TCodePage& codePage) {
    const size_t end = pos + length;
    size_t at = pos;
    while (at < end) at += codePage.CharLength(text, at);
    return at == end;
}

}  // namespace

bool NameMatches(std::string_view name, std::string_view target) {
    if (target.empty()) return false;
    const auto found = std::search(name.begin(), name.end(), target.begin(), target.end(),
                                   [](char a, char b) { return LowerAscii(a) == LowerAscii(b); });
    return found != name.end();
}

std::string ReplaceAllIgnoreCase(std::string_view name, std::string_view target, std::string_view replacement,
                                 const TCodePage& codePage) {
    if (target.empty() || target.size() > name.size()) return std::string(name);
    // Upper-casing keeps every character's byte length, so offsets in the
    // upper-cased text are offsets in the name and both share their
    // character boundaries.
    const std::string searchText = codePage.UpperCase(name);
    const std::string pattern = codePage.UpperCase(target);

    std::string result;
    size_t copied = 0;  // bytes of `name` already dealt with
    size_t pos = 0;     // always the start of a character
    while (pos < name.size() && name.size() - pos >= pattern.size()) {
        if (searchText.compare(pos, pattern.size(), pattern) == 0 &&
            EndsOnBoundary(name, pos, pattern.size(), codePage)) {
            result.append(name.substr(copied, pos - copied));
            result.append(replacement);
            pos += pattern.size();
            copied = pos;
            continue;
        }
        pos += codePage.CharLength(name, pos);
    }
    result.append(name.substr(copied));
    return result;
}

}  // namespace vantelo
