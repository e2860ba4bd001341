// Little- and big-endian loads and stores at any address, and in-place group reversal. Each
// fixed-width access compiles to one load or store (and a byte swap where the order differs).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

namespace zrbytes {

namespace detail {

template <typename T>
constexpr T Swap(T v) noexcept {
    if constexpr (sizeof(T) == 1)
        return v;
    else if constexpr (sizeof(T) == 2)
        return __builtin_bswap16(v);
    else if constexpr (sizeof(T) == 4)
        return __builtin_bswap32(v);
    else
        return __builtin_bswap64(v);
}

template <typename T, std::endian Order>
constexpr T Load(const uint8_t* p) noexcept {
    if (std::is_constant_evaluated()) {
        T v = 0;
        for (size_t i = 0; i < sizeof(T); ++i)
            v |= T{p[Order == std::endian::little ? i : sizeof(T) - 1 - i]} << (8 * i);
        return v;
    }
    T v;
    std::memcpy(&v, p, sizeof v);
    return Order == std::endian::native ? v : Swap(v);
}

template <typename T, std::endian Order>
constexpr void Store(uint8_t* p, T v) noexcept {
    if (std::is_constant_evaluated()) {
        for (size_t i = 0; i < sizeof(T); ++i)
            p[Order == std::endian::little ? i : sizeof(T) - 1 - i] =
                static_cast<uint8_t>(v >> (8 * i));
        return;
    }
    if (Order != std::endian::native)
        v = Swap(v);
    std::memcpy(p, &v, sizeof v);
}

} // namespace detail

static_assert(std::endian::native == std::endian::little ||
              std::endian::native == std::endian::big);

constexpr uint16_t LoadLE16(const uint8_t* p) noexcept {
    return detail::Load<uint16_t, std::endian::little>(p);
}
constexpr uint32_t LoadLE32(const uint8_t* p) noexcept {
    return detail::Load<uint32_t, std::endian::little>(p);
}
constexpr uint64_t LoadLE64(const uint8_t* p) noexcept {
    return detail::Load<uint64_t, std::endian::little>(p);
}
constexpr uint16_t LoadBE16(const uint8_t* p) noexcept {
    return detail::Load<uint16_t, std::endian::big>(p);
}
constexpr uint32_t LoadBE32(const uint8_t* p) noexcept {
    return detail::Load<uint32_t, std::endian::big>(p);
}
constexpr uint64_t LoadBE64(const uint8_t* p) noexcept {
    return detail::Load<uint64_t, std::endian::big>(p);
}
// Three bytes; compilers fuse the shifts into a 16-bit and an 8-bit load.
constexpr uint32_t LoadLE24(const uint8_t* p) noexcept {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
}
constexpr uint32_t LoadBE24(const uint8_t* p) noexcept {
    return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | uint32_t{p[2]};
}

constexpr void StoreLE16(uint8_t* p, uint16_t v) noexcept {
    detail::Store<uint16_t, std::endian::little>(p, v);
}
constexpr void StoreLE32(uint8_t* p, uint32_t v) noexcept {
    detail::Store<uint32_t, std::endian::little>(p, v);
}
constexpr void StoreLE64(uint8_t* p, uint64_t v) noexcept {
    detail::Store<uint64_t, std::endian::little>(p, v);
}
constexpr void StoreBE16(uint8_t* p, uint16_t v) noexcept {
    detail::Store<uint16_t, std::endian::big>(p, v);
}
constexpr void StoreBE32(uint8_t* p, uint32_t v) noexcept {
    detail::Store<uint32_t, std::endian::big>(p, v);
}
constexpr void StoreBE64(uint8_t* p, uint64_t v) noexcept {
    detail::Store<uint64_t, std::endian::big>(p, v);
}
constexpr void StoreLE24(uint8_t* p, uint32_t v) noexcept {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
}

// Big-endian integers of 0 to 8 bytes, for fields whose width is only known at run time.
constexpr uint64_t LoadBE(const uint8_t* p, unsigned bytes) noexcept {
    uint64_t v = 0;
    for (unsigned i = 0; i < bytes; ++i)
        v = v << 8 | p[i];
    return v;
}
constexpr void StoreBE(uint8_t* p, uint64_t v, unsigned bytes) noexcept {
    for (unsigned i = 0; i < bytes; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * (bytes - 1 - i)));
}

template <unsigned Width>
void ReverseFixed(uint8_t* data, uint64_t length) {
    const uint64_t last = length - Width;
    for (uint64_t offset = 0; offset <= last; offset += Width)
        for (unsigned i = 0, j = Width - 1; i < j; ++i, --j)
            std::swap(data[offset + i], data[offset + j]);
}

// Reverses the bytes of every whole `width`-byte group; a trailing partial group stays as it is.
// Widths of 1 byte, or other than 2, 3, 4 and 8, are left alone.
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
