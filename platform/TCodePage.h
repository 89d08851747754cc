// The tool's narrow-text code page: file names and messages are byte strings
// in this code page, database text columns hold wide (UTF-16) text. Chosen
// once from the locale's codeset: UTF-8 by default (also for the C locale),
// GBK (code page 936) when the locale says GBK/GB2312/GB18030/CP936.
//
// File names on Linux are bytes and need not be valid in the code page: every
// byte string must survive ToWide then ToNarrow unchanged. Bytes that do not
// decode are carried as the lone surrogates U+DC80..U+DCFF (one per byte), in
// the manner of Python's "surrogateescape".
#pragma once

#include <string>
#include <string_view>

namespace vantelo {

class TCodePage {
public:
    enum class Kind { Utf8, Gbk };

    // The code page of this process, chosen from the locale at first use.
    static const TCodePage& Active();
    // Switches the process's code page (tests, and start-up after setlocale).
    static void SetActive(Kind kind);
    // The kind the current locale's codeset asks for (nl_langinfo(CODESET);
    // the C locale gives Utf8).
    static Kind KindFromLocale();
    // The kind a codeset name asks for: GBK, GB2312, GB18030 and CP936 (any
    // letter case) give Gbk, anything else Utf8.
    static Kind KindFromCodeset(std::string_view codeset);

    explicit TCodePage(Kind kind) : kind_(kind) {}
    Kind GetKind() const { return kind_; }
    bool IsDoubleByte() const { return kind_ == Kind::Gbk; }

    // True when the byte starts a multi-byte character (GBK: 0x81..0xFE;
    // UTF-8: a valid lead byte 0xC2..0xF4).
    bool IsLeadByte(unsigned char byte) const;
    // Length in bytes of the character that starts at text[pos]: 1 for a
    // single byte or for any byte that does not start a valid character.
    size_t CharLength(std::string_view text, size_t pos) const;
    // True when text[pos] is the second or later byte of a character, found
    // by walking the characters from the start.
    bool IsTrailByteAt(std::string_view text, size_t pos) const;
    // Byte position of the first / last single-byte character `c` (a "/" or
    // "."), never the second byte of a double-byte character; npos if none.
    size_t FindChar(std::string_view text, char c) const;
    size_t FindLastChar(std::string_view text, char c) const;

    // Locale-aware upper-casing that keeps the byte length: a character whose
    // upper-case form has another byte length stays as it is.
    std::string UpperCase(std::string_view text) const;

    // Narrow <-> wide, lossless for any byte string (see above): ToNarrow(
    // ToWide(s)) == s for every s. ToNarrow writes "?" for a character the
    // code page cannot hold and for a lone surrogate outside U+DC80..U+DCFF
    // (wide text that did not come from ToWide).
    std::u16string ToWide(std::string_view narrow) const;
    std::string ToNarrow(std::u16string_view wide) const;
    // The tool's own texts are written in UTF-8 in its source; this gives
    // such a text in this code page, as file names and messages are held.
    std::string FromUtf8(std::string_view utf8) const;

private:
    Kind kind_;
};

}  // namespace vantelo
