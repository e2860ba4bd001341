#include "tools/ZrToolsStrings.h"

#include "tools/ZrNoDestroy.h"

#include <clocale>
#include <locale.h>
#include <string>
#include <string_view>
#include <vector>
#include <wctype.h>

namespace {

// The folding must not depend on the host's locale: a fixed UTF-8 locale, or ASCII when the
// system has none.
locale_t FoldLocale() {
    static const locale_t locale = [] {
        locale_t made = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
        return made ? made : ::newlocale(LC_CTYPE_MASK, "en_US.UTF-8", locale_t(0));
    }();
    return locale;
}

char32_t Fold(char32_t c) {
    if (c < 0x80)
        return (c >= U'A' && c <= U'Z') ? c + 32 : c;
    const locale_t locale = FoldLocale();
    if (!locale)
        return c;
    return static_cast<char32_t>(
        ::towlower_l(::towupper_l(static_cast<wint_t>(c), locale), locale));
}

struct Folded {
    std::vector<char32_t> Chars;
    std::vector<size_t> Offsets; // code-unit offset of each character, and the end
};

Folded FoldText(std::u16string_view text) {
    Folded out;
    for (size_t i = 0; i < text.size();) {
        char32_t c = text[i];
        size_t units = 1;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            units = 2;
        }
        out.Chars.push_back(Fold(c));
        out.Offsets.push_back(i);
        i += units;
    }
    out.Offsets.push_back(text.size());
    return out;
}

// Index into text.Chars of the first match at or after character `from`; -1 when none.
long FindFolded(const Folded& text, const Folded& what, size_t from) {
    if (what.Chars.empty() || what.Chars.size() > text.Chars.size())
        return -1;
    for (size_t at = from; at + what.Chars.size() <= text.Chars.size(); ++at) {
        size_t i = 0;
        while (i < what.Chars.size() && text.Chars[at + i] == what.Chars[i])
            ++i;
        if (i == what.Chars.size())
            return static_cast<long>(at);
    }
    return -1;
}

std::u16string_view View(const char16_t* text) {
    return text ? std::u16string_view(text) : std::u16string_view();
}

} // namespace

ZrToolsStrings& ZrToolsStrings::Instance() {
    static ZrNoDestroy<ZrToolsStrings> strings;
    return strings.Value;
}

int32_t ZrToolsStrings::Find(const char16_t* text, const char16_t* what, int32_t start) {
    const std::u16string_view whole = View(text);
    if (start < 0 || static_cast<size_t>(start) > whole.size())
        return -1;
    const Folded folded = FoldText(whole);
    size_t from = 0;
    while (folded.Offsets[from] < static_cast<size_t>(start))
        ++from;
    const long at = FindFolded(folded, FoldText(View(what)), from);
    return at < 0 ? -1 : static_cast<int32_t>(folded.Offsets[static_cast<size_t>(at)]);
}

ZrSysString ZrToolsStrings::ReplaceAll(const char16_t* text, const char16_t* what,
                                       const char16_t* with) {
    const std::u16string_view whole = View(text);
    const Folded folded = FoldText(whole);
    const Folded pattern = FoldText(View(what));
    std::u16string out;
    size_t copied = 0; // code units
    for (long at = 0; (at = FindFolded(folded, pattern, static_cast<size_t>(at))) >= 0;) {
        const size_t begin = folded.Offsets[static_cast<size_t>(at)];
        out.append(whole.substr(copied, begin - copied)).append(View(with));
        at += static_cast<long>(pattern.Chars.size());
        copied = folded.Offsets[static_cast<size_t>(at)];
    }
    out.append(whole.substr(copied));
    return SysAllocStringLen(out.data(), static_cast<uint32_t>(out.size()));
}
