#include "foundation/ZrWavHeader.h"

#include "foundation/ZrByteOrder.h"

#include <cstring>

using namespace zrbytes;

size_t ZrWriteWavHeader(const ZrWavHeaderFields& f, uint8_t* out) {
    uint8_t* p = out;
    auto id = [&](const char* fourcc) {
        std::memcpy(p, fourcc, 4);
        p += 4;
    };
    auto u16 = [&](uint16_t v) {
        StoreLE16(p, v);
        p += 2;
    };
    auto u32 = [&](uint32_t v) {
        StoreLE32(p, v);
        p += 4;
    };
    auto u64 = [&](uint64_t v) {
        StoreLE64(p, v);
        p += 8;
    };

    id(f.rf64 ? "RF64" : "RIFF");
    u32(f.riffSize); // file length - 8, or 0xFFFFFFFF when ds64 has it
    id("WAVE");
    if (f.rf64) {
        id("ds64");
        u32(28);            // ds64 chunk size: three 64-bit sizes and the table length
        u64(f.riffSize64);  // file length - 8
        u64(f.dataSize64);  // audio bytes
        u64(f.sampleCount); // frames
        u32(0);             // table length: no other chunk needs a 64-bit size
    }
    id("fmt ");
    u32(f.extensible ? 40 : 16);
    u16(f.extensible ? uint16_t{0xFFFE} : f.formatTag); // 1 PCM, 3 float
    u16(f.channels);
    u32(f.samplesPerSec);
    u32(f.avgBytesPerSec);
    u16(f.blockAlign);    // bytes per frame
    u16(f.bitsPerSample); // container width
    if (f.extensible) {
        u16(22); // what follows
        u16(f.validBits);
        u32(f.channelMask);
        // The sub-format GUID built from the plain tag.
        static constexpr uint8_t tail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                             0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        u32(f.formatTag);
        std::memcpy(p, tail, sizeof tail);
        p += sizeof tail;
    }
    id("data");
    u32(f.dataSize); // audio bytes
    return static_cast<size_t>(p - out);
}
