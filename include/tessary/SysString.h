// System strings: the texts that cross the encoder interface.
//
// A system string is one malloc'd block: a 32-bit byte length (not counting the terminator),
// then the UTF-16 characters, then a NUL character. The pointer handed out points at the
// first character, so it can be read as a plain NUL-terminated char16_t text. Whoever
// receives a system string owns it and frees it with SysFreeString; because every function
// here is inline, a host built against this header frees what the library allocated and
// the other way round.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

using ZrSysString = char16_t*;

// Returns a new system string holding the first `length` characters of `text` (which may
// hold NULs), or `length` uninitialised characters when `text` is null. Returns null when
// memory runs out. The caller frees the result with SysFreeString.
inline ZrSysString SysAllocStringLen(const char16_t* text, uint32_t length) {
    const uint64_t bytes = uint64_t{length} * sizeof(char16_t);
    if (bytes > 0xFFFFFFF0u)
        return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(uint32_t) + bytes + 2));
    if (!block)
        return nullptr;
    const uint32_t byteLength = static_cast<uint32_t>(bytes);
    std::memcpy(block, &byteLength, sizeof byteLength);
    auto* chars = reinterpret_cast<char16_t*>(block + sizeof(uint32_t));
    if (text && length)
        std::memcpy(chars, text, bytes);
    chars[length] = u'\0';
    return chars;
}

// Returns a new system string copied from the NUL-terminated `text`; null for a null text.
inline ZrSysString SysAllocString(const char16_t* text) {
    if (!text)
        return nullptr;
    uint32_t length = 0;
    while (text[length])
        ++length;
    return SysAllocStringLen(text, length);
}

// Length in characters, from the stored byte length; 0 for null.
inline uint32_t SysStringLen(const char16_t* text) {
    if (!text)
        return 0;
    uint32_t byteLength;
    std::memcpy(&byteLength, reinterpret_cast<const unsigned char*>(text) - sizeof(uint32_t),
                sizeof byteLength);
    return byteLength / sizeof(char16_t);
}

// Frees a system string; null is allowed and ignored.
inline void SysFreeString(char16_t* text) {
    if (text)
        std::free(reinterpret_cast<unsigned char*>(text) - sizeof(uint32_t));
}
