// Fuzzes the match and replacement rules under UTF-8 and GBK.
//
// Input: one byte choosing the code page, then name, target and replacement
// separated by NUL bytes (a file name never holds NUL). The replacement rule
// is run a second time with a one-byte marker that the name does not hold as
// its replacement: splitting that result on the marker gives the pieces of
// the name that were kept, and so where every replaced occurrence was. Then:
//   - the kept pieces and the occurrences put back together are the name;
//   - every occurrence starts and ends on a character boundary of the name
//     and is the target ignoring case as the code page upper-cases;
//   - no occurrence was missed: no kept piece holds one on a boundary;
//   - the real result is the kept pieces joined by the replacement, so its
//     length is the name's plus k * (replacement - target) for k occurrences;
//   - a name without the upper-cased target comes back unchanged;
//   - the result survives the database's wide text both ways.
#include "rename/TNameRules.h"
#include "platform/TCodePage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

using vantelo::TCodePage;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "name rules: %s\n", what);
    std::abort();
}

void Require(bool ok, const char* what) {
    if (!ok) Fail(what);
}

bool OnBoundary(const TCodePage& codePage, std::string_view text, size_t pos) {
    return pos == text.size() || (pos < text.size() && !codePage.IsTrailByteAt(text, pos));
}

// An occurrence the replacement rule must take at `pos`, a character start.
bool OccursAt(const TCodePage& codePage, std::string_view name, const std::string& upperName,
              const std::string& upperTarget, size_t pos) {
    return pos + upperTarget.size() <= name.size() && upperName.compare(pos, upperTarget.size(), upperTarget) == 0 &&
           OnBoundary(codePage, name, pos + upperTarget.size());
}

void CheckReplacement(const TCodePage& codePage, std::string_view name, std::string_view target,
                      std::string_view replacement) {
    const std::string result = vantelo::ReplaceAllIgnoreCase(name, target, replacement, codePage);
    Require(codePage.ToNarrow(codePage.ToWide(result)) == result, "result does not survive the wide round trip");
    if (target.empty() || target.size() > name.size()) {
        Require(result == name, "empty or over-long target changed the name");
        return;
    }
    const std::string upperName = codePage.UpperCase(name);
    const std::string upperTarget = codePage.UpperCase(target);
    Require(upperName.size() == name.size() && upperTarget.size() == target.size(), "upper-casing changed a length");
    if (upperName.find(upperTarget) == std::string::npos) {
        Require(result == name, "name without the target changed");
        return;
    }

    // A marker byte that occurs nowhere in the name.
    bool present[256] = {};
    for (const unsigned char c : name) present[c] = true;
    int marker = -1;
    for (int c = 1; c < 256 && marker < 0; ++c) {
        if (!present[c]) marker = c;
    }
    if (marker < 0) return;  // every byte value is in the name: nothing to split on
    const std::string marked =
        vantelo::ReplaceAllIgnoreCase(name, target, std::string(1, static_cast<char>(marker)), codePage);
    std::vector<std::string_view> pieces;
    std::string_view rest = marked;
    for (;;) {
        const size_t at = rest.find(static_cast<char>(marker));
        pieces.push_back(rest.substr(0, at));
        if (at == std::string_view::npos) break;
        rest.remove_prefix(at + 1);
    }

    size_t offset = 0;
    std::string expected;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const std::string_view piece = pieces[i];
        Require(name.substr(offset, piece.size()) == piece, "a kept piece is not the name's text");
        // Greedy and left to right: the kept piece holds no occurrence that
        // starts on a character boundary.
        for (size_t pos = offset; pos < offset + piece.size(); pos += codePage.CharLength(name, pos)) {
            Require(!OccursAt(codePage, name, upperName, upperTarget, pos), "an occurrence was missed");
        }
        offset += piece.size();
        expected.append(piece);
        if (i + 1 == pieces.size()) break;
        Require(OnBoundary(codePage, name, offset), "an occurrence starts inside a character");
        Require(OccursAt(codePage, name, upperName, upperTarget, offset),
                "a replaced text is not the target or ends inside a character");
        offset += target.size();
        expected.append(replacement);
    }
    Require(offset == name.size(), "the pieces and occurrences do not make up the name");
    Require(result == expected, "the result is not the kept pieces joined by the replacement");
    const size_t k = pieces.size() - 1;
    Require(result.size() == name.size() + k * replacement.size() - k * target.size(), "wrong result length");
}

void CheckMatch(std::string_view name, std::string_view target) {
    const bool matches = vantelo::NameMatches(name, target);
    if (target.empty()) {
        Require(!matches, "an empty target matched");
        return;
    }
    if (name.find(target) != std::string_view::npos) Require(matches, "an exact occurrence did not match");
    // Folding only ASCII letters: a match of the lowered texts in either case.
    auto lower = [](std::string_view text) {
        std::string out(text);
        for (char& c : out) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 0x20) : c;
        return out;
    };
    Require(matches == (lower(name).find(lower(target)) != std::string::npos), "match differs from ASCII folding");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const TCodePage codePage((data[0] & 1) ? TCodePage::Kind::Gbk : TCodePage::Kind::Utf8);
    std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string_view parts[3];
    for (int i = 0; i < 3; ++i) {
        const size_t at = i < 2 ? input.find('\0') : std::string_view::npos;
        parts[i] = input.substr(0, at);
        if (at == std::string_view::npos) break;
        input.remove_prefix(at + 1);
    }
    const std::string_view name = parts[0], target = parts[1], replacement = parts[2];
    CheckMatch(name, target);
    CheckReplacement(codePage, name, target, replacement);
    return 0;
}
