// The two narrow code pages the tool knows: UTF-8 and GBK (code page 936).
// Both are handled by tables of our own so that the answers do not depend on
// which locale the process happens to have set: the GBK tables are filled
// once from glibc's iconv, the case mapping comes from a private C.UTF-8
// locale object (or a built-in table for the common alphabets when that
// locale is not installed).
#include "platform/TCodePage.h"

#include "platform/TAsciiCase.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <vector>
#include <wctype.h>

namespace vantelo {
namespace {

// An undecodable byte b (always >= 0x80) travels as the lone surrogate U+DC00 + b.
constexpr char16_t kEscapeBase = 0xDC00;

bool IsEscape(char16_t unit) { return unit >= 0xDC80 && unit <= 0xDCFF; }
bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Decodes one well-formed UTF-8 character at text[pos]. Returns its length,
// or 0 when the bytes there are not a well-formed character (overlong forms,
// encoded surrogates, values above U+10FFFF, cut-off sequences, stray
// continuation bytes).
size_t DecodeUtf8(std::string_view text, size_t pos, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(text[pos]);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    size_t len = 0;
    char32_t value = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        value = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        value = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;  // overlong
        if (b0 == 0xED) hi = 0x9F;  // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        value = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;  // overlong
        if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() - pos < len) return 0;
    for (size_t i = 1; i < len; ++i) {
        const auto b = static_cast<unsigned char>(text[pos + i]);
        const unsigned char low = i == 1 ? lo : 0x80;
        const unsigned char high = i == 1 ? hi : 0xBF;
        if (b < low || b > high) return 0;
        value = (value << 6) | (b & 0x3F);
    }
    cp = value;
    return len;
}

void EncodeUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// GBK <-> UTF-16 tables, filled once from iconv. Only pairs that iconv maps
// to one BMP character, and whose character no earlier pair claimed, are
// entered, so that encoding a decoded character always gives back the same
// bytes; every other byte is escaped and therefore still survives.
class GbkTables {
public:
    static const GbkTables& Get() {
        static const GbkTables tables;
        return tables;
    }

    // The character of the pair lead/trail, or 0 when there is none.
    char16_t DecodePair(unsigned char lead, unsigned char trail) const {
        if (lead < 0x81 || lead > 0xFE || trail < 0x40) return 0;
        return pairs_[(lead - 0x81) * 192 + (trail - 0x40)];
    }
    // The character of a lone byte 0x80..0xFF (code page 936's 0x80 is the
    // euro sign where the converter knows it), or 0.
    char16_t DecodeSingle(unsigned char byte) const { return byte >= 0x80 ? singles_[byte - 0x80] : 0; }
    // The bytes of a character as lead << 8 | trail, or a single byte, or 0.
    uint16_t Encode(char16_t unit) const { return encode_[unit]; }

private:
    GbkTables() : pairs_(126 * 192, 0), singles_(128, 0), encode_(65536, 0) {
        iconv_t cd = iconv_open("UTF-16LE", "GBK");
        if (cd == reinterpret_cast<iconv_t>(-1)) return;  // no converter: every non-ASCII byte escapes
        for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
            for (unsigned trail = 0x40; trail <= 0xFF; ++trail) {
                const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                const char16_t unit = Convert(cd, in, 2);
                if (unit != 0 && encode_[unit] == 0) {
                    pairs_[(lead - 0x81) * 192 + (trail - 0x40)] = unit;
                    encode_[unit] = static_cast<uint16_t>(lead << 8 | trail);
                }
            }
        }
        for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
            const char in[1] = {static_cast<char>(byte)};
            const char16_t unit = Convert(cd, in, 1);
            if (unit != 0 && encode_[unit] == 0) {
                singles_[byte - 0x80] = unit;
                encode_[unit] = static_cast<uint16_t>(byte);
            }
        }
        iconv_close(cd);
    }

    // Converts exactly `size` bytes into exactly one BMP character that is
    // neither ASCII nor a surrogate; 0 otherwise.
    static char16_t Convert(iconv_t cd, const char* bytes, size_t size) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char inBuf[2];
        std::memcpy(inBuf, bytes, size);
        char outBuf[8];
        char* in = inBuf;
        char* out = outBuf;
        size_t inLeft = size, outLeft = sizeof outBuf;
        if (iconv(cd, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) return 0;
        if (sizeof outBuf - outLeft != 2) return 0;
        const auto unit = static_cast<char16_t>(static_cast<unsigned char>(outBuf[0]) |
                                                static_cast<unsigned char>(outBuf[1]) << 8);
        if (unit < 0x80 || (unit >= 0xD800 && unit <= 0xDFFF)) return 0;
        return unit;
    }

    std::vector<char16_t> pairs_;
    std::vector<char16_t> singles_;
    std::vector<uint16_t> encode_;
};

