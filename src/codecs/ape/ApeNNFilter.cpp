#include "codecs/ape/ApeNNFilter.h"

#include <algorithm>
#include <cstring>

namespace ape {

namespace {

// Plain loops over the taps: the compiler turns them into 16-bit multiply-adds (pmaddwd) and
// 16-bit multiplies and adds, as wide as the clone's target allows. Sums wrap at 32 bits, as
// the decoders' vector code does.
[[gnu::always_inline]] inline uint32_t DotProduct(const int16_t* __restrict history,
                                                  const int16_t* __restrict taps, int order) {
    uint32_t sum = 0;
    for (int i = 0; i < order; ++i)
        sum += static_cast<uint32_t>(int32_t{history[i]} * int32_t{taps[i]});
    return sum;
}

// Moves every tap by its step times `direction` (-1, 0 or 1): no branch on the residual's sign,
// which is as good as random.
[[gnu::always_inline]] inline void Adapt(int16_t* __restrict taps, const int16_t* __restrict steps,
                                         int16_t direction, int order) {
    for (int i = 0; i < order; ++i)
        taps[i] = static_cast<int16_t>(taps[i] + direction * steps[i]);
}

inline int16_t Saturate16(int32_t value) {
    return static_cast<int16_t>(std::clamp<int32_t>(value, INT16_MIN, INT16_MAX));
}

struct FilterRun {
    int16_t* Taps;
    int16_t* Input; // at the value being filtered
    int16_t* Steps; // likewise
    int32_t RunningMean;
};

// One value through one filter.
template <int FixedOrder>
[[gnu::always_inline]] inline int32_t FilterStep(FilterRun& run, int32_t value, int order,
                                                 int shift) {
    if constexpr (FixedOrder != 0)
        order = FixedOrder;
    int16_t* __restrict const taps = run.Taps;
    int16_t* const input = run.Input;
    int16_t* const steps = run.Steps;
    const int32_t dot = static_cast<int32_t>(DotProduct(input - order, taps, order));
    // The rounding is added in 64 bits, as ffmpeg and the format's current decoder do; decoders
    // that wrap it at 32 bits (JMAC) differ when the dot product is within the rounding of the
    // top of the range, which takes near-full-scale 24-bit input or a 16-bit square wave at the
    // insane level.
    const int32_t prediction = static_cast<int32_t>((dot + (int64_t{1} << (shift - 1))) >> shift);
    const int32_t residual =
        static_cast<int32_t>(static_cast<uint32_t>(value) - static_cast<uint32_t>(prediction));

    // Sign-sign adaption: every tap moves by its step against the residual's sign.
    Adapt(taps, steps - order, static_cast<int16_t>((residual < 0) - (residual > 0)), order);

    input[0] = Saturate16(value);

    // The step of this value: 8, 16 or 32 against its sign, larger for magnitudes above the
    // running mean; older steps decay at fixed distances.
    const int32_t mean = run.RunningMean;
    const int64_t magnitude = value < 0 ? -int64_t{value} : int64_t{value};
    int16_t step = 0;
    if (magnitude > int64_t{mean} * 3)
        step = 32;
    else if (magnitude > (int64_t{mean} * 4) / 3)
        step = 16;
    else if (magnitude > 0)
        step = 8;
    steps[0] = value > 0 ? static_cast<int16_t>(-step) : step;
    run.RunningMean = mean + static_cast<int32_t>((magnitude - mean) / 16);
    steps[-1] = static_cast<int16_t>(steps[-1] >> 1);
    steps[-2] = static_cast<int16_t>(steps[-2] >> 1);
    steps[-8] = static_cast<int16_t>(steps[-8] >> 1);
    ++run.Input;
    ++run.Steps;
    return residual;
}

// `Lanes` filters of one order side by side over `count` values each; the steps of different
// filters do not depend on each other, so the processor overlaps them.
template <int FixedOrder, int Lanes>
[[gnu::always_inline]] inline void FilterFixed(FilterRun* runs, int32_t* const* values,
                                               size_t count, int order, int shift) {
    FilterRun first = runs[0];
    FilterRun second = Lanes == 2 ? runs[1] : runs[0];
    int32_t* __restrict const a = values[0];
    int32_t* __restrict const b = values[Lanes - 1];
    for (size_t n = 0; n < count; ++n) {
        a[n] = FilterStep<FixedOrder>(first, a[n], order, shift);
        if constexpr (Lanes == 2)
            b[n] = FilterStep<FixedOrder>(second, b[n], order, shift);
    }
    runs[0] = first;
    if constexpr (Lanes == 2)
        runs[1] = second;
}

template <int Lanes>
[[gnu::always_inline]] inline void FilterLanes(FilterRun* runs, int32_t* const* values,
                                               size_t count, int order, int shift) {
    switch (order) {
    case 16:
        return FilterFixed<16, Lanes>(runs, values, count, order, shift);
    case 32:
        return FilterFixed<32, Lanes>(runs, values, count, order, shift);
    case 64:
        return FilterFixed<64, Lanes>(runs, values, count, order, shift);
    case 256:
        return FilterFixed<256, Lanes>(runs, values, count, order, shift);
    case 1280:
        return FilterFixed<1280, Lanes>(runs, values, count, order, shift);
    default:
        return FilterFixed<0, Lanes>(runs, values, count, order, shift);
    }
}

// Cloned per instruction set: the dot product and the tap update are most of the time of the
// slower levels.
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default"))) void
FilterValues(FilterRun* runs, int lanes, int32_t* const* values, size_t count, int order,
             int shift) {
    if (lanes == 2)
        FilterLanes<2>(runs, values, count, order, shift);
    else
        FilterLanes<1>(runs, values, count, order, shift);
}

} // namespace

CApeNNFilter::CApeNNFilter(int order, int shift)
    : m_order(order), m_shift(shift), m_tapBlocks((static_cast<size_t>(order) + 31) / 32),
      m_taps(m_tapBlocks.front().Taps), m_input(Window + static_cast<size_t>(order)),
      m_steps(Window + static_cast<size_t>(order)) {
    Reset();
}

void CApeNNFilter::Reset() {
    std::fill(m_tapBlocks.begin(), m_tapBlocks.end(), TapBlock{});
    std::fill(m_input.begin(), m_input.end(), int16_t{0});
    std::fill(m_steps.begin(), m_steps.end(), int16_t{0});
    m_position = static_cast<size_t>(m_order);
    m_runningMean = 0;
}

void CApeNNFilter::Roll() {
    const size_t order = static_cast<size_t>(m_order);
    std::memmove(m_input.data(), m_input.data() + m_position - order, order * sizeof(int16_t));
    std::memmove(m_steps.data(), m_steps.data() + m_position - order, order * sizeof(int16_t));
    m_position = order;
}

void CApeNNFilter::Compress(int32_t* values, size_t count) {
    CApeNNFilter* filters[1] = {this};
    int32_t* channels[1] = {values};
    Run(filters, channels, 1, count);
}

void CApeNNFilter::CompressPair(CApeNNFilter& first, int32_t* firstValues, CApeNNFilter& second,
                                int32_t* secondValues, size_t count) {
    CApeNNFilter* filters[2] = {&first, &second};
    int32_t* channels[2] = {firstValues, secondValues};
    Run(filters, channels, 2, count);
}

void CApeNNFilter::Run(CApeNNFilter* const* filters, int32_t** values, int lanes, size_t count) {
    CApeNNFilter& lead = *filters[0];
    while (count) {
        if (lead.m_position == lead.m_input.size()) {
            for (int i = 0; i < lanes; ++i)
                filters[i]->Roll();
        }
        const size_t batch = std::min(count, lead.m_input.size() - lead.m_position);
        FilterRun runs[2];
        for (int i = 0; i < lanes; ++i) {
            CApeNNFilter& f = *filters[i];
            runs[i] = {f.m_taps, f.m_input.data() + f.m_position, f.m_steps.data() + f.m_position,
                       f.m_runningMean};
        }
        FilterValues(runs, lanes, values, batch, lead.m_order, lead.m_shift);
        for (int i = 0; i < lanes; ++i) {
            filters[i]->m_position += batch;
            filters[i]->m_runningMean = runs[i].RunningMean;
            values[i] += batch;
        }
        count -= batch;
    }
}

} // namespace ape
