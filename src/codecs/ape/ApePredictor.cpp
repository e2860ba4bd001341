#include "codecs/ape/ApePredictor.h"

#include "codecs/ape/ApeFileFormat.h"

namespace ape {

namespace {

struct FilterSpec {
    int Order;
    int Shift;
};

// The adaptive filter chain of each level, in the order the encoder applies it.
std::vector<FilterSpec> FiltersOf(int level) {
    switch (level) {
    case LevelNormal:
        return {{16, 11}};
    case LevelHigh:
        return {{64, 11}};
    case LevelExtraHigh:
        return {{256, 13}, {32, 10}};
    case LevelInsane:
        return {{1024 + 256, 15}, {256, 13}, {16, 11}};
    default:
        return {};
    }
}

inline int32_t Sign(int32_t v) {
    return (v > 0) - (v < 0);
}

// The first-order stage: x minus 31/32 of the previous x.
inline int32_t FirstOrder(int32_t value, int32_t previous) {
    return value - ((previous * 31) >> 5);
}

// Products and sums wrap at 32 bits, exactly as in every decoder's 32-bit predictor.
inline uint32_t WrapMul(int32_t a, int32_t b) {
    return static_cast<uint32_t>(a) * static_cast<uint32_t>(b);
}

} // namespace

CApePredictor::CApePredictor(int level) {
    for (const FilterSpec& spec : FiltersOf(level))
        m_filters.emplace_back(spec.Order, spec.Shift);
    Reset();
}

void CApePredictor::Reset() {
    m_lastChannel = m_lastCross = 0;
    m_lastFilteredCross = 0;
    for (int32_t& v : m_history)
        v = 0;
    for (int32_t& v : m_crossDifferences)
        v = 0;
    // The starting weights favour "the next value is close to the last one".
    m_weights[0] = 360;
    m_weights[1] = 317;
    m_weights[2] = -109;
    m_weights[3] = 98;
    for (int32_t& w : m_crossWeights)
        w = 0;
    for (CApeNNFilter& filter : m_filters)
        filter.Reset();
}

template <bool HasCross>
[[gnu::always_inline]] inline int32_t CApePredictor::Step(int32_t value, int32_t crossValue) {
    int32_t* const h = m_history;
    int32_t* const w = m_weights;
    const int32_t filtered = FirstOrder(value, m_lastChannel);
    m_lastChannel = value;

    uint32_t prediction =
        WrapMul(h[0], w[0]) + WrapMul(h[1], w[1]) + WrapMul(h[2], w[2]) + WrapMul(h[3], w[3]);
    int32_t c[5] = {};
    if constexpr (HasCross) {
        const int32_t filteredCross = FirstOrder(crossValue, m_lastCross);
        m_lastCross = crossValue;
        c[0] = filteredCross;
        c[1] = filteredCross - m_lastFilteredCross;
        c[2] = m_crossDifferences[0];
        c[3] = m_crossDifferences[1];
        c[4] = m_crossDifferences[2];
        const int32_t* const cw = m_crossWeights;
        const uint32_t crossPrediction = WrapMul(c[0], cw[0]) + WrapMul(c[1], cw[1]) +
                                         WrapMul(c[2], cw[2]) + WrapMul(c[3], cw[3]) +
                                         WrapMul(c[4], cw[4]);
        prediction += static_cast<uint32_t>(static_cast<int32_t>(crossPrediction) >> 1);
    }
    const int32_t residual =
        static_cast<int32_t>(static_cast<uint32_t>(filtered) -
                             static_cast<uint32_t>(static_cast<int32_t>(prediction) >> 10));

    // Sign-sign adaption of every weight.
    const int32_t direction = Sign(residual);
    for (int i = 0; i < 4; ++i)
        w[i] += direction * Sign(h[i]);
    if constexpr (HasCross) {
        for (int i = 0; i < 5; ++i)
            m_crossWeights[i] += direction * Sign(c[i]);
    }

    h[3] = h[2];
    h[2] = h[1];
    h[1] = filtered - h[0];
    h[0] = filtered;
    if constexpr (HasCross) {
        m_crossDifferences[2] = m_crossDifferences[1];
        m_crossDifferences[1] = m_crossDifferences[0];
        m_crossDifferences[0] = c[1];
        m_lastFilteredCross = c[0];
    }
    return residual;
}

void CApePredictor::Compress(const int32_t* channel, int32_t* out, size_t count) {
    for (size_t t = 0; t < count; ++t)
        out[t] = Step<false>(channel[t], 0);
    for (CApeNNFilter& filter : m_filters)
        filter.Compress(out, count);
}

void CApePredictor::CompressStereo(CApePredictor& yPredictor, const int32_t* y, int32_t* yOut,
                                   CApePredictor& xPredictor, const int32_t* x, int32_t* xOut,
                                   size_t count) {
    int32_t previousX = 0;
    for (size_t t = 0; t < count; ++t) {
        yOut[t] = yPredictor.Step<true>(y[t], previousX);
        xOut[t] = xPredictor.Step<true>(x[t], y[t]);
        previousX = x[t];
    }
    for (size_t i = 0; i < yPredictor.m_filters.size(); ++i)
        CApeNNFilter::CompressPair(yPredictor.m_filters[i], yOut, xPredictor.m_filters[i], xOut,
                                   count);
}

} // namespace ape