// Built-in upper-casing for when no UTF-8 locale is installed: the Latin-1,
// Latin Extended-A, Greek, Cyrillic and full-width Latin letters.
char32_t FallbackUpper(char32_t cp) {
    if (cp >= U'a' && cp <= U'z') return cp - 0x20;
    if ((cp >= 0xE0 && cp <= 0xFE && cp != 0xF7)) return cp - 0x20;
    if (cp == 0xFF) return 0x178;
    if (cp >= 0x100 && cp <= 0x17F && cp != 0x130 && cp != 0x131 && cp != 0x138 && cp != 0x149 &&
        cp != 0x17F) {
        const bool oddPairs = (cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E);
        if (oddPairs ? (cp % 2 == 0) : (cp % 2 == 1)) return cp - 1;
        return cp;
    }
    if (cp >= 0x3B1 && cp <= 0x3C9 && cp != 0x3C2) return cp - 0x20;
    if (cp >= 0x430 && cp <= 0x44F) return cp - 0x20;
    if (cp >= 0x450 && cp <= 0x45F) return cp - 0x50;
    if (cp >= 0xFF41 && cp <= 0xFF5A) return cp - 0x20;
    return cp;
}

// The Unicode upper-case mapping of one character, independent of the
// process's own locale.
char32_t UpperOf(char32_t cp) {
    if (cp < 0x80) return (cp >= U'a' && cp <= U'z') ? cp - 0x20 : cp;
    static const locale_t locale = [] {
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
            if (locale_t l = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr))) return l;
        }
        return static_cast<locale_t>(nullptr);
    }();
    if (locale == nullptr) return FallbackUpper(cp);
    const wint_t up = towupper_l(static_cast<wint_t>(cp), locale);
    return static_cast<char32_t>(up);
}

const TCodePage kUtf8Page(TCodePage::Kind::Utf8);
const TCodePage kGbkPage(TCodePage::Kind::Gbk);
std::atomic<const TCodePage*> activePage{nullptr};

const TCodePage& PageOf(TCodePage::Kind kind) { return kind == TCodePage::Kind::Gbk ? kGbkPage : kUtf8Page; }

}  // namespace

const TCodePage& TCodePage::Active() {
    const TCodePage* page = activePage.load(std::memory_order_acquire);
    if (page == nullptr) {
        const TCodePage* chosen = &PageOf(KindFromLocale());
        activePage.compare_exchange_strong(page, chosen, std::memory_order_acq_rel);
        page = activePage.load(std::memory_order_acquire);
    }
    return *page;
}

std::string TCodePage::FromUtf8(std::string_view utf8) const {
    if (kind_ == Kind::Utf8) return std::string(utf8);
    return ToNarrow(PageOf(Kind::Utf8).ToWide(utf8));
}

void TCodePage::SetActive(Kind kind) { activePage.store(&PageOf(kind), std::memory_order_release); }

TCodePage::Kind TCodePage::KindFromLocale() {
    const char* codeset = nl_langinfo(CODESET);
    return KindFromCodeset(codeset != nullptr ? codeset : "");
}

TCodePage::Kind TCodePage::KindFromCodeset(std::string_view codeset) {
    for (std::string_view gbk : {"GBK", "GB2312", "GB18030", "CP936"}) {
        if (AsciiEqualIgnoreCase(codeset, gbk)) return Kind::Gbk;
    }
    return Kind::Utf8;
}

bool TCodePage::IsLeadByte(unsigned char byte) const {
    if (kind_ == Kind::Gbk) return byte >= 0x81 && byte <= 0xFE;
    return byte >= 0xC2 && byte <= 0xF4;
}

size_t TCodePage::CharLength(std::string_view text, size_t pos) const {
    if (pos >= text.size()) return 0;
    if (kind_ == Kind::Gbk) {
        // A lead byte takes the next byte with it, whatever that byte is.
        return IsLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size() ? 2 : 1;
    }
    char32_t cp;
    const size_t len = DecodeUtf8(text, pos, cp);
    return len == 0 ? 1 : len;
}

bool TCodePage::IsTrailByteAt(std::string_view text, size_t pos) const {
    if (pos >= text.size()) return false;
    size_t at = 0;
    while (at < pos) at += CharLength(text, at);
    return at != pos;
}

