// The two text rules behind the search and the rename: which directory
// entries belong on the list, and what each listed name becomes. Names and
// texts are byte strings in the tool's code page; positions count bytes.
#pragma once

#include "platform/TCodePage.h"

#include <string>
#include <string_view>

namespace vantelo {

// The match rule of the search: true when `target` occurs in `name` with
// "A".."Z" and "a".."z" taken as equal. Only those ASCII bytes are folded,
// no locale is consulted and double-byte characters are not recognised, so
// an occurrence may start on a trail byte and a trail byte in 0x41..0x5A
// folds like a letter. An empty target matches nothing.
bool NameMatches(std::string_view name, std::string_view target);

// The replacement rule of the rename: every occurrence of `target` in `name`,
// found left to right without overlap and ignoring case as the code page's
// upper-casing sees it, is replaced by `replacement` as typed. The rest of
// the name is copied unchanged, case included. An occurrence must start and
// end on character boundaries of `name`, so a double-byte or UTF-8 character
// is never split and a target that only spans two characters' bytes is not
// replaced. An empty target, or one longer than the name, leaves the name as
// it is; an empty replacement removes the occurrences.
std::string ReplaceAllIgnoreCase(std::string_view name, std::string_view target, std::string_view replacement,
                                 const TCodePage& codePage = TCodePage::Active());

}  // namespace vantelo
