// The Apple Lossless encoder's files beyond their samples: the same file however the input is
// cut, a full disk, an unfinished job and merged files. Round trips and refusals:
// LosslessRoundTripTest, RefusalTest.
#include "frame/ZrEncoderFactory.h"
#include "mp4/MP4File.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using zrtest::Signal;

zrtest::EncodeResult EncodeAlac(const fs::path& out, const WAVEFORMATEX& format,
                                const std::vector<uint8_t>& pcm, size_t piece = 0) {
    return zrtest::Encode(CreateAlacEncoder, out, {&format, pcm, piece});
}

// Our own reader accepts the file without a word.
void ExpectReadable(CMP4File& mp4, const fs::path& file) {
    ASSERT_TRUE(mp4.Open(zrtest::U(file), false));
    ASSERT_TRUE(mp4.ReadAtoms()) << mp4.ErrorText().ToUtf8();
    ASSERT_TRUE(mp4.ValidateAtoms()) << mp4.ErrorText().ToUtf8();
    EXPECT_TRUE(mp4.ErrorText().IsEmpty()) << mp4.ErrorText().ToUtf8();
}

// Any way of cutting the input into buffers gives the same packets, hence the same file, one
// that our reader accepts. Lengths around the packet of 4096 frames and the chunk of five.
TEST(AlacEncoder, BufferSizesDoNotChangeTheFile) {
    struct Input {
        uint16_t Bits, Channels;
        size_t Frames;
    };
    for (const Input in :
         {Input{16, 2, 4096 * 5 + 1}, Input{24, 3, 4097}, Input{20, 1, 4095}, Input{16, 8, 0}}) {
        SCOPED_TRACE(std::to_string(in.Bits) + " bits");
        zrtest::TempDir dir;
        const WAVEFORMATEX format = zrtest::PcmFormat(in.Channels, 44100, in.Bits);
        // 20-bit samples travel in 3-byte containers with the four low bits clear.
        std::vector<uint8_t> pcm = zrtest::MakePcm(Signal::Music, in.Channels, 44100,
                                                   in.Bits == 20 ? 24 : in.Bits, in.Frames, 3);
        for (size_t i = 0; in.Bits == 20 && i < pcm.size(); i += 3)
            pcm[i] &= 0xF0;
        std::vector<uint8_t> reference;
        for (size_t piece : {size_t{format.nBlockAlign} * 4096, size_t{1}, size_t{1000},
                             std::max<size_t>(pcm.size(), 1)}) {
            const fs::path out = dir / ("p" + std::to_string(piece) + ".m4a");
            const zrtest::EncodeResult r = EncodeAlac(out, format, pcm, piece);
            ASSERT_TRUE(r.Ok()) << r.LastError;
            // From the sample tables on: the headers before them hold the time of writing.
            const std::vector<uint8_t> whole = zrtest::ReadFile(out), stbl = {'s', 't', 'b', 'l'};
            const std::vector<uint8_t> file(
                std::search(whole.begin(), whole.end(), stbl.begin(), stbl.end()), whole.end());
            EXPECT_GT(file.size(), 100u);
            if (reference.empty()) {
                CMP4File mp4;
                ExpectReadable(mp4, out);
                reference = file;
            } else {
                EXPECT_EQ(reference, file) << piece << " bytes at a time";
            }
        }
    }
}

// A job that cannot end well: on a device that takes no bytes the failure surfaces as a
// reason, never as a good file, and the device is never replaced; a job never finished
// leaves the raw packets, not a file that looks whole.
TEST(AlacEncoder, FailedAndUnfinishedJobs) {
    const WAVEFORMATEX format = zrtest::PcmFormat(2, 44100, 16);
    std::vector<uint8_t> pcm = zrtest::MakePcm(Signal::Noise, 2, 44100, 16, 44100 * 2);
    if (fs::exists("/dev/full")) {
        const auto r = EncodeAlac("/dev/full", format, pcm);
        ASSERT_TRUE(r.Started);
        EXPECT_FALSE(r.Encoded && r.Finished);
        EXPECT_NE(r.LastError.find("No space left on device"), std::string::npos) << r.LastError;
        struct stat info;
        ASSERT_EQ(::stat("/dev/full", &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode));
    }
    zrtest::TempDir dir;
    const fs::path out = dir / "unfinished.m4a";
    {
        std::unique_ptr<IZrEncoder> encoder(CreateAlacEncoder(nullptr));
        encoder->SetProperty(u"Add Output Extension", u"0");
        encoder->SetProperty(u"Destination Filename", zrtest::U(out).c_str());
        ASSERT_TRUE(encoder->StartBufferBased(&format, 0));
        ASSERT_TRUE(encoder->EncodeBuffer(pcm.data(), 4 * (4096 * 3 + 10)));
    }
    const std::vector<uint8_t> raw = zrtest::ReadFile(out);
    ASSERT_GT(raw.size(), 8u);
    EXPECT_NE(std::string(raw.begin() + 4, raw.begin() + 8), "ftyp");
}

// Two files merged into one play as the first followed by the second; a different rate is
// refused with its reason.
TEST(AlacEncoder, MergedFilesPlayOneAfterTheOther) {
    zrtest::TempDir dir;
    const WAVEFORMATEX format = zrtest::PcmFormat(2, 44100, 16);
    const auto first = zrtest::MakePcm(Signal::Music, 2, 44100, 16, 4096 * 7, 1);
    const auto second = zrtest::MakePcm(Signal::Noise, 2, 44100, 16, 4096 * 3 + 5, 2);
    ASSERT_TRUE(EncodeAlac(dir / "a.m4a", format, first).Ok());
    ASSERT_TRUE(EncodeAlac(dir / "b.m4a", format, second).Ok());
    ASSERT_TRUE(EncodeAlac(dir / "c.m4a", zrtest::PcmFormat(2, 48000, 16), second).Ok());
    {
        CMP4File a, b;
        ExpectReadable(a, dir / "a.m4a");
        ExpectReadable(b, dir / "b.m4a");
        ASSERT_TRUE(a.AppendFile(b)) << a.ErrorText().ToUtf8();
        ASSERT_TRUE(a.Save()) << a.ErrorText().ToUtf8();
    }
    std::vector<uint8_t> both(first);
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_TRUE(zrtest::SamePcm(both, zrtest::DecodeWithFfmpeg(dir / "a.m4a", "s16le"), 2));
    CMP4File a, c;
    ExpectReadable(a, dir / "a.m4a");
    ExpectReadable(c, dir / "c.m4a");
    EXPECT_FALSE(a.AppendFile(c));
    EXPECT_EQ(a.ErrorText(), u"MDHD: Timescales are different");
}

} // namespace
