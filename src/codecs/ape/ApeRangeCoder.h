// The entropy coder of a frame: a byte-wise range coder (31-bit low, carry propagated through a
// count of pending 0xFF bytes) carrying each residual as an overflow symbol from a fixed table
// plus a uniformly coded remainder, both scaled by a running mean of the channel's magnitudes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ape {

// What the coder adapts per channel: 16 x the running mean of the coded magnitudes.
struct ResidualState {
    uint32_t KSum = InitialKSum;
    static constexpr uint32_t InitialKSum = (1u << 10) * 16;
    void Reset() { KSum = InitialKSum; }
};

class CApeRangeCoder {
public:
    // The bytes Encode may need for `values` residuals, with the flush: a bound, never reached
    // by real audio (an escaped overflow and a 27-bit remainder take under 10 bytes).
    static size_t WorstCaseBytes(size_t values) { return values * 12 + 16; }

    // Starts a fresh coder writing to `out`, which holds at least WorstCaseBytes.
    void Begin(uint8_t* out);
    // One channel's residuals.
    void Encode(const int32_t* residuals, size_t count, ResidualState& state);
    // Two channels' residuals interleaved: first[0], second[0], first[1], ...
    void EncodeInterleaved(const int32_t* first, ResidualState& firstState, const int32_t* second,
                           ResidualState& secondState, size_t count);
    // Flushes the coder so that a decoder can read every value; returns the bytes written since
    // Begin.
    size_t Finish();

private:
    void Encode(int32_t residual, ResidualState& state);
    void Normalize() {
        while (m_range <= Bottom)
            ShiftLow();
    }
    void ShiftLow();
    // An interval of `width` out of 65536 starting at `start`.
    void EncodeSymbol(uint32_t start, uint32_t width) {
        Normalize();
        const uint32_t unit = m_range >> 16;
        m_range = unit * width;
        m_low += unit * start;
    }
    // `value` out of `total` equally likely values.
    void EncodeUniform(uint32_t value, uint32_t total) {
        Normalize();
        const uint32_t unit = m_range / total;
        m_range = unit;
        m_low += unit * value;
    }
    void Put(uint8_t byte) { *m_out++ = byte; }

    static constexpr uint32_t Top = 1u << 31;
    static constexpr uint32_t Bottom = Top >> 8;
    static constexpr int ShiftBits = 23;

    uint8_t* m_begin = nullptr;
    uint8_t* m_out = nullptr;
    uint32_t m_low = 0;
    uint32_t m_range = Top;
    uint32_t m_pendingFF = 0; // bytes of 0xFF (or 0x00 after a carry) still to come
    uint8_t m_cache = 0;      // the byte before them, still open to a carry
};

} // namespace ape
