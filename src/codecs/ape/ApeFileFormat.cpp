#include "codecs/ape/ApeFileFormat.h"

#include "foundation/ZrByteOrder.h"

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
    zrbytes::StoreLE16(out + 4, Version);
    zrbytes::StoreLE16(out + 6, 0); // padding
    zrbytes::StoreLE32(out + 8, DescriptorBytes);
    zrbytes::StoreLE32(out + 12, HeaderBytes);
    zrbytes::StoreLE32(out + 16, SeekTableBytes);
    zrbytes::StoreLE32(out + 20, WavHeaderBytes);
    zrbytes::StoreLE64(out + 24, FrameDataBytes);
    zrbytes::StoreLE32(out + 32, WavTrailerBytes);
    std::memcpy(out + 36, Md5, sizeof(Md5));
}

void Header::Write(uint8_t out[Size]) const {
    zrbytes::StoreLE16(out + 0, CompressionLevel);
    zrbytes::StoreLE16(out + 2, FormatFlags);
    zrbytes::StoreLE32(out + 4, BlocksPerFrame);
    zrbytes::StoreLE32(out + 8, FinalFrameBlocks);
    zrbytes::StoreLE32(out + 12, TotalFrames);
    zrbytes::StoreLE16(out + 16, BitsPerSample);
    zrbytes::StoreLE16(out + 18, Channels);
    zrbytes::StoreLE32(out + 20, SampleRate);
}

} // namespace ape
