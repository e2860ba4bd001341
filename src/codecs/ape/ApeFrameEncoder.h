// One frame: the CRC of its PCM, the frame codes, and the range-coded residuals of its channels.
#pragma once

#include "codecs/ape/ApePredictor.h"
#include "codecs/ape/ApeRangeCoder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ape {

class CApeFrameEncoder {
public:
    // `bits` 8, 16 or 24; `channels` 1 or 2. Working memory grows with the longest frame.
    CApeFrameEncoder(int bits, int channels, int level);

    // The most bytes a frame of `blocks` blocks can take.
    size_t MaxBytes(uint32_t blocks) const {
        return 8 + CApeRangeCoder::WorstCaseBytes(size_t{blocks} * static_cast<size_t>(m_channels));
    }
    // Writes the frame made of `blocks` blocks of interleaved little-endian PCM (8-bit unsigned)
    // to `out`, which holds MaxBytes(blocks), in stream byte order; returns its size. Throws
    // std::bad_alloc when its working memory cannot grow.
    size_t Encode(const uint8_t* pcm, uint32_t blocks, uint8_t* out);

private:
    // Splits the PCM into m_x (and m_y); returns the frame codes.
    uint32_t Unpack(const uint8_t* pcm, uint32_t blocks);
    template <int Bits>
    uint32_t UnpackAs(const uint8_t* pcm, uint32_t blocks);
    // Predicts and codes the channels; returns the bytes written.
    size_t Code(uint32_t codes, uint32_t blocks, uint8_t* out);

    int m_bits;
    int m_channels;
    // Stereo is coded as X = first + (second - first) / 2 and Y = second - first.
    std::vector<int32_t> m_x;
    std::vector<int32_t> m_y;
    std::vector<int32_t> m_residualX;
    std::vector<int32_t> m_residualY;
    CApePredictor m_predictorX;
    CApePredictor m_predictorY;
    ResidualState m_stateX;
    ResidualState m_stateY;
    CApeRangeCoder m_coder;
};

} // namespace ape
