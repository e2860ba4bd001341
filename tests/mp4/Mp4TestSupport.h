// Helpers for the MP4 and Apple Lossless tests: an independent box walker over raw bytes.
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

using zrtest::Be64;

// The creation and modification times of mvhd, tkhd and mdhd set to zero, so that files written
// at different moments compare equal.
std::vector<uint8_t> WithoutTimes(std::vector<uint8_t> file);

} // namespace mp4test
