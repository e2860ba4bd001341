#include "codecs/ape/ApeTestSupport.h"

#include "codecs/ape/ApeCompressor.h"

#include <gtest/gtest.h>

namespace apetest {

using zrtest::Le16;
using zrtest::Le32;

ApeHead ReadHead(const std::vector<uint8_t>& file) {
    ApeHead head;
    if (file.size() < 76) {
        ADD_FAILURE() << "file of " << file.size() << " bytes has no head";
        return head;
    }
    const uint8_t* d = file.data();
    head.Version = Le16(d + 4);
    head.SeekTableBytes = Le32(d + 16);
    head.WavHeaderBytes = Le32(d + 20);
    head.FrameDataBytes = Le32(d + 24) | (uint64_t{Le32(d + 28)} << 32);
    head.WavTrailerBytes = Le32(d + 32);
    const uint8_t* h = d + Le32(d + 8);
    head.Level = Le16(h);
    head.Flags = Le16(h + 2);
    head.BlocksPerFrame = Le32(h + 4);
    head.FinalFrameBlocks = Le32(h + 8);
    head.TotalFrames = Le32(h + 12);
    head.Bits = Le16(h + 16);
    head.Channels = Le16(h + 18);
    head.Rate = Le32(h + 20);
    const size_t seekAt = Le32(d + 8) + Le32(d + 12);
    if (file.size() < seekAt + head.SeekTableBytes) {
        ADD_FAILURE() << "seek table runs past the end of the file";
        return head;
    }
    for (size_t i = 0; i < head.SeekTableBytes / 4; ++i)
        head.SeekTable.push_back(Le32(d + seekAt + 4 * i));
    head.DataStart = seekAt + head.SeekTableBytes + head.WavHeaderBytes;
    return head;
}

int Compress(const fs::path& out, const WAVEFORMATEX& format, const std::vector<uint8_t>& pcm,
             int level, int64_t maxAudioBytes, size_t chunk) {
    CApeCompressor compressor;
    const ZrString name = zrtest::U(out);
    if (int r = compressor.Start(name.c_str(), &format, maxAudioBytes, level))
        return r;
    for (size_t at = 0; at < pcm.size(); at += chunk) {
        const size_t n = std::min(chunk, pcm.size() - at);
        if (int64_t r = compressor.AddData(pcm.data() + at, static_cast<int64_t>(n)))
            return static_cast<int>(r);
    }
    return compressor.Finish(nullptr, 0, 0);
}

std::vector<uint8_t> DecodeWithFfmpeg(const fs::path& file, uint16_t bits) {
    return zrtest::DecodeWithFfmpeg(file, zrtest::RawFormatFor(bits), {"-err_detect", "crccheck"},
                                    {});
}

} // namespace apetest
