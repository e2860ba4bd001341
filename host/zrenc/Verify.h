// --verify: a lossless output decoded again by the decoding libraries and compared with what its
// encoder was given. Memory stays flat: the samples fed are hashed as they go, the output's
// decoded samples likewise, and only on a mismatch are both decoded again side by side to name
// the first sample that differs.
#pragma once

#include "zrenc/Pcm.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zrenc {

// A 64-bit hash of a byte stream fed in pieces of any size.
class StreamHash {
public:
    void Update(const uint8_t* data, size_t bytes);
    uint64_t Final() const;

private:
    void Round(const uint8_t* stripe);

    uint64_t m_lanes[4] = {0x60ea27eeadc0b5d6u, 0xc2b2ae3d27d4eb4fu, 0x165667b19e3779f9u,
                           0x61c8864e7a143579u};
    uint8_t m_tail[32] = {};
    size_t m_tailBytes = 0;
    uint64_t m_total = 0;
};

// Whether --verify checks anything for the encoder with this factory index.
bool Verifiable(int32_t encoderIndex);

class OutputVerifier {
public:
    // What the verifier checks for an encoder with this index and settings text; null with the
    // reason in `skipped` when it checks nothing. `corruptSample` >= 0 flips that sample (counted
    // across channels) as the output is read back, to show that a damaged output is caught; a
    // DSD output, checked for length only, is cut there instead.
    static std::unique_ptr<OutputVerifier> For(int32_t encoderIndex, const std::string& settings,
                                               int64_t corruptSample, std::string& skipped);

    // The format the encoder was started with; forgets what was fed before.
    void Start(const PcmSpec& spec);
    // The encoder's input, in the Start format.
    void Feed(const uint8_t* data, size_t bytes);
    // "" when the finished output at `path` decodes to what was fed; else why not. `input` is
    // decoded again to name the first differing sample.
    std::string Check(const std::string& path, const std::string& input);

    enum class Reader { Decoded, RawLittleEndian, RawBigEndian, LengthOnly };
    OutputVerifier(Reader reader, int64_t corruptSample)
        : m_reader(reader), m_corruptSample(corruptSample) {}

private:
    std::string FirstDifference(const std::string& path, const std::string& input,
                                int64_t decodedFrames);
    std::string CheckLength(const std::string& path);

    Reader m_reader;
    int64_t m_corruptSample;
    PcmSpec m_spec;
    StreamHash m_fed;
    int64_t m_fedFrames = 0;
};

} // namespace zrenc
