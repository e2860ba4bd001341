// The SDK's three helper exports: WAV and RF64 headers that ffmpeg reads back around the PCM,
// and their presence in the plug-in library with C names.
#include "codecs/ape/ApeWaveHeaders.h"

#include "support/TestSupport.h"

#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <memory>

namespace {

using namespace zrtest;

// A copy of a field of a packed record: gtest would bind a reference to a misaligned field.
template <typename T>
T Value(T field) {
    return field;
}

template <typename Header>
std::vector<uint8_t> FileOf(const Header& header, const std::vector<uint8_t>& pcm) {
    std::vector<uint8_t> file(reinterpret_cast<const uint8_t*>(&header),
                              reinterpret_cast<const uint8_t*>(&header) + sizeof(header));
    file.insert(file.end(), pcm.begin(), pcm.end());
    return file;
}

// Independent readers accept the headers: ffmpeg decodes header + PCM back to the PCM.
TEST(ApeWaveHeaders, FfmpegReadsTheWavAndRf64Headers) {
    TempDir dir;
    for (uint16_t bits : {8, 16, 24}) {
        SCOPED_TRACE(bits);
        WAVEFORMATEX format{};
        FillWaveFormatEx(&format, WAVE_FORMAT_PCM, 44100, bits, 2);
        const std::vector<uint8_t> pcm = MakePcm(Signal::Tone, 2, 44100, bits, 999, 1);

        WAVE_HEADER wav{};
        ASSERT_EQ(FillWaveHeader(&wav, static_cast<int64_t>(pcm.size()), &format, 0), 0);
        EXPECT_EQ(Value(wav.RiffBytes), pcm.size() + 36);
        WriteFile(dir / "x.wav", FileOf(wav, pcm));
        EXPECT_TRUE(SamePcm(pcm, DecodeWithFfmpeg(dir / "x.wav", RawFormatFor(bits)), bits / 8));

        RF64_HEADER rf64{};
        ASSERT_EQ(FillRF64Header(&rf64, static_cast<int64_t>(pcm.size()), &format), 0);
        EXPECT_EQ(Value(rf64.SampleCount), 999);
        EXPECT_EQ(Value(rf64.Ds64Bytes), 28);
        EXPECT_EQ(Value(rf64.RiffSize), static_cast<int64_t>(pcm.size()) + 72);
        WriteFile(dir / "x.rf64.wav", FileOf(rf64, pcm));
        EXPECT_TRUE(
            SamePcm(pcm, DecodeWithFfmpeg(dir / "x.rf64.wav", RawFormatFor(bits)), bits / 8));
    }
}

TEST(ApeWaveHeaders, SizesThatDoNotFitThirtyTwoBitsSaturate) {
    WAVEFORMATEX format{};
    FillWaveFormatEx(&format, WAVE_FORMAT_PCM, 44100, 16, 2);
    const int64_t huge = int64_t{5} << 30; // 5 GiB
    WAVE_HEADER wav{};
    FillWaveHeader(&wav, huge, &format, 10);
    EXPECT_EQ(Value(wav.DataBytes), 0xFFFFFFFFu);
    EXPECT_EQ(Value(wav.RiffBytes), static_cast<uint32_t>(huge + 36 + 10))
        << "wraps, as the SDK's does";
    RF64_HEADER rf64{};
    FillRF64Header(&rf64, huge, &format);
    EXPECT_EQ(Value(rf64.DataBytes), 0xFFFFFFFFu);
    EXPECT_EQ(Value(rf64.RiffBytes), 0xFFFFFFFFu);
    EXPECT_EQ(Value(rf64.DataSize), huge);
    EXPECT_EQ(Value(rf64.SampleCount), huge / 4);
}

TEST(ApeWaveHeaders, ThePluginExportsThemWithCNames) {
    const fs::path library = LibDir() / "libzrencoders.so";
    // Kept loaded, as hosts keep a plug-in: what its start-up allocates is not this test's.
    std::unique_ptr<void, int (*)(void*)> handle(
        dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE), dlclose);
    ASSERT_TRUE(handle) << dlerror();
    for (const char* name : {"FillWaveFormatEx", "FillWaveHeader", "FillRF64Header"})
        EXPECT_NE(dlsym(handle.get(), name), nullptr) << name;
    auto fill = reinterpret_cast<int (*)(WAVEFORMATEX*, int, int, int, int)>(
        dlsym(handle.get(), "FillWaveFormatEx"));
    ASSERT_NE(fill, nullptr);
    WAVEFORMATEX format{};
    EXPECT_EQ(fill(&format, 1, 8000, 8, 1), 0);
    EXPECT_EQ(format.nAvgBytesPerSec, 8000u);
}

} // namespace
