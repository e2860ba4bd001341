// The one-bit modulator of the DSD engine: a dithered seventh-order delta-sigma loop fed by
// linear interpolation from the intermediate rate, eight one-bit samples per output byte.
//
// The bits it gives are fixed: every floating-point operation happens in the order the loop is
// written, without contraction (this file's code is built with -ffp-contract=off). The channels
// share one dither generator that advances channel after channel; since a linear congruential
// generator can jump ahead in O(log n), every channel's dither is known up front and several
// channels run side by side in vector registers with exactly the values each would have had in
// turn.
#pragma once

#include <cstddef>
#include <cstdint>

// One channel's loop memory; all zero at the start.
struct ZrDsdModulatorState {
    double E = 0;   // last quantisation error, clamped
    double P = 0;   // previous input sample
    double S1 = 0;  // last output of filter section 1 ...
    double S1p = 0; // ... and the one before it
    double S2 = 0;
    double S2p = 0;
    double S3 = 0;
    double S3p = 0;
    double S4 = 0;
    double S4p = 0;
};

// The dither generator: state = state * 214013 + 2531011 (mod 2^32), twice per one-bit sample.
struct ZrDsdDither {
    static constexpr uint32_t Multiplier = 214013;
    static constexpr uint32_t Increment = 2531011;

    static constexpr uint32_t Next(uint32_t state) { return state * Multiplier + Increment; }
    // The state `steps` advances on, in O(log steps).
    static uint32_t Skip(uint32_t state, uint64_t steps);
};

// Modulates `frames` frames of interleaved input (`channels` 64-bit floats each) at `ratio`
// (8, 16, 32 or 64) one-bit samples per input sample. Channel c's bytes go to output[c],
// output[c + channels], ... (frames * ratio / 8 of them, earliest sample in the most significant
// bit). `states` holds one entry per channel; `dither` is the shared generator state, advanced
// as if channel 0 ran over all its frames first, then channel 1, and so on.
void ZrDsdModulate(const double* input, size_t frames, uint32_t channels, uint32_t ratio,
                   ZrDsdModulatorState* states, uint32_t& dither, uint8_t* output);

// The builds of the modulator; all give the same bits. The fastest one the processor has is
// chosen on first use.
enum class ZrDsdKernel {
    Portable, // one channel at a time, plain C++
    Sse2,     // pairs of channels in SSE2 registers
    Avx2,     // the same with three-operand instructions
    Avx512,   // the same with 32 vector registers
};

// For tests and benchmarks: false when this processor or build lacks the kernel.
bool ZrDsdSelectKernel(ZrDsdKernel kernel);
ZrDsdKernel ZrDsdActiveKernel();
