// The prediction of one channel of a frame, in three stages:
//  1. a fixed first-order filter (x - 31/32 of the previous x) on the channel and on a second,
//     "cross" input (for stereo, the other channel);
//  2. an adaptive sign-sign predictor of the filtered channel from its last value and last three
//     differences, plus the cross input's current value and last four differences;
//  3. the level's chain of adaptive filters (CApeNNFilter) on what stage 2 leaves.
// Every stage restarts at each frame, as decoders do.
#pragma once

#include "codecs/ape/ApeNNFilter.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ape {

class CApePredictor {
public:
    explicit CApePredictor(int level);

    void Reset();
    // Residuals of `count` values of a channel without a cross input (mono, or both channels
    // of a stereo frame whose channels are equal) into `out`.
    void Compress(const int32_t* channel, int32_t* out, size_t count);
    // Residuals of a stereo frame: Y with the previous X as its cross input, X with the current
    // Y. The two channels go side by side, so that their chains of dependent steps overlap.
    static void CompressStereo(CApePredictor& yPredictor, const int32_t* y, int32_t* yOut,
                               CApePredictor& xPredictor, const int32_t* x, int32_t* xOut,
                               size_t count);

private:
    template <bool HasCross>
    int32_t Step(int32_t value, int32_t crossValue);

    // Stage 1 memories: the previous raw inputs.
    int32_t m_lastChannel = 0;
    int32_t m_lastCross = 0;
    // Stage 2 history of the filtered channel: last value, then the last three differences.
    int32_t m_history[4] = {};
    // Filtered cross input: previous value and the last three differences.
    int32_t m_lastFilteredCross = 0;
    int32_t m_crossDifferences[3] = {};
    int32_t m_weights[4] = {};      // for m_history
    int32_t m_crossWeights[5] = {}; // current value, current difference, m_crossDifferences
    std::vector<CApeNNFilter> m_filters;
};

} // namespace ape
