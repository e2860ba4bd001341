// One adaptive filter stage of the higher compression levels: a sign-sign LMS predictor of
// `order` 16-bit taps over the stage's own (saturated) input, whose step size follows how the
// input compares with its running mean. The encoder's arithmetic must match the decoders' to
// the bit: 32-bit wrapping dot product, 16-bit wrapping taps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ape {

class CApeNNFilter {
public:
    // `order` is 16 or a multiple of 32; `shift` scales the dot product down.
    CApeNNFilter(int order, int shift);

    void Reset();
    // Replaces every value by its residual, first to last.
    void Compress(int32_t* values, size_t count);
    // Two filters of one order, reset together, each over its own values: stepped side by side
    // so that their chains of dependent steps overlap.
    static void CompressPair(CApeNNFilter& first, int32_t* firstValues, CApeNNFilter& second,
                             int32_t* secondValues, size_t count);

private:
    // 64 bytes: keeps the taps on cache-line (and vector) boundaries.
    struct alignas(64) TapBlock {
        int16_t Taps[32];
    };
    static constexpr size_t Window = 4096; // values between two moves of the history

    void Roll();
    static void Run(CApeNNFilter* const* filters, int32_t** values, int lanes, size_t count);

    int m_order;
    int m_shift;
    int32_t m_runningMean = 0;
    std::vector<TapBlock> m_tapBlocks;
    int16_t* m_taps;
    // Input (saturated) and step history: `order` values of the past, then the window.
    std::vector<int16_t> m_input;
    std::vector<int16_t> m_steps;
    size_t m_position = 0; // index of the value being filtered
};

} // namespace ape