std::string TCodePage::UpperCase(std::string_view text) const {
    std::string out(text);
    std::string encoded;
    for (size_t pos = 0; pos < text.size();) {
        const size_t len = CharLength(text, pos);
        const auto b0 = static_cast<unsigned char>(text[pos]);
        if (b0 < 0x80) {
            if (b0 >= 'a' && b0 <= 'z') out[pos] = static_cast<char>(b0 - 0x20);
            pos += len;
            continue;
        }
        encoded.clear();
        if (kind_ == Kind::Utf8) {
            char32_t cp;
            if (DecodeUtf8(text, pos, cp) != 0) {
                const char32_t up = UpperOf(cp);
                if (up != cp) EncodeUtf8(up, encoded);
            }
        } else {
            const GbkTables& tables = GbkTables::Get();
            const char16_t unit = len == 2 ? tables.DecodePair(b0, static_cast<unsigned char>(text[pos + 1]))
                                           : tables.DecodeSingle(b0);
            if (unit != 0) {
                const char32_t up = UpperOf(unit);
                if (up != unit && up < 0x10000) {
                    const uint16_t bytes = tables.Encode(static_cast<char16_t>(up));
                    if (bytes > 0xFF) {
                        encoded += static_cast<char>(bytes >> 8);
                        encoded += static_cast<char>(bytes & 0xFF);
                    } else if (bytes != 0) {
                        encoded += static_cast<char>(bytes);
                    }
                }
            }
        }
        // A character whose upper-case form has another length stays as it is.
        if (encoded.size() == len) out.replace(pos, len, encoded);
        pos += len;
    }
    return out;
}

std::u16string TCodePage::ToWide(std::string_view narrow) const {
    std::u16string wide;
    wide.reserve(narrow.size());
    if (kind_ == Kind::Utf8) {
        for (size_t pos = 0; pos < narrow.size();) {
            char32_t cp;
            const size_t len = DecodeUtf8(narrow, pos, cp);
            if (len == 0) {
                wide += static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(narrow[pos]));
                ++pos;
                continue;
            }
            if (cp >= 0x10000) {
                wide += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
                wide += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                wide += static_cast<char16_t>(cp);
            }
            pos += len;
        }
        return wide;
    }
    const GbkTables& tables = GbkTables::Get();
    for (size_t pos = 0; pos < narrow.size();) {
        const auto b0 = static_cast<unsigned char>(narrow[pos]);
        if (b0 < 0x80) {
            wide += static_cast<char16_t>(b0);
            ++pos;
            continue;
        }
        if (pos + 1 < narrow.size()) {
            if (const char16_t unit = tables.DecodePair(b0, static_cast<unsigned char>(narrow[pos + 1]))) {
                wide += unit;
                pos += 2;
                continue;
            }
        }
        const char16_t single = tables.DecodeSingle(b0);
        // A lead byte whose pair does not convert is escaped alone; the byte
        // after it is decoded on its own.
        wide += single != 0 ? single : static_cast<char16_t>(kEscapeBase + b0);
        ++pos;
    }
    return wide;
}

std::string TCodePage::ToNarrow(std::u16string_view wide) const {
    // Most names are plain ASCII: those take exactly their length, so a
    // short name stays inside the string itself (a million names are read
    // out of the grid at once) and a long one takes no slack.
    if (std::all_of(wide.begin(), wide.end(), [](char16_t unit) { return unit < 0x80; }))
        return std::string(wide.begin(), wide.end());
    std::string narrow;
    narrow.reserve(wide.size() * (kind_ == Kind::Utf8 ? 3 : 2));
    const GbkTables* tables = kind_ == Kind::Gbk ? &GbkTables::Get() : nullptr;
    for (size_t i = 0; i < wide.size(); ++i) {
        const char16_t unit = wide[i];
        if (unit < 0x80) {
            narrow += static_cast<char>(unit);
            continue;
        }
        if (IsEscape(unit)) {
            narrow += static_cast<char>(unit - kEscapeBase);
            continue;
        }
        if (IsHighSurrogate(unit) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1])) {
            const char32_t cp = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
            ++i;
            if (tables == nullptr) {
                EncodeUtf8(cp, narrow);
            } else {
                narrow += '?';  // GBK holds no character outside the BMP
            }
            continue;
        }
        if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            narrow += '?';
            continue;
        }
        if (tables == nullptr) {
            EncodeUtf8(unit, narrow);
            continue;
        }
        const uint16_t bytes = tables->Encode(unit);
        if (bytes > 0xFF) {
            narrow += static_cast<char>(bytes >> 8);
            narrow += static_cast<char>(bytes & 0xFF);
        } else if (bytes != 0) {
            narrow += static_cast<char>(bytes);
        } else {
            narrow += '?';
        }
    }
    // The worst case reserved above is mostly slack once written.
    if (narrow.capacity() > narrow.size() + narrow.size() / 2)
        narrow.shrink_to_fit();
    return narrow;
}

size_t TCodePage::FindChar(std::string_view text, char c) const
{
    for (size_t i = 0; i < text.size(); i += CharLength(text, i))
        if (text[i] == c)
            return i;
    return std::string_view::npos;
}

size_t TCodePage::FindLastChar(std::string_view text, char c) const
{
    size_t last = std::string_view::npos;
    for (size_t i = 0; i < text.size(); i += CharLength(text, i))
        if (text[i] == c)
            last = i;
    return last;
}

}  // namespace vantelo
