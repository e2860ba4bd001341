#include "mp4/MP4Error.h"

#include "foundation/ZrUtf.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

void Mp4Raise(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    char small[256];
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    std::string message;
    if (needed >= 0 && static_cast<size_t>(needed) < sizeof small) {
        message.assign(small, static_cast<size_t>(needed));
    } else if (needed >= 0) {
        std::vector<char> big(static_cast<size_t>(needed) + 1);
        std::vsnprintf(big.data(), big.size(), format, again);
        message.assign(big.data(), static_cast<size_t>(needed));
    }
    va_end(again);
    throw CMP4Error(std::move(message));
}

std::string FourCCText(FourCC code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto c = static_cast<uint8_t>(code >> shift);
        if (c < 0x20 || c == 0x7F) {
            text += '?';
        } else if (c < 0x80) {
            text += static_cast<char>(c);
        } else {
            text += ZrUtf16ToUtf8(std::u16string(1, static_cast<char16_t>(c))); // Latin-1
        }
    }
    return text;
}
