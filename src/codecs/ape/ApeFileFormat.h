// The on-disk layout of a Monkey's Audio file of file version 3990, as every current decoder
// reads it:
//
//   descriptor (52 bytes) | header (24 bytes) | seek table (4 bytes per frame slot)
//   | stored WAV header (none here) | frame data | stored WAV trailer (none here)
//
// All numbers are little-endian. The frame data is a stream of 32-bit words, each holding four
// stream bytes from its most significant byte down; frames begin at any byte of that stream and
// the seek table holds each frame's byte position in the file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ape {

inline constexpr uint16_t FileVersion = 3990;

enum CompressionLevel : int {
    LevelFast = 1000,
    LevelNormal = 2000,
    LevelHigh = 3000,
    LevelExtraHigh = 4000,
    LevelInsane = 5000,
};

bool IsCompressionLevel(int level);
// Audio blocks (one sample per channel) in each frame but the last.
uint32_t BlocksPerFrame(int level);

// Header format flags.
inline constexpr uint16_t FlagCreateWavHeader = 1 << 5; // no stored WAV header: decoders make one

// Frame codes after the CRC word, present when the CRC's top bit is set. Only 16-bit input
// reports them, as decoders of every age expect.
inline constexpr uint32_t FrameMonoSilent = 1;   // mono: all zero
inline constexpr uint32_t FrameLeftSilent = 1;   // stereo: the second input channel is all zero
inline constexpr uint32_t FrameRightSilent = 2;  // stereo: the first input channel is all zero
inline constexpr uint32_t FramePseudoStereo = 4; // both channels equal: only one is coded

struct Descriptor {
    uint16_t Version = FileVersion;
    uint32_t DescriptorBytes = 52;
    uint32_t HeaderBytes = 24;
    uint32_t SeekTableBytes = 0;  // 4 x the number of seek-table slots
    uint32_t WavHeaderBytes = 0;  // stored WAV header before the frames
    uint64_t FrameDataBytes = 0;  // written as low and high 32-bit halves
    uint32_t WavTrailerBytes = 0; // stored WAV data after the frames
    uint8_t Md5[16] = {};         // MD5 of frame data, header and seek table, in that order

    static constexpr size_t Size = 52;
    void Write(uint8_t out[Size]) const;
};

struct Header {
    uint16_t CompressionLevel = 0;
    uint16_t FormatFlags = 0;
    uint32_t BlocksPerFrame = 0;
    uint32_t FinalFrameBlocks = 0; // blocks in the last frame
    uint32_t TotalFrames = 0;
    uint16_t BitsPerSample = 0;
    uint16_t Channels = 0;
    uint32_t SampleRate = 0;

    static constexpr size_t Size = 24;
    void Write(uint8_t out[Size]) const;
};

} // namespace ape
