#include "codecs/ape/ApeRangeCoder.h"

#include <algorithm>
#include <array>
#include <bit>

namespace ape {

namespace {

// Frequencies (out of 65536) of the overflow symbols 0..20; symbols 21..63 get one each, and
// 63 escapes to an overflow sent as 32 plain bits.
constexpr std::array<uint16_t, 21> CommonWidths = {19578, 16582, 12257, 7906, 4576, 2366, 1170,
                                                   536,   261,   119,   65,   31,   19,   10,
                                                   6,     3,     3,     2,    1,    1,    1};
constexpr uint32_t EscapeSymbol = 63;

struct SymbolTable {
    std::array<uint32_t, 64> Start{};
    std::array<uint32_t, 64> Width{};
};

constexpr SymbolTable MakeSymbolTable() {
    SymbolTable table;
    uint32_t start = 0;
    for (uint32_t s = 0; s < 64; ++s) {
        table.Start[s] = start;
        table.Width[s] = s < CommonWidths.size() ? CommonWidths[s] : 1;
        start += table.Width[s];
    }
    return table;
}

constexpr SymbolTable Symbols = MakeSymbolTable();
static_assert(Symbols.Start[21] == 65493 && Symbols.Start[EscapeSymbol] == 65535);

} // namespace

void CApeRangeCoder::Begin(uint8_t* out) {
    m_begin = m_out = out;
    m_low = 0;
    m_range = Top;
    m_pendingFF = 0;
    m_cache = 0; // becomes the first byte, which decoders skip
}

[[gnu::always_inline]] inline void CApeRangeCoder::ShiftLow() {
    if (m_low < (0xFFu << ShiftBits)) {
        Put(m_cache);
        for (; m_pendingFF; --m_pendingFF)
            Put(0xFF);
        m_cache = static_cast<uint8_t>(m_low >> ShiftBits);
    } else if (m_low & Top) {
        // The carry turns the cached byte up by one and every pending 0xFF into 0x00.
        Put(static_cast<uint8_t>(m_cache + 1));
        for (; m_pendingFF; --m_pendingFF)
            Put(0x00);
        m_cache = static_cast<uint8_t>(m_low >> ShiftBits);
    } else {
        ++m_pendingFF;
    }
    m_low = (m_low << 8) & (Top - 1);
    m_range <<= 8;
}

[[gnu::always_inline]] inline void CApeRangeCoder::Encode(int32_t residual, ResidualState& state) {
    // Interleave signs: 1, -1, 2, -2 ... become 1, 2, 3, 4 ...
    const uint32_t magnitude = residual > 0 ? 2u * static_cast<uint32_t>(residual) - 1u
                                            : 2u * (0u - static_cast<uint32_t>(residual));
    const uint32_t pivot = std::max<uint32_t>(state.KSum >> 5, 1u);
    const uint32_t overflow = magnitude / pivot;
    const uint32_t base = magnitude - overflow * pivot;
    state.KSum += static_cast<uint32_t>((uint64_t{magnitude} + 1) / 2) - ((state.KSum + 16) >> 5);

    if (overflow < EscapeSymbol) {
        EncodeSymbol(Symbols.Start[overflow], Symbols.Width[overflow]);
    } else {
        EncodeSymbol(Symbols.Start[EscapeSymbol], Symbols.Width[EscapeSymbol]);
        EncodeSymbol((overflow >> 16) & 0xFFFF, 1);
        EncodeSymbol(overflow & 0xFFFF, 1);
    }

    if (pivot < (1u << 16)) {
        EncodeUniform(base, pivot);
        return;
    }
    // A divisor must stay below 2^16: send the remainder as a coarse part over pivot / split + 1
    // (one more, since the rounded-down parts may meet) and a fine part over split.
    const uint32_t split = 1u << (std::bit_width(pivot) - 16);
    EncodeUniform(base / split, pivot / split + 1);
    EncodeUniform(base % split, split);
}

void CApeRangeCoder::Encode(const int32_t* residuals, size_t count, ResidualState& state) {
    for (size_t t = 0; t < count; ++t)
        Encode(residuals[t], state);
}

void CApeRangeCoder::EncodeInterleaved(const int32_t* first, ResidualState& firstState,
                                       const int32_t* second, ResidualState& secondState,
                                       size_t count) {
    for (size_t t = 0; t < count; ++t) {
        Encode(first[t], firstState);
        Encode(second[t], secondState);
    }
}

size_t CApeRangeCoder::Finish() {
    Normalize();
    const uint32_t last = (m_low >> ShiftBits) + 1;
    if (last > 0xFF) {
        Put(static_cast<uint8_t>(m_cache + 1));
        for (; m_pendingFF; --m_pendingFF)
            Put(0x00);
    } else {
        Put(m_cache);
        for (; m_pendingFF; --m_pendingFF)
            Put(0xFF);
    }
    // Decoders read ahead by up to four bytes past the last value.
    Put(static_cast<uint8_t>(last));
    Put(0);
    Put(0);
    Put(0);
    return static_cast<size_t>(m_out - m_begin);
}

} // namespace ape
