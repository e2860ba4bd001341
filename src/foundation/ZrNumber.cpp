#include "foundation/ZrNumber.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "foundation/ZrStringManager.h"
#include "foundation/ZrUtf.h"

namespace {

// Skips white space and a sign; returns the position of the first digit candidate.
size_t ReadSign(std::u16string_view text, const ZrStringManager& manager, bool& negative) {
    size_t i = 0;
    while (i < text.size() && manager.IsSpace(text[i]))
        ++i;
    negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    return i;
}

template <typename Unsigned>
Unsigned ReadMagnitude(std::u16string_view text, size_t i, const ZrStringManager& manager,
                       Unsigned limit) {
    Unsigned value = 0;
    for (; i < text.size(); ++i) {
        const int digit = manager.DigitValue(text[i]);
        if (digit < 0)
            break;
        if (value > (limit - static_cast<Unsigned>(digit)) / 10)
            value = limit; // saturated; keep reading digits so nothing else changes
        else
            value = value * 10 + static_cast<Unsigned>(digit);
    }
    return value;
}

std::u16string Widen(const char* begin, const char* end) {
    return ZrUtf8ToUtf16(std::string_view(begin, static_cast<size_t>(end - begin)));
}

} // namespace

int32_t ZrParseInt32(std::u16string_view text) noexcept {
    const ZrStringManager& manager = ZrStringManager::Instance();
    bool negative;
    const size_t i = ReadSign(text, manager, negative);
    const uint32_t magnitude = ReadMagnitude<uint32_t>(text, i, manager, 2147483647u);
    return negative ? -static_cast<int32_t>(magnitude) : static_cast<int32_t>(magnitude);
}

int64_t ZrParseInt64(std::u16string_view text) noexcept {
    const ZrStringManager& manager = ZrStringManager::Instance();
    bool negative;
    const size_t i = ReadSign(text, manager, negative);
    const uint64_t magnitude =
        ReadMagnitude<uint64_t>(text, i, manager, 9223372036854775807ull);
    return negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
}

uint32_t ZrParseHex(std::u16string_view text) noexcept {
    const ZrStringManager& manager = ZrStringManager::Instance();
    size_t i = 0;
    while (i < text.size() && manager.IsSpace(text[i]))
        ++i;
    if (i + 1 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X'))
        i += 2;
    uint32_t value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i];
        uint32_t digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            break;
        value = (value << 4) | digit;
    }
    return value;
}

std::u16string ZrFormatDouble(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return Widen(buffer, result.ptr);
}

double ZrParseDouble(std::u16string_view text) noexcept {
    const ZrStringManager& manager = ZrStringManager::Instance();
    size_t i = 0;
    while (i < text.size() && manager.IsSpace(text[i]))
        ++i;
    char buffer[128];
    size_t n = 0;
    if (i < text.size() && text[i] == u'+')
        ++i;
    for (; i < text.size() && n + 1 < sizeof buffer; ++i) {
        const char16_t c = text[i];
        if (c > 0x7F)
            break;
        buffer[n++] = static_cast<char>(c);
    }
    double value = 0.0;
    const auto result = std::from_chars(buffer, buffer + n, value);
    if (result.ec == std::errc::result_out_of_range) {
        // Too small rounds to zero, too large to infinity.
        const std::string_view digits(buffer, static_cast<size_t>(result.ptr - buffer));
        const bool tiny = digits.find("e-") != std::string_view::npos ||
                          digits.find("E-") != std::string_view::npos;
        const double magnitude = tiny ? 0.0 : HUGE_VAL;
        return buffer[0] == '-' ? -magnitude : magnitude;
    }
    return result.ec == std::errc() ? value : 0.0;
}

std::u16string ZrFormatInt(int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return Widen(buffer, result.ptr);
}

std::u16string ZrFormatUInt(uint64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return Widen(buffer, result.ptr);
}

std::u16string ZrFormatHex(uint32_t value) {
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, 16);
    std::u16string out = Widen(buffer, result.ptr);
    for (char16_t& c : out)
        if (c >= u'a' && c <= u'f')
            c = static_cast<char16_t>(c - u'a' + u'A');
    return out;
}
