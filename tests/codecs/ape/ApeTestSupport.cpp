#include "codecs/ape/ApeTestSupport.h"

#include "codecs/ape/ApeCompressor.h"

#include <cstdlib>
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

std::vector<uint8_t> DecodeWithFfmpeg(const fs::path& file, uint16_t bits, bool* crcMessage) {
    zrtest::TempDir dir;
    const fs::path out = dir / "decoded.raw";
    const std::string raw = zrtest::RawFormatFor(bits);
    const zrtest::RunResult r = zrtest::Run(
        {"ffmpeg", "-nostdin", "-hide_banner", "-v", "error", "-err_detect", "crccheck", "-i",
         file.string(), "-map", "0:a:0", "-c:a", "pcm_" + raw, "-f", raw, "-y", out.string()});
    if (crcMessage)
        *crcMessage = r.Output.find("CRC mismatch") != std::string::npos;
    if (r.ExitCode != 0) {
        ADD_FAILURE() << "ffmpeg could not decode " << file << ":\n" << r.Output;
        return {};
    }
    return zrtest::ReadFile(out);
}

bool HaveJmac() {
    return zrtest::HaveProgram("jmac") && zrtest::HaveProgram("java");
}

namespace {

// JMAC exits 0 whatever happens; its complaints are Java exceptions on its output.
bool JmacComplained(const zrtest::RunResult& r) {
    return r.ExitCode != 0 || r.Output.find("Exception") != std::string::npos ||
           r.Output.find("rror") != std::string::npos;
}

// The "data" chunk of a WAV file JMAC wrote.
std::vector<uint8_t> WavData(const std::vector<uint8_t>& wav) {
    size_t at = 12;
    while (at + 8 <= wav.size()) {
        const uint32_t size = Le32(wav.data() + at + 4);
        if (std::equal(wav.begin() + static_cast<std::ptrdiff_t>(at),
                       wav.begin() + static_cast<std::ptrdiff_t>(at + 4), "data"))
            return std::vector<uint8_t>(wav.begin() + static_cast<std::ptrdiff_t>(at + 8),
                                        wav.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(
                                                          at + 8 + size, wav.size())));
        at += 8 + size + (size & 1);
    }
    ADD_FAILURE() << "JMAC's WAV output has no data chunk";
    return {};
}

} // namespace

std::vector<uint8_t> DecodeWithJmac(const fs::path& file, bool verifyMd5) {
    if (verifyMd5) {
        const zrtest::RunResult verify = zrtest::Run({"jmac", "v", file.string()});
        if (JmacComplained(verify)) {
            ADD_FAILURE() << "jmac v " << file << ":\n" << verify.Output;
            return {};
        }
    }
    zrtest::TempDir dir;
    const fs::path wav = dir / "decoded.wav";
    const zrtest::RunResult decode = zrtest::Run({"jmac", "d", file.string(), wav.string()});
    if (JmacComplained(decode)) {
        ADD_FAILURE() << "jmac d " << file << ":\n" << decode.Output;
        return {};
    }
    return WavData(zrtest::ReadFile(wav));
}

bool Exhaustive() {
    const char* value = std::getenv("ZR_EXHAUSTIVE");
    return value && std::string(value) == "1";
}

} // namespace apetest
