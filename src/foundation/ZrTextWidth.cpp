#include "foundation/ZrTextWidth.h"

#include <clocale>
#include <cwchar>
#include <locale.h>

namespace {

struct Character {
    size_t Bytes;
    size_t Columns;
};

// wcwidth reads the calling thread's locale; this one stays for the life of the process.
locale_t Utf8Locale() {
    static const locale_t locale = [] {
        locale_t made = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
        return made ? made : ::newlocale(LC_CTYPE_MASK, "en_US.UTF-8", nullptr);
    }();
    return locale;
}

// Switches the thread to the UTF-8 locale while measuring.
class Utf8Scope {
public:
    Utf8Scope() : m_old(Utf8Locale() ? ::uselocale(Utf8Locale()) : nullptr) {}
    ~Utf8Scope() {
        if (m_old)
            ::uselocale(m_old);
    }
    Utf8Scope(const Utf8Scope&) = delete;
    Utf8Scope& operator=(const Utf8Scope&) = delete;

private:
    locale_t m_old;
};

// The character at `at`; an invalid, overlong or truncated sequence is its first byte alone.
Character Next(std::string_view s, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    char32_t c = 0;
    char32_t least = 0;
    if (lead < 0x80)
        length = 1, c = lead;
    else if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, c = lead & 0x1F, least = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, c = lead & 0x0F, least = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, c = lead & 0x07, least = 0x10000;
    else
        return {1, 1};
    if (at + length > s.size())
        return {1, 1};
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return {1, 1};
        c = (c << 6) | (byte(at + i) & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return {1, 1};
    const int width = ::wcwidth(static_cast<wchar_t>(c));
    return {length, width < 0 ? size_t{1} : static_cast<size_t>(width)};
}

} // namespace

size_t ZrTextColumns(std::string_view utf8) {
    const Utf8Scope scope;
    size_t columns = 0;
    for (size_t at = 0; at < utf8.size();) {
        const Character c = Next(utf8, at);
        columns += c.Columns;
        at += c.Bytes;
    }
    return columns;
}

size_t ZrTextPrefixBytes(std::string_view utf8, size_t columns) {
    const Utf8Scope scope;
    size_t used = 0;
    size_t at = 0;
    while (at < utf8.size()) {
        const Character c = Next(utf8, at);
        if (used + c.Columns > columns)
            break;
        used += c.Columns;
        at += c.Bytes;
    }
    return at;
}

size_t ZrTextSuffixStart(std::string_view utf8, size_t columns) {
    size_t left = ZrTextColumns(utf8);
    const Utf8Scope scope;
    size_t at = 0;
    while (at < utf8.size()) {
        const Character c = Next(utf8, at);
        // A mark of zero columns is never the first character of the end.
        if (left <= columns && c.Columns > 0)
            break;
        left -= c.Columns;
        at += c.Bytes;
    }
    return at;
}
