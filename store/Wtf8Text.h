// Wide text <-> the bytes a text column holds. The column holds UTF-8; a
// lone surrogate of the wide text (file names that are not valid in the code
// page reach the store as U+DC80..U+DCFF) is written as the three bytes of
// its code point, the way WTF-8 does, so that every wide value comes back
// unit for unit. Reading is lenient: a byte that starts no valid sequence
// (text another program wrote in some other encoding) becomes the lone
// surrogate U+DC00 + byte, the same escape the code page uses, so no byte is
// ever lost on the way back to a narrow name.
#pragma once

#include <string>
#include <string_view>

namespace vantelo {

// UTF-8 for every character; paired surrogates give the 4-byte form, lone
// surrogates their 3-byte form. Empty input gives empty output.
std::string EncodeWtf8(std::u16string_view wide);
// The inverse of EncodeWtf8 for its output; any other bytes decode as above.
std::u16string DecodeWtf8(std::string_view bytes);

}  // namespace vantelo
