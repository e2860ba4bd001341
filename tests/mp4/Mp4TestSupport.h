// Helpers for the MP4 and Apple Lossless tests: an independent box walker over raw bytes, the
// encoder driven through IZrEncoder, and ffprobe.
#pragma once

#include "support/TestSupport.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mp4test {

namespace fs = std::filesystem;

// A box found in raw bytes: where its header starts, its size and header length.
struct Box {
    size_t Offset = 0;
    uint64_t Size = 0;
    unsigned Header = 8;
    size_t Payload() const { return Offset + Header; }
};

// Walks "moov/trak/mdia/mdhd" through the raw bytes. Knows which boxes are containers and how
// many bytes precede the children of stsd, dref, and the sound sample entry.
std::optional<Box> FindBox(const std::vector<uint8_t>& file, const std::string& path);
// Top-level boxes in order, as (type, box).
std::vector<std::pair<std::string, Box>> TopLevel(const std::vector<uint8_t>& file);

using zrtest::Be64;
using zrtest::EncodeResult;

// The creation and modification times of mvhd, tkhd and mdhd set to zero, so that files written
// at different moments compare equal.
std::vector<uint8_t> WithoutTimes(std::vector<uint8_t> file);

// How EncodeWithAlac hands the PCM to the encoder.
enum class Delivery { Whole, OneByte, Bytes1000, Packets };

// Creates the encoder through the factory, sets the destination (no extension added), starts
// with `format`, hands over `pcm` as `delivery` says, finishes.
EncodeResult EncodeWithAlac(const fs::path& destination, const WAVEFORMATEX& format,
                            const std::vector<uint8_t>& pcm, Delivery delivery = Delivery::Whole);

struct ProbeResult {
    std::string Codec;
    int Channels = 0;
    int SampleRate = 0;
    int64_t DurationTs = -1; // in 1/rate units: frames
};
ProbeResult Probe(const fs::path& file);

} // namespace mp4test
