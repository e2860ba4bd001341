#include "foundation/ZrUtf.h"

#include <cstdint>

namespace {

constexpr char16_t Replacement = 0xFFFD;
// Lone low surrogates that carry one byte of a name that is not UTF-8.
constexpr char16_t EscapedByte = 0xDC00;

bool IsEscapedByte(char16_t c) {
    return c >= EscapedByte + 0x80 && c <= EscapedByte + 0xFF;
}

// What a lead byte of more than one byte announces: the continuation bytes, the bits it carries
// and the smallest code point that may use that length. False for a byte that cannot lead.
bool ReadLead(unsigned char lead, size_t& extra, uint32_t& cp, uint32_t& minimum) {
    if ((lead & 0xE0) == 0xC0)
        extra = 1, cp = lead & 0x1F, minimum = 0x80;
    else if ((lead & 0xF0) == 0xE0)
        extra = 2, cp = lead & 0x0F, minimum = 0x800;
    else if ((lead & 0xF8) == 0xF0)
        extra = 3, cp = lead & 0x07, minimum = 0x10000;
    else
        return false;
    return true;
}

// The length of the well-formed sequence at p (1 to 4), or 0 when it is not one. Encoded
// surrogates count as well-formed only when `surrogates`.
size_t SequenceLength(const unsigned char* p, const unsigned char* end, bool surrogates,
                      uint32_t& cp) {
    const unsigned char lead = *p;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    size_t extra;
    uint32_t minimum;
    if (!ReadLead(lead, extra, cp, minimum))
        return 0;
    if (static_cast<size_t>(end - p) <= extra)
        return 0;
    for (size_t i = 1; i <= extra; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
    if (cp < minimum || cp > 0x10FFFF || (surrogate && !surrogates))
        return 0;
    return extra + 1;
}

void AppendCodePointUtf16(std::u16string& out, uint32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (cp >> 10));
        out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
    } else {
        out += static_cast<char16_t>(cp);
    }
}

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

// The settings text's reading: encoded surrogate halves kept as code units, and each invalid
// lead byte, truncated sequence (what was read of it) or overlong form one U+FFFD.
std::u16string DecodeKeepingSurrogates(std::string_view utf8) {
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
        size_t extra;
        uint32_t cp;
        uint32_t minimum;
        if (!ReadLead(lead, extra, cp, minimum)) {
            out += Replacement;
            ++p;
            continue;
        }
        size_t taken = 1;
        while (taken <= extra && p + taken < end && (p[taken] & 0xC0) == 0x80) {
            cp = (cp << 6) | (p[taken] & 0x3F);
            ++taken;
        }
        p += taken;
        if (taken <= extra || cp < minimum || cp > 0x10FFFF) {
            out += Replacement;
        } else {
            AppendCodePointUtf16(out, cp);
        }
    }
    return out;
}

} // namespace

std::u16string ZrUtf8ToUtf16(std::string_view utf8, bool keepSurrogates) {
    if (keepSurrogates)
        return DecodeKeepingSurrogates(utf8);
    std::u16string out;
    out.reserve(utf8.size());
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* end = p + utf8.size();
    while (p < end) {
        uint32_t cp = 0;
        const size_t length = SequenceLength(p, end, false, cp);
        if (length == 0) {
            out += static_cast<char16_t>(EscapedByte + *p++);
            continue;
        }
        p += length;
        AppendCodePointUtf16(out, cp);
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
        } else if (IsEscapedByte(c)) {
            out += static_cast<char>(c - EscapedByte);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            AppendCodePointUtf8(out, Replacement);
        } else {
            AppendCodePointUtf8(out, c);
        }
    }
    return out;
}

bool ZrIsValidUtf8(std::string_view utf8) {
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* end = p + utf8.size();
    while (p < end) {
        uint32_t cp = 0;
        const size_t length = SequenceLength(p, end, false, cp);
        if (length == 0)
            return false;
        p += length;
    }
    return true;
}

std::string ZrEscapeInvalidUtf8(std::string_view bytes) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        uint32_t cp = 0;
        const size_t length = SequenceLength(p, end, false, cp);
        if (length == 0) {
            out += "\\x";
            out += Hex[*p >> 4];
            out += Hex[*p & 15];
            ++p;
            continue;
        }
        out.append(reinterpret_cast<const char*>(p), length);
        p += length;
    }
    return out;
}

void ZrAppendCodeUnitUtf8(std::string& out, char16_t unit) {
    AppendCodePointUtf8(out, unit);
}
