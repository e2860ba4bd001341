#include "codecs/ape/ApeNNFilter.h"

#include <algorithm>
#include <cstring>

namespace ape {

namespace {

// Plain loops over whole 16-tap groups: the compiler turns them into 16-bit multiply-adds
// (pmaddwd) and 16-bit adds, as wide as the target allows. The sums wrap at 32 bits, as the
// decoders' vector code does.
[[gnu::always_inline]] inline uint32_t DotProduct(const int16_t* __restrict history,
                                                  const int16_t* __restrict taps, int order) {
    uint32_t sum = 0;
    for (int i = 0; i < order; ++i)
        sum += static_cast<uint32_t>(int32_t{history[i]} * int32_t{taps[i]});
    return sum;
}

[[gnu::always_inline]] inline void AddSteps(int16_t* __restrict taps,
                                            const int16_t* __restrict steps, int order) {
    for (int i = 0; i < order; ++i)
        taps[i] = static_cast<int16_t>(taps[i] + steps[i]);
}

[[gnu::always_inline]] inline void SubtractSteps(int16_t* __restrict taps,
                                                 const int16_t* __restrict steps, int order) {
    for (int i = 0; i < order; ++i)
        taps[i] = static_cast<int16_t>(taps[i] - steps[i]);
}

inline int16_t Saturate16(int32_t value) {
    return static_cast<int16_t>(std::clamp<int32_t>(value, INT16_MIN, INT16_MAX));
}

struct FilterRun {
    int16_t* Taps;
    int16_t* Input;
    int16_t* Steps;
    size_t Position;
    int32_t RunningMean;
    int Order;
    int Shift;
};

// The filter over `count` values whose history fits the window. Cloned per instruction set:
// the dot product and the tap update are most of the time of the slower levels.
__attribute__((target_clones("avx2", "default"))) void
FilterValues(FilterRun& run, int32_t* __restrict values, size_t count) {
    const int order = run.Order;
    const int64_t rounding = int64_t{1} << (run.Shift - 1);
    int16_t* __restrict taps = run.Taps;
    size_t position = run.Position;
    int32_t mean = run.RunningMean;

    for (size_t n = 0; n < count; ++n) {
        const int32_t value = values[n];
        int16_t* const steps = run.Steps + position;
        const int32_t dot =
            static_cast<int32_t>(DotProduct(run.Input + position - order, taps, order));
        const int32_t prediction = static_cast<int32_t>((dot + rounding) >> run.Shift);
        const int32_t residual =
            static_cast<int32_t>(static_cast<uint32_t>(value) - static_cast<uint32_t>(prediction));
        values[n] = residual;

        // Sign-sign adaption: move every tap by its step against the residual's sign.
        if (residual > 0)
            SubtractSteps(taps, steps - order, order);
        else if (residual < 0)
            AddSteps(taps, steps - order, order);

        run.Input[position] = Saturate16(value);

        // The step of this value: 8, 16 or 32 against its sign, larger for larger magnitudes
        // than the running mean; older steps decay at fixed distances.
        const int64_t magnitude = value < 0 ? -int64_t{value} : int64_t{value};
        int16_t step = 0;
        if (magnitude > int64_t{mean} * 3)
            step = 32;
        else if (magnitude > (int64_t{mean} * 4) / 3)
            step = 16;
        else if (magnitude > 0)
            step = 8;
        steps[0] = value > 0 ? static_cast<int16_t>(-step) : step;
        mean += static_cast<int32_t>((magnitude - mean) / 16);
        steps[-1] = static_cast<int16_t>(steps[-1] >> 1);
        steps[-2] = static_cast<int16_t>(steps[-2] >> 1);
        steps[-8] = static_cast<int16_t>(steps[-8] >> 1);
        ++position;
    }
    run.Position = position;
    run.RunningMean = mean;
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
    while (count) {
        if (m_position == m_input.size())
            Roll();
        const size_t batch = std::min(count, m_input.size() - m_position);
        FilterRun run{m_taps,        m_input.data(), m_steps.data(), m_position,
                      m_runningMean, m_order,        m_shift};
        FilterValues(run, values, batch);
        m_position = run.Position;
        m_runningMean = run.RunningMean;
        values += batch;
        count -= batch;
    }
}

} // namespace ape
