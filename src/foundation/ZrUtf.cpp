#include "foundation/ZrUtf.h"

#include <cstdint>

namespace {

constexpr char16_t Replacement = 0xFFFD;

void AppendCodePointUtf8(std::string& out, uint32_t cp) {
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

} // namespace

std::u16string ZrUtf8ToUtf16(std::string_view utf8, bool keepSurrogates) {
    std::u16string out;
    out.reserve(utf8.size());
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* end = p + utf8.size();
    while (p < end) {
        const unsigned char lead = *p;
        if (lead < 0x80) {
            out += static_cast<char16_t>(lead);
            ++p;
            continue;
        }
        int extra;
        uint32_t cp;
        uint32_t minimum;
        if ((lead & 0xE0) == 0xC0) {
            extra = 1, cp = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, cp = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, cp = lead & 0x07, minimum = 0x10000;
        } else {
            out += Replacement;
            ++p;
            continue;
        }
        int taken = 1;
        while (taken <= extra && p + taken < end && (p[taken] & 0xC0) == 0x80) {
            cp = (cp << 6) | (p[taken] & 0x3F);
            ++taken;
        }
        if (taken <= extra) {
            // Truncated sequence: one replacement for what was read, continue at the next lead.
            out += Replacement;
            p += taken;
            continue;
        }
        p += taken;
        const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
        if (cp < minimum || cp > 0x10FFFF || (surrogate && !keepSurrogates)) {
            out += Replacement;
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 | (cp >> 10));
            out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string ZrUtf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size() + utf16.size() / 2);
    for (size_t i = 0; i < utf16.size(); ++i) {
        const char16_t c = utf16[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            const uint32_t cp = 0x10000 + ((uint32_t(c) - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            AppendCodePointUtf8(out, cp);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            AppendCodePointUtf8(out, Replacement);
        } else {
            AppendCodePointUtf8(out, c);
        }
    }
    return out;
}

void ZrAppendCodeUnitUtf8(std::string& out, char16_t unit) { AppendCodePointUtf8(out, unit); }
