// UTF-8 <-> UTF-16 conversions for file names, the settings text and logs.
#pragma once

#include <string>
#include <string_view>

// Names on Linux are bytes, not always UTF-8 (a Latin-1 music library), so no byte is lost
// either way: each byte of an invalid, truncated or overlong sequence becomes the lone surrogate
// U+DC80..U+DCFF of its value, and ZrUtf16ToUtf8 turns such a surrogate back into the byte.
// Encoded surrogate halves (three bytes each) are invalid too, unless `keepSurrogates` is set:
// then each becomes its code unit, so that texts written a code unit at a time read back whole.
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
