// UTF-8 <-> UTF-16 conversions for file names, the settings text and logs.
#pragma once

#include <string>
#include <string_view>

// Invalid or truncated UTF-8 sequences and overlong forms each become U+FFFD. Encoded
// surrogate halves (three bytes each) become U+FFFD too, unless `keepSurrogates` is set: then
// each becomes its code unit, so that texts written a code unit at a time read back whole.
std::u16string ZrUtf8ToUtf16(std::string_view utf8, bool keepSurrogates = false);
// Unpaired surrogates become U+FFFD.
std::string ZrUtf16ToUtf8(std::u16string_view utf16);
// Appends the UTF-8 bytes of one UTF-16 code unit taken alone (a surrogate half gives three
// bytes); the settings text encodes values this way.
void ZrAppendCodeUnitUtf8(std::string& out, char16_t unit);
