// The Apple Lossless encoder's headers, failures and merged files. Round trips and refusals:
// LosslessRoundTripTest, RefusalTest.
#include "Mp4TestSupport.h"
#include "frame/ZrEncoderFactory.h"
#include "mp4/MP4File.h"

#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace mp4test;
using zrtest::Signal;

namespace {

// 20-bit samples travel in 3-byte containers with the four low bits clear.
std::vector<uint8_t> MakeInput(Signal signal, uint16_t channels, uint32_t rate, uint16_t bits,
                               size_t frames, uint32_t seed) {
    std::vector<uint8_t> pcm =
        zrtest::MakePcm(signal, channels, rate, bits == 20 ? 24 : bits, frames, seed);
    if (bits == 20)
        for (size_t i = 0; i < pcm.size(); i += 3)
            pcm[i] &= 0xF0;
    return pcm;
}

// What a decoder's output does not show: our own reader accepts the file, and ffprobe finds the
// format and the length in the headers. Lengths around the packet of 4096 frames and the chunk of
// five packets; the samples themselves: LosslessRoundTripTest.
TEST(AlacEncoder, HeadersDescribeTheStream) {
    struct Case {
        uint16_t Bits, Channels;
        uint32_t Rate;
        size_t Frames;
    };
    for (const Case c : {Case{16, 1, 8000, 0}, Case{20, 2, 44100, 4095}, Case{24, 8, 192000, 4097},
                         Case{16, 6, 96000, 4096 * 5 + 1}}) {
        SCOPED_TRACE(std::to_string(c.Bits) + " bits, " + std::to_string(c.Frames) + " frames");
        zrtest::TempDir dir;
        const fs::path out = dir / "out.m4a";
        const std::vector<uint8_t> pcm =
            MakeInput(Signal::Music, c.Channels, c.Rate, c.Bits, c.Frames, 7);
        const EncodeResult r =
            EncodeWithAlac(out, zrtest::PcmFormat(c.Channels, c.Rate, c.Bits), pcm);
        ASSERT_TRUE(r.Ok()) << r.LastError;
        CMP4File check;
        ASSERT_TRUE(check.Open(zrtest::U(out), false));
        ASSERT_TRUE(check.ReadAtoms()) << check.ErrorText().ToUtf8();
        EXPECT_TRUE(check.ErrorText().IsEmpty()) << check.ErrorText().ToUtf8();
        ASSERT_TRUE(check.ValidateAtoms()) << check.ErrorText().ToUtf8();
        const ProbeResult probe = Probe(out);
        EXPECT_EQ(probe.Codec, "alac");
        EXPECT_EQ(probe.Channels, c.Channels);
        EXPECT_EQ(probe.SampleRate, static_cast<int>(c.Rate));
        if (c.Frames) {
            EXPECT_EQ(probe.DurationTs, static_cast<int64_t>(c.Frames));
        }
    }
}

// Any way of cutting the input into buffers gives the same packets, hence the same file.
TEST(AlacEncoder, BufferSizesDoNotChangeTheFile) {
    struct Input {
        uint16_t Bits, Channels;
        size_t Frames;
    };
    for (const Input in : {Input{16, 2, 4096 * 5 + 1}, Input{24, 3, 4097}, Input{20, 1, 4095}}) {
        SCOPED_TRACE(std::to_string(in.Bits) + " bits");
        zrtest::TempDir dir;
        const WAVEFORMATEX format = zrtest::PcmFormat(in.Channels, 44100, in.Bits);
        const std::vector<uint8_t> pcm =
            MakeInput(Signal::Music, in.Channels, 44100, in.Bits, in.Frames, 3);
        std::vector<uint8_t> reference;
        for (Delivery d :
             {Delivery::Packets, Delivery::OneByte, Delivery::Bytes1000, Delivery::Whole}) {
            const fs::path out = dir / ("d" + std::to_string(int(d)) + ".m4a");
            const EncodeResult r = EncodeWithAlac(out, format, pcm, d);
            ASSERT_TRUE(r.Finished) << r.LastError;
            const std::vector<uint8_t> file = WithoutTimes(zrtest::ReadFile(out));
            if (reference.empty())
                reference = file;
            else
                EXPECT_EQ(reference, file) << "delivery " << int(d);
        }
    }
}

// A device that takes no bytes: the failure surfaces as a reason, never as a good file, and
// the device is never replaced.
TEST(AlacEncoder, DiskFullFailsTheJob) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP();
    const WAVEFORMATEX format = zrtest::PcmFormat(2, 44100, 16);
    const std::vector<uint8_t> pcm = MakeInput(Signal::Noise, 2, 44100, 16, 44100 * 2, 1);
    const EncodeResult r = EncodeWithAlac("/dev/full", format, pcm);
    ASSERT_TRUE(r.Started);
    EXPECT_FALSE(r.Encoded && r.Finished);
    EXPECT_NE(r.LastError.find("No space left on device"), std::string::npos) << r.LastError;
    struct stat info;
    ASSERT_EQ(::stat("/dev/full", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST(AlacEncoder, UnfinishedJobLeavesTheRawPackets) {
    zrtest::TempDir dir;
    const fs::path out = dir / "unfinished.m4a";
    const WAVEFORMATEX format = zrtest::PcmFormat(2, 44100, 16);
    std::vector<uint8_t> pcm = MakeInput(Signal::Music, 2, 44100, 16, 4096 * 3 + 10, 1);
    {
        std::unique_ptr<IZrEncoder> encoder(CreateAlacEncoder(nullptr));
        encoder->SetProperty(u"Add Output Extension", u"0");
        encoder->SetProperty(u"Destination Filename", zrtest::U(out).c_str());
        ASSERT_TRUE(encoder->StartBufferBased(&format, 0));
        ASSERT_TRUE(encoder->EncodeBuffer(pcm.data(), pcm.size()));
    }
    const std::vector<uint8_t> raw = zrtest::ReadFile(out);
    EXPECT_GT(raw.size(), 0u);
    EXPECT_TRUE(TopLevel(raw).empty() || TopLevel(raw)[0].first != "ftyp");
}

// Two files merged into one play as the first followed by the second.
TEST(AlacEncoder, MergedFilesPlayOneAfterTheOther) {
    zrtest::TempDir dir;
    const WAVEFORMATEX format = zrtest::PcmFormat(2, 44100, 16);
    const std::vector<uint8_t> first = MakeInput(Signal::Music, 2, 44100, 16, 4096 * 7, 1);
    const std::vector<uint8_t> second = MakeInput(Signal::Noise, 2, 44100, 16, 4096 * 3 + 5, 2);
    ASSERT_TRUE(EncodeWithAlac(dir / "a.m4a", format, first).Finished);
    ASSERT_TRUE(EncodeWithAlac(dir / "b.m4a", format, second).Finished);
    {
        CMP4File a, b;
        ASSERT_TRUE(a.Open(zrtest::U(dir / "a.m4a"), false) && a.ReadAtoms() && a.ValidateAtoms());
        ASSERT_TRUE(b.Open(zrtest::U(dir / "b.m4a"), false) && b.ReadAtoms() && b.ValidateAtoms());
        ASSERT_TRUE(a.AppendFile(b)) << a.ErrorText().ToUtf8();
        ASSERT_TRUE(a.Save()) << a.ErrorText().ToUtf8();
    }
    std::vector<uint8_t> both(first);
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_EQ("",
              zrtest::FirstDifference(both, zrtest::DecodeWithFfmpeg(dir / "a.m4a", "s16le"), 2));
    EXPECT_EQ(Probe(dir / "a.m4a").DurationTs, static_cast<int64_t>(4096 * 10 + 5));

    // A different rate is refused with its reason.
    ASSERT_TRUE(EncodeWithAlac(dir / "c.m4a", zrtest::PcmFormat(2, 48000, 16), second).Finished);
    CMP4File a, c;
    ASSERT_TRUE(a.Open(zrtest::U(dir / "a.m4a"), false) && a.ReadAtoms() && a.ValidateAtoms());
    ASSERT_TRUE(c.Open(zrtest::U(dir / "c.m4a"), false) && c.ReadAtoms() && c.ValidateAtoms());
    EXPECT_FALSE(a.AppendFile(c));
    EXPECT_EQ(a.ErrorText(), u"MDHD: Timescales are different");
}

} // namespace
