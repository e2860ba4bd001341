// Refused destinations, log lines and calling order. Refused formats and a full disk: RefusalTest.
#include "frame/ZrEncoderFactory.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

namespace {

using namespace zrtest;

std::unique_ptr<IZrEncoder> NewEncoder() {
    return std::unique_ptr<IZrEncoder>(CreateWvEncoder(nullptr));
}

TEST(WvStart, UnwritableMainOrCorrectionFileIsNamedInTheError) {
    TempDir dir;
    const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    const std::vector<uint8_t> pcm = MakePcm(Signal::Tone, 2, 44100, 16, 100);
    // A folder where the correction file should go: the main file opens, the second fails.
    fs::create_directory(dir / "song.wvc");
    const EncodeResult outcome =
        Encode(CreateWvEncoder, dir / "song.wv", {&format, pcm, 0, 0, "Compression Type=Hybrid"});
    EXPECT_FALSE(outcome.Started);
    EXPECT_EQ(outcome.LastError, "Failed to create / open output file:\r\n" +
                                     (dir / "song.wvc").string() + ": Is a directory");
    // Without a correction file the same destination encodes.
    EXPECT_TRUE(Encode(CreateWvEncoder, dir / "song.wv",
                       {&format, pcm, 0, 0, "Compression Type=Hybrid|Correction File=0"})
                    .Finished);
}

TEST(WvStart, ConfigurationRefusedByTheLibraryFailsTheStart) {
    TempDir dir;
    LogCapture log;
    auto encoder = NewEncoder();
    encoder->SetProperty(u"Destination Filename", U(dir / "song").c_str());
    WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    format.nSamplesPerSec = 0; // the library refuses a rate of 0
    EXPECT_FALSE(encoder->StartBufferBased(&format, 0));
    EXPECT_EQ(Property(*encoder, u"Last Error"), "");
    EXPECT_EQ(log.Errors(), std::vector<std::string>{"Failed to set Configuration\n"});
    uint8_t frame[4] = {};
    EXPECT_FALSE(encoder->EncodeBuffer(frame, sizeof frame));
    EXPECT_FALSE(encoder->FinishBufferBased());
}

TEST(WvFinish, NoSamplesLeavesNoFileBehind) {
    // WavPack decoders open no file without a sample, so an empty job must not look finished.
    for (const char* type : {"Lossless", "Hybrid"}) {
        SCOPED_TRACE(type);
        TempDir dir;
        const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
        const EncodeResult outcome =
            Encode(CreateWvEncoder, dir / "empty.wv",
                   {&format, {}, 0, 0, "Compression Type=" + std::string(type)});
        EXPECT_TRUE(outcome.Started);
        EXPECT_FALSE(outcome.Finished);
        EXPECT_EQ(outcome.LastError,
                  "No audio to encode: a WavPack file needs at least one sample");
        EXPECT_FALSE(fs::exists(dir / "empty.wv"));
        EXPECT_FALSE(fs::exists(dir / "empty.wvc"));
    }
}

TEST(WvEncode, CallsOutOfOrderFailAndOneEncoderRunsTwoJobs) {
    TempDir dir;
    auto encoder = NewEncoder();
    std::vector<uint8_t> pcm = MakePcm(Signal::Tone, 1, 48000, 24, 3000);
    EXPECT_FALSE(encoder->EncodeBuffer(pcm.data(), pcm.size())) << "before start";
    EXPECT_FALSE(encoder->FinishBufferBased()) << "before start";
    encoder->SetProperty(u"Add Output Extension", u"0");
    const WAVEFORMATEX format = PcmFormat(1, 48000, 24);
    for (const char* name : {"first.wv", "second.wv"}) {
        encoder->SetProperty(u"Destination Filename", U(dir / name).c_str());
        ASSERT_TRUE(encoder->StartBufferBased(&format, 0));
        EXPECT_TRUE(encoder->EncodeBuffer(pcm.data(), 0)) << "an empty buffer is fine";
        EXPECT_TRUE(encoder->EncodeBuffer(pcm.data(), pcm.size()));
        EXPECT_TRUE(encoder->FinishBufferBased());
        EXPECT_FALSE(encoder->FinishBufferBased()) << "after finish";
        EXPECT_FALSE(encoder->EncodeBuffer(pcm.data(), pcm.size())) << "after finish";
        EXPECT_TRUE(SamePcm(pcm, DecodeWithWvunpack(dir / name), 3));
    }
}

} // namespace
