// UTF-8 <-> UTF-16 conversions for file names, the settings text and logs.
#pragma once

#include <string>
#include <string_view>

// Names on Linux are bytes, not always UTF-8 (a Latin-1 music library), so no byte is lost
// either way: each byte of an invalid, truncated or overlong sequence (an encoded surrogate
// half included) becomes the lone surrogate U+DC80..U+DCFF of its value, and ZrUtf16ToUtf8
// turns such a surrogate back into the byte.
// With `keepSurrogates` (the settings text) encoded surrogate halves become their code units,
// so that texts written a code unit at a time read back whole, and what is not UTF-8 becomes
// U+FFFD: an invalid lead byte each, a truncated sequence (what was read of it) or an overlong
// form one for all its bytes.
std::u16string ZrUtf8ToUtf16(std::string_view utf8, bool keepSurrogates = false);
// A lone U+DC80..U+DCFF becomes the byte it stands for (see above); other unpaired surrogates
// become U+FFFD.
std::string ZrUtf16ToUtf8(std::u16string_view utf16);
// True when every byte belongs to a well-formed UTF-8 sequence.
bool ZrIsValidUtf8(std::string_view utf8);
// For showing a name: bytes that are not UTF-8 appear as \xHH, and a backslash as itself.
std::string ZrEscapeInvalidUtf8(std::string_view bytes);
// Appends the UTF-8 bytes of one UTF-16 code unit taken alone (a surrogate half gives three
// bytes); the settings text encodes values this way.
void ZrAppendCodeUnitUtf8(std::string& out, char16_t unit);
