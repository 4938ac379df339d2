// UTF-8 text counted and indexed the way the original platform's strings count it: in UTF-16
// code units. Labels and fonts number their characters this way, so every place that counts
// characters goes through here.
//
// Malformed UTF-8 (a stray or truncated byte, an overlong form, an encoded surrogate, anything
// past U+10FFFF) decodes to one U+FFFD per bad byte, so a string never has more code units than
// bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// True when every byte belongs to a well-formed sequence.
bool isValidUTF8(std::string_view text);
// The string's length in UTF-16 code units (characters beyond U+FFFF count two).
std::uint64_t utf16Length(std::string_view text);
std::u16string utf16FromUTF8(std::string_view text);
// A surrogate without its partner becomes U+FFFD.
std::string utf8FromUTF16(std::u16string_view text);
// Appends one code point; surrogates and values past U+10FFFF are written as U+FFFD.
void appendUTF8(std::string& out, char32_t codePoint);

} // namespace platform
