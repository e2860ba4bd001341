#include "codecs/ape/ApeFrameEncoder.h"

#include "codecs/ape/ApeFileFormat.h"
#include "foundation/ZrByteOrder.h"
#include "foundation/ZrPcm.h"

#include <zlib.h>

namespace ape {

namespace {

// The CRC-32 (IEEE, reflected) of the frame's PCM bytes exactly as the input held them.
uint32_t PcmCrc(const uint8_t* pcm, size_t bytes) {
    return static_cast<uint32_t>(crc32_z(0, pcm, bytes));
}

} // namespace

CApeFrameEncoder::CApeFrameEncoder(int bits, int channels, int level)
    : m_bits(bits), m_channels(channels), m_predictorX(level), m_predictorY(level) {}

size_t CApeFrameEncoder::Encode(const uint8_t* pcm, uint32_t blocks, uint8_t* out) {
    if (m_x.size() < blocks) {
        m_x.resize(blocks);
        m_residualX.resize(blocks);
        if (m_channels == 2) {
            m_y.resize(blocks);
            m_residualY.resize(blocks);
        }
    }
    const size_t bytes = size_t{blocks} * static_cast<size_t>(m_channels * m_bits / 8);
    const uint32_t crc = PcmCrc(pcm, bytes);
    const uint32_t codes = Unpack(pcm, blocks);

    // The top bit of the CRC word says whether a word of frame codes follows.
    zrbytes::StoreBE32(out, (crc >> 1) | (codes ? 0x80000000u : 0u));
    size_t used = 4;
    if (codes) {
        zrbytes::StoreBE32(out + 4, codes);
        used = 8;
    }
    return used + Code(codes, blocks, out + used);
}

template <int Bits>
uint32_t CApeFrameEncoder::UnpackAs(const uint8_t* pcm, uint32_t blocks) {
    constexpr size_t step = Bits / 8;
    constexpr zrpcm::Sample type = Bits == 8    ? zrpcm::Sample::U8
                                   : Bits == 16 ? zrpcm::Sample::S16
                                                : zrpcm::Sample::S24;
    const auto sample = [](const uint8_t* p) { return zrpcm::LoadInt<type>(p); };
    if (m_channels == 1) {
        bool silent = true;
        for (uint32_t t = 0; t < blocks; ++t, pcm += step) {
            m_x[t] = sample(pcm);
            silent = silent && m_x[t] == 0;
        }
        // Only 16-bit frames report silence: that is what decoders of every age expect.
        return Bits == 16 && silent && blocks ? FrameMonoSilent : 0;
    }

    bool firstSilent = true, secondSilent = true, equal = true;
    for (uint32_t t = 0; t < blocks; ++t, pcm += 2 * step) {
        const int32_t first = sample(pcm);
        const int32_t second = sample(pcm + step);
        m_y[t] = second - first;
        m_x[t] = first + m_y[t] / 2;
        firstSilent = firstSilent && first == 0;
        secondSilent = secondSilent && second == 0;
        equal = equal && m_y[t] == 0;
    }
    if (Bits != 16 || !blocks)
        return 0;
    return (secondSilent ? FrameLeftSilent : 0) | (firstSilent ? FrameRightSilent : 0) |
           (equal ? FramePseudoStereo : 0);
}

uint32_t CApeFrameEncoder::Unpack(const uint8_t* pcm, uint32_t blocks) {
    if (m_bits == 8)
        return UnpackAs<8>(pcm, blocks);
    if (m_bits == 16)
        return UnpackAs<16>(pcm, blocks);
    return UnpackAs<24>(pcm, blocks);
}

size_t CApeFrameEncoder::Code(uint32_t codes, uint32_t blocks, uint8_t* out) {
    m_predictorX.Reset();
    m_predictorY.Reset();
    m_stateX.Reset();
    m_stateY.Reset();
    m_coder.Begin(out);

    const bool silent = m_channels == 2 ? (codes & (FrameLeftSilent | FrameRightSilent)) ==
                                              (FrameLeftSilent | FrameRightSilent)
                                        : (codes & FrameMonoSilent) != 0;
    if (!silent) {
        if (m_channels == 2 && !(codes & FramePseudoStereo)) {
            // Y sees the previous X, X sees the current Y; the values interleave Y first.
            CApePredictor::CompressStereo(m_predictorY, m_y.data(), m_residualY.data(),
                                          m_predictorX, m_x.data(), m_residualX.data(), blocks);
            m_coder.EncodeInterleaved(m_residualY.data(), m_stateY, m_residualX.data(), m_stateX,
                                      blocks);
        } else {
            // Mono, or stereo whose channels are equal: X alone, without a cross input.
            m_predictorX.Compress(m_x.data(), m_residualX.data(), blocks);
            m_coder.Encode(m_residualX.data(), blocks, m_stateX);
        }
    }
    return m_coder.Finish();
}

} // namespace ape
