// Number reading and writing shared by the settings map and every place that reads a number
// from text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Decimal parse: leading white space, an optional sign, then decimal digits of any script the
// string manager knows, up to the first other character. No digit gives 0. A magnitude beyond
// 2147483647 saturates to 2147483647 (or -2147483647 for a negative number).
int32_t ZrParseInt32(std::u16string_view text) noexcept;
// The same for 64 bits, saturating at +-9223372036854775807.
int64_t ZrParseInt64(std::u16string_view text) noexcept;
// Hexadecimal: leading white space, an optional "0x" or "0X", then hex digits; wraps modulo 2^32.
uint32_t ZrParseHex(std::u16string_view text) noexcept;
// Shortest text that reads back as the same double; reading is locale-independent.
std::u16string ZrFormatDouble(double value);
double ZrParseDouble(std::u16string_view text) noexcept;
std::u16string ZrFormatInt(int64_t value);
std::u16string ZrFormatUInt(uint64_t value);
std::u16string ZrFormatHex(uint32_t value);
