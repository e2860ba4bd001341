// Helpers of the Monkey's Audio tests: reading back a file's head, encoding through the
// compressor, and checking a file with the two independent decoders (ffmpeg and JMAC).
#pragma once

#include "support/TestSupport.h"

#include <cstdint>
#include <string>
#include <vector>

namespace apetest {

namespace fs = std::filesystem;

// The head of a file as written: the fields the tests look at.
struct ApeHead {
    uint16_t Version = 0;
    uint32_t SeekTableBytes = 0;
    uint32_t WavHeaderBytes = 0;
    uint64_t FrameDataBytes = 0;
    uint32_t WavTrailerBytes = 0;
    uint16_t Level = 0;
    uint16_t Flags = 0;
    uint32_t BlocksPerFrame = 0;
    uint32_t FinalFrameBlocks = 0;
    uint32_t TotalFrames = 0;
    uint16_t Bits = 0;
    uint16_t Channels = 0;
    uint32_t Rate = 0;
    std::vector<uint32_t> SeekTable;
    uint64_t DataStart = 0; // file offset of the frame data
};
// Fails the calling test when the file is too short for its own head.
ApeHead ReadHead(const std::vector<uint8_t>& file);

// PCM given to the compressor in pieces of `chunk` bytes; returns the first non-zero result of
// Start, AddData or Finish (0 when all succeeded).
int Compress(const fs::path& out, const WAVEFORMATEX& format, const std::vector<uint8_t>& pcm,
             int level, int64_t maxAudioBytes, size_t chunk = 65536);

// Decodes with ffmpeg, CRC checks on, to the input's own sample layout; empty with a failure
// added when ffmpeg fails.
std::vector<uint8_t> DecodeWithFfmpeg(const fs::path& file, uint16_t bits);

using zrtest::DecodeWithJmac;
using zrtest::Exhaustive;
using zrtest::HaveJmac;

} // namespace apetest
