// Little- and big-endian stores and in-place sample swaps shared by the container writers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace zrbytes {

inline void PutLE16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void PutLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void PutBE16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

inline void PutBE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

template <unsigned Width>
void ReverseFixed(uint8_t* data, uint64_t length) {
    const uint64_t last = length - Width;
    for (uint64_t offset = 0; offset <= last; offset += Width)
        for (unsigned i = 0, j = Width - 1; i < j; ++i, --j)
            std::swap(data[offset + i], data[offset + j]);
}

// Reverses the bytes of every whole `width`-byte group; a trailing partial group stays as it is.
// Widths of 1 byte or more than 8 are left alone.
inline void ReverseGroups(uint8_t* data, uint64_t length, unsigned width) {
    if (width < 2 || length < width)
        return;
    switch (width) {
    case 2:
        ReverseFixed<2>(data, length);
        break;
    case 3:
        ReverseFixed<3>(data, length);
        break;
    case 4:
        ReverseFixed<4>(data, length);
        break;
    case 8:
        ReverseFixed<8>(data, length);
        break;
    default:
        break;
    }
}

} // namespace zrbytes
