#include "codecs/ape/ApeFileFormat.h"

#include <cstring>

namespace ape {

bool IsCompressionLevel(int level) {
    return level == LevelFast || level == LevelNormal || level == LevelHigh ||
           level == LevelExtraHigh || level == LevelInsane;
}

uint32_t BlocksPerFrame(int level) {
    // Longer frames let the slow adaptive filters of the top levels settle for longer.
    constexpr uint32_t base = 73728;
    if (level == LevelExtraHigh)
        return base * 4;
    if (level == LevelInsane)
        return base * 16;
    return base;
}

void Descriptor::Write(uint8_t out[Size]) const {
    std::memcpy(out, "MAC ", 4);
    PutLe16(out + 4, Version);
    PutLe16(out + 6, 0); // padding
    PutLe32(out + 8, DescriptorBytes);
    PutLe32(out + 12, HeaderBytes);
    PutLe32(out + 16, SeekTableBytes);
    PutLe32(out + 20, WavHeaderBytes);
    PutLe64(out + 24, FrameDataBytes);
    PutLe32(out + 32, WavTrailerBytes);
    std::memcpy(out + 36, Md5, sizeof(Md5));
}

void Header::Write(uint8_t out[Size]) const {
    PutLe16(out + 0, CompressionLevel);
    PutLe16(out + 2, FormatFlags);
    PutLe32(out + 4, BlocksPerFrame);
    PutLe32(out + 8, FinalFrameBlocks);
    PutLe32(out + 12, TotalFrames);
    PutLe16(out + 16, BitsPerSample);
    PutLe16(out + 18, Channels);
    PutLe32(out + 20, SampleRate);
}

} // namespace ape
