// The compressor's contract beyond the round trips: what Start refuses, what the seek table
// and the head hold, that the way PCM arrives changes nothing, and what is left on disk when
// something goes wrong. The encoder above it: the level and the maximum it passes on.
#include "codecs/ape/ApeCompressor.h"

#include "codecs/ape/ApeWaveHeaders.h"
#include "frame/ZrEncoderFactory.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

namespace {

using namespace zrtest;

constexpr uint32_t Frame2000 = 73728; // blocks per frame at level 2000

// The head of a file as written: the fields the tests look at.
struct ApeHead {
    uint16_t Version = 0, Level = 0, Flags = 0, Bits = 0, Channels = 0;
    uint32_t SeekTableBytes = 0, WavHeaderBytes = 0, WavTrailerBytes = 0, BlocksPerFrame = 0,
             FinalFrameBlocks = 0, TotalFrames = 0, Rate = 0;
    uint64_t FrameDataBytes = 0;
    std::vector<uint32_t> SeekTable;
    uint64_t DataStart = 0; // file offset of the frame data
};

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

// PCM given to the compressor in pieces of `chunk` bytes; the first non-zero result of Start,
// AddData or Finish (0 when all succeeded).
int Compress(const fs::path& out, const WAVEFORMATEX& format, const std::vector<uint8_t>& pcm,
             int level, int64_t maxAudioBytes, size_t chunk = 65536) {
    CApeCompressor compressor;
    if (int r = compressor.Start(U(out).c_str(), &format, maxAudioBytes, level))
        return r;
    for (size_t at = 0; at < pcm.size(); at += chunk) {
        const size_t n = std::min(chunk, pcm.size() - at);
        if (int64_t r = compressor.AddData(pcm.data() + at, static_cast<int64_t>(n)))
            return static_cast<int>(r);
    }
    return compressor.Finish(nullptr, 0, 0);
}

std::vector<uint8_t> DecodeCheckingCrcs(const fs::path& file, uint16_t bits) {
    return DecodeWithFfmpeg(file, RawFormatFor(bits), {"-err_detect", "crccheck"}, {});
}

std::vector<uint8_t> Music(uint16_t channels, uint16_t bits, size_t blocks) {
    return MakePcm(Signal::Music, channels, 44100, bits, blocks, 3);
}

std::vector<uint8_t> FrameData(const std::vector<uint8_t>& file) {
    const ApeHead head = ReadHead(file);
    if (head.DataStart + head.FrameDataBytes > file.size())
        return {};
    const auto start = file.begin() + static_cast<std::ptrdiff_t>(head.DataStart);
    return std::vector<uint8_t>(start, start + static_cast<std::ptrdiff_t>(head.FrameDataBytes));
}

struct Refusal {
    const char* Name;
    WAVEFORMATEXTENSIBLE Format;
    int Level;
    int Expected;
};

WAVEFORMATEXTENSIBLE Plain(uint16_t channels, uint16_t bits, uint16_t tag = WAVE_FORMAT_PCM) {
    WAVEFORMATEXTENSIBLE f{};
    f.Format = PcmFormat(channels, 44100, bits, tag);
    return f;
}

TEST(ApeCompressor, StartRefusesWhatTheFormatCannotHoldAndCreatesNoFile) {
    WAVEFORMATEXTENSIBLE zeroRate = Plain(2, 16);
    zeroRate.Format.nSamplesPerSec = 0;
    WAVEFORMATEXTENSIBLE oddAlign = Plain(2, 16);
    oddAlign.Format.nBlockAlign = 3;
    const Refusal refusals[] = {
        {"NoChannels", Plain(0, 16), 2000, ape::ErrorUnsupportedChannelCount},
        {"ThreeChannels", Plain(3, 16), 2000, ape::ErrorUnsupportedChannelCount},
        {"EightChannels", Plain(8, 24), 2000, ape::ErrorUnsupportedChannelCount},
        {"Int32", Plain(2, 32), 2000, ape::ErrorUnsupportedBitDepth},
        {"Float32", Plain(2, 32, WAVE_FORMAT_IEEE_FLOAT), 2000, ape::ErrorUnsupportedBitDepth},
        {"TwelveBits", Plain(1, 12), 2000, ape::ErrorUnsupportedBitDepth},
        {"OtherTag", Plain(2, 16, 7), 2000, ape::ErrorUnsupportedBitDepth},
        {"ExtensibleFloat", ExtensibleFormat(2, 44100, 32, 32, 3, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT),
         2000, ape::ErrorUnsupportedBitDepth},
        // 20 significant bits in 24 would come back with their padding counted as signal.
        {"ExtensiblePadded", ExtensibleFormat(2, 44100, 24, 20, 3, KSDATAFORMAT_SUBTYPE_PCM), 2000,
         ape::ErrorUnsupportedBitDepth},
        // Decoders disagree on this combination's arithmetic (see ApeCompressor.cpp).
        {"Stereo24AtInsane", Plain(2, 24), 5000, ape::ErrorUnsupportedBitDepth},
        {"Mono24AtInsane", Plain(1, 24), 5000, ape::ErrorUnsupportedBitDepth},
        {"ZeroRate", zeroRate, 2000, ape::ErrorUnsupportedSampleRate},
        {"BlockAlignMismatch", oddAlign, 2000, ape::ErrorBadParameter},
        {"LevelZero", Plain(2, 16), 0, ape::ErrorBadParameter},
        {"LevelBetween", Plain(2, 16), 2500, ape::ErrorBadParameter},
        {"LevelAbove", Plain(2, 16), 6000, ape::ErrorBadParameter},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.Name);
        TempDir dir;
        const fs::path file = dir / "out.ape";
        CApeCompressor compressor;
        EXPECT_EQ(compressor.Start(U(file).c_str(), &r.Format.Format, -1, r.Level), r.Expected);
        EXPECT_FALSE(fs::exists(file));
        EXPECT_EQ(compressor.AddData(nullptr, 0), ape::ErrorUndefined) << "not started";
    }
}

// The seek table is sized from the maximum; the frames do not depend on it.
// The head describes what was written; one seek entry per frame, in order, inside the frame
// data, with room for the frames of the maximum (of 2^32 - 1 blocks when it is unknown).
TEST(ApeCompressor, HeadAndSeekTableDescribeTheFrames) {
    struct Case {
        int Level;
        uint16_t Bits, Channels;
        size_t Blocks;
        bool Unknown;
    };
    for (const Case c : {Case{2000, 16, 2, 0, false}, Case{2000, 8, 1, Frame2000, false},
                         Case{1000, 24, 2, 2 * 73728 + 777, false}, Case{3000, 16, 1, 4099, true},
                         Case{2000, 24, 2, Frame2000 + 1, true}}) {
        SCOPED_TRACE(std::to_string(c.Level) + " " + std::to_string(c.Blocks));
        TempDir dir;
        const std::vector<uint8_t> pcm = Music(c.Channels, c.Bits, c.Blocks);
        const int64_t maxBytes =
            c.Unknown ? ape::MaxAudioBytesUnknown : static_cast<int64_t>(pcm.size());
        ASSERT_EQ(
            Compress(dir / "out.ape", PcmFormat(c.Channels, 44100, c.Bits), pcm, c.Level, maxBytes),
            0);
        const std::vector<uint8_t> bytes = ReadFile(dir / "out.ape");
        const ApeHead head = ReadHead(bytes);
        const uint32_t perFrame = ape::BlocksPerFrame(c.Level);
        const auto frames = static_cast<uint32_t>((c.Blocks + perFrame - 1) / perFrame);
        EXPECT_EQ(head.Version, 3990);
        EXPECT_EQ(head.Level, c.Level);
        EXPECT_EQ(head.Flags, 32) << "no stored WAV header, decoders create one";
        EXPECT_EQ(head.Bits, c.Bits);
        EXPECT_EQ(head.Channels, c.Channels);
        EXPECT_EQ(head.Rate, 44100u);
        EXPECT_EQ(head.BlocksPerFrame, perFrame);
        EXPECT_EQ(head.TotalFrames, frames);
        EXPECT_EQ(head.FinalFrameBlocks,
                  frames ? c.Blocks - (frames - 1) * size_t{perFrame} : perFrame);
        EXPECT_EQ(head.DataStart + head.FrameDataBytes, bytes.size());
        const size_t slots = maxBytes <= 0 ? (size_t{0xFFFFFFFF} + perFrame - 1) / perFrame
                                           : std::max<size_t>(frames, 1);
        ASSERT_EQ(head.SeekTable.size(), slots);
        for (uint32_t i = 0; i < slots; ++i) {
            if (i >= frames)
                ASSERT_EQ(head.SeekTable[i], 0u) << "unused seek entry " << i;
            else if (i == 0)
                EXPECT_EQ(head.SeekTable[i], head.DataStart);
            else
                EXPECT_GT(head.SeekTable[i], head.SeekTable[i - 1]) << "seek entry " << i;
            EXPECT_LT(head.SeekTable[i], bytes.size());
        }
    }
}

TEST(ApeCompressor, UnknownAndKnownLengthsGiveTheSameFrames) {
    TempDir dir;
    const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    const std::vector<uint8_t> pcm = Music(2, 16, 2 * Frame2000 + 5);
    struct Variant {
        const char* Name;
        int64_t Max;
        size_t Slots;
    } variants[] = {
        {"exact", static_cast<int64_t>(pcm.size()), 3},
        {"unknown", -1, 58255},                                // ceil((2^32 - 1) / 73728)
        {"zero", 0, 58255},                                    // no maximum is unknown too
        {"generous", static_cast<int64_t>(pcm.size()) * 2, 5}, // room for 4 x 73728 + 10
    };
    std::vector<uint8_t> reference;
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.Name);
        const fs::path file = dir / (std::string(v.Name) + ".ape");
        ASSERT_EQ(Compress(file, format, pcm, 2000, v.Max), 0);
        const std::vector<uint8_t> bytes = ReadFile(file);
        const ApeHead head = ReadHead(bytes);
        EXPECT_EQ(head.SeekTable.size(), v.Slots);
        EXPECT_EQ(head.TotalFrames, 3u);
        if (reference.empty())
            reference = FrameData(bytes);
        EXPECT_TRUE(FrameData(bytes) == reference) << "frame data differs";
    }
}

// A second encoder of the format, Debian's JMAC (Java), codes the same frames byte for byte:
// catches a change that still decodes but no longer compresses as the format's encoders do.
TEST(ApeCompressor, FramesAreThoseOfTheJavaEncoder) {
    if (!HaveJmac())
        GTEST_SKIP() << "jmac is not installed";
    TempDir dir;
    WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    const std::vector<uint8_t> pcm = Music(2, 16, 100000); // two frames at the lower levels
    WriteWav(dir / "in.wav", format, pcm);

    const std::vector<int> levels =
        Exhaustive() ? std::vector<int>{1000, 2000, 3000, 4000} : std::vector<int>{2000, 4000};
    for (int level : levels) {
        SCOPED_TRACE(level);
        ASSERT_EQ(Compress(dir / "ours.ape", format, pcm, level, -1), 0);
        const RunResult r = zrtest::Run({"jmac", "c" + std::to_string(level / 1000),
                                         (dir / "in.wav").string(), (dir / "jmac.ape").string()});
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        const std::vector<uint8_t> ours = FrameData(ReadFile(dir / "ours.ape"));
        const std::vector<uint8_t> theirs = FrameData(ReadFile(dir / "jmac.ape"));
        ASSERT_FALSE(theirs.empty()) << r.Output;
        EXPECT_EQ(FirstDifference(theirs, ours, 1), "");
        fs::remove(dir / "jmac.ape"); // jmac writes into an existing file without truncating it
    }
}

TEST(ApeCompressor, HowThePcmIsCutDoesNotChangeTheFile) {
    TempDir dir;
    const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    const std::vector<uint8_t> pcm = Music(2, 16, Frame2000 + 100);
    ASSERT_EQ(Compress(dir / "whole.ape", format, pcm, 2000, -1, pcm.size()), 0);
    const std::vector<uint8_t> whole = ReadFile(dir / "whole.ape");
    // One byte (splits every sample), an odd size, exactly one frame, a frame and a bit.
    for (size_t chunk : {size_t{1}, size_t{7}, size_t{Frame2000} * 4, size_t{Frame2000} * 4 + 6}) {
        SCOPED_TRACE(chunk);
        ASSERT_EQ(Compress(dir / "cut.ape", format, pcm, 2000, -1, chunk), 0);
        EXPECT_TRUE(ReadFile(dir / "cut.ape") == whole);
    }
}

TEST(ApeCompressor, APartialBlockAtTheEndIsLeftOut) {
    TempDir dir;
    const WAVEFORMATEX format = PcmFormat(2, 44100, 24);
    const std::vector<uint8_t> pcm = Music(2, 24, 1000);
    std::vector<uint8_t> ragged = pcm;
    ragged.insert(ragged.end(), {1, 2, 3, 4, 5}); // five of a block's six bytes
    ASSERT_EQ(Compress(dir / "x.ape", format, ragged, 2000, -1), 0);
    EXPECT_EQ(ReadHead(ReadFile(dir / "x.ape")).FinalFrameBlocks, 1000u);
    EXPECT_TRUE(SamePcm(pcm, DecodeCheckingCrcs(dir / "x.ape", 24), 3));
}

// A stored WAV header and trailer go into the file and into its MD5, as the SDK's arguments
// promise; decoders skip them.
TEST(ApeCompressor, StoredWavHeaderAndTrailerAreKeptAndHashed) {
    TempDir dir;
    const fs::path file = dir / "stored.ape";
    WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    const std::vector<uint8_t> pcm = Music(2, 16, 4000);
    WAVE_HEADER wav{};
    ASSERT_EQ(FillWaveHeader(&wav, static_cast<int64_t>(pcm.size()), &format, 0), 0);
    const unsigned char trailer[6] = {'L', 'I', 'S', 'T', 0, 0};

    CApeCompressor compressor;
    ASSERT_EQ(compressor.Start(U(file).c_str(), &format, -1, 1000, &wav, sizeof(wav)), 0);
    ASSERT_EQ(compressor.AddData(pcm.data(), static_cast<int64_t>(pcm.size())), 0);
    ASSERT_EQ(compressor.Finish(trailer, sizeof(trailer), sizeof(trailer)), 0);

    const std::vector<uint8_t> bytes = ReadFile(file);
    const ApeHead head = ReadHead(bytes);
    EXPECT_EQ(head.Flags, 0) << "a stored header: decoders must not make one";
    EXPECT_EQ(head.WavHeaderBytes, sizeof(wav));
    EXPECT_EQ(head.WavTrailerBytes, sizeof(trailer));
    EXPECT_EQ(head.SeekTable[0], head.DataStart);
    EXPECT_EQ(head.DataStart + head.FrameDataBytes + sizeof(trailer), bytes.size());
    EXPECT_TRUE(SamePcm(pcm, DecodeCheckingCrcs(file, 16), 2));
    if (HaveJmac()) {
        EXPECT_TRUE(SamePcm(pcm, DecodeWithJmac(file), 2));
    }
}

TEST(ApeCompressor, MissingArgumentsAndCallsOutOfOrderFail) {
    TempDir dir;
    const WAVEFORMATEX format = PcmFormat(1, 44100, 16);
    const std::vector<uint8_t> pcm = Music(1, 16, 100);
    CApeCompressor compressor;
    EXPECT_EQ(compressor.Start(nullptr, &format), ape::ErrorBadParameter);
    EXPECT_EQ(compressor.Start(u"", &format), ape::ErrorBadParameter);
    EXPECT_EQ(compressor.Start(U(dir / "x.ape").c_str(), nullptr), ape::ErrorBadParameter);
    // A stored WAV header of some bytes needs its bytes.
    EXPECT_EQ(compressor.Start(U(dir / "x.ape").c_str(), &format, -1, 2000, nullptr, 44),
              ape::ErrorBadParameter);
    EXPECT_FALSE(fs::exists(dir / "x.ape"));
    EXPECT_EQ(compressor.AddData(pcm.data(), 2), ape::ErrorUndefined);
    EXPECT_EQ(compressor.Finish(nullptr, 0, 0), ape::ErrorUndefined);
    ASSERT_EQ(compressor.Start(U(dir / "x.ape").c_str(), &format), 0);
    EXPECT_EQ(compressor.AddData(pcm.data(), -1), ape::ErrorBadParameter);
    EXPECT_EQ(compressor.AddData(nullptr, 4), ape::ErrorBadParameter);
    ASSERT_EQ(compressor.AddData(pcm.data(), static_cast<int64_t>(pcm.size())), 0);
    EXPECT_EQ(compressor.Finish(nullptr, 5, 0), ape::ErrorBadParameter) << "trailer without bytes";
    ASSERT_EQ(compressor.Finish(nullptr, 0, 0), 0);
    EXPECT_EQ(compressor.AddData(pcm.data(), 2), ape::ErrorUndefined) << "after Finish";
    EXPECT_EQ(compressor.Finish(nullptr, 0, 0), ape::ErrorUndefined) << "second Finish";
}

TEST(ApeCompressor, MoreThanTheMaximumFailsAndLeavesNoFile) {
    TempDir dir;
    const fs::path file = dir / "x.ape";
    const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    const std::vector<uint8_t> pcm = Music(2, 16, 2 * Frame2000 + 1);
    CApeCompressor compressor;
    // Room for one frame only.
    ASSERT_EQ(compressor.Start(U(file).c_str(), &format, Frame2000 * 4), 0);
    EXPECT_EQ(compressor.AddData(pcm.data(), static_cast<int64_t>(pcm.size())),
              ape::ErrorTooMuchData);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(compressor.AddData(pcm.data(), 4), ape::ErrorTooMuchData) << "the failure sticks";
    EXPECT_EQ(compressor.Finish(nullptr, 0, 0), ape::ErrorTooMuchData);
}

TEST(ApeCompressor, AnUnfinishedFileIsDeleted) {
    TempDir dir;
    const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    const std::vector<uint8_t> pcm = Music(2, 16, Frame2000 + 10);
    {
        CApeCompressor compressor;
        ASSERT_EQ(compressor.Start(U(dir / "first.ape").c_str(), &format), 0);
        ASSERT_EQ(compressor.AddData(pcm.data(), static_cast<int64_t>(pcm.size())), 0);
        EXPECT_TRUE(fs::exists(dir / "first.ape"));
        // Starting again gives up the first file.
        ASSERT_EQ(compressor.Start(U(dir / "second.ape").c_str(), &format), 0);
        EXPECT_FALSE(fs::exists(dir / "first.ape"));
        ASSERT_EQ(compressor.AddData(pcm.data(), 400), 0);
    }
    EXPECT_FALSE(fs::exists(dir / "second.ape")) << "destroyed without Finish";
}

TEST(ApeCompressor, UnwritableDestinationsFail) {
    TempDir dir;
    const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    CApeCompressor compressor;
    EXPECT_EQ(compressor.Start(U(dir / "missing" / "x.ape").c_str(), &format),
              ape::ErrorInvalidOutputFile);
    EXPECT_EQ(compressor.Start(U(dir.Path()).c_str(), &format), ape::ErrorInvalidOutputFile)
        << "a folder";
    // A full device takes the open but not the head; it must survive the clean-up.
    if (fs::exists("/dev/full")) {
        EXPECT_EQ(compressor.Start(u"/dev/full", &format), ape::ErrorIoWrite);
        struct stat info {};
        EXPECT_TRUE(::stat("/dev/full", &info) == 0 && S_ISCHR(info.st_mode));
    }
}

// ---- the encoder ---------------------------------------------------------------------------

TEST(ApeEncoder, EncodesAtTheChosenLevelWithTheSeekTableOfTheExpectedSize) {
    const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    const std::vector<uint8_t> pcm = MakePcm(Signal::Music, 2, 44100, 16, 250000, 5);
    struct Case {
        const char* Settings;
        int Level;
        int64_t Expected;
        size_t Slots;
    } cases[] = {
        // 1,000,000 bytes x 1.2 = 300,000 blocks: five frames of 73728 (four without the 1.2).
        {"Compression=1000", 1000, 1000000, 5},
        {"Compression=2000", 2000, -1, 58255},
        {"Compression=3000", 3000, 0, 58255},
        {"Compression=4000", 4000, 1000000, 2}, // 294912 blocks per frame
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Settings);
        TempDir dir;
        const EncodeResult e = Encode(CreateApeEncoder, dir / "out.ape",
                                      {&format, pcm, 65536, c.Expected, c.Settings});
        ASSERT_TRUE(e.Ok()) << e.LastError;
        const ApeHead head = ReadHead(ReadFile(dir / "out.ape"));
        EXPECT_EQ(head.Level, c.Level);
        EXPECT_EQ(head.SeekTable.size(), c.Slots);
    }
}

TEST(ApeEncoder, WithoutSettingsTheLevelIsZeroAndStartFails) {
    TempDir dir;
    const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    const EncodeResult e = Encode(CreateApeEncoder, dir / "out.ape", {&format, {}, 65536, -1});
    EXPECT_FALSE(e.Started);
    EXPECT_FALSE(fs::exists(dir / "out.ape"));
    EXPECT_EQ(e.LastError, "") << "the encoder sets no text of its own";
}

TEST(ApeEncoder, FailuresOfTheCompressorFailTheSlots) {
    TempDir dir;
    uint8_t pcm[16] = {};
    std::unique_ptr<IZrEncoder> encoder(CreateApeEncoder(nullptr));
    encoder->SetProperty(u"Settings", u"");
    EXPECT_FALSE(encoder->EncodeBuffer(pcm, sizeof(pcm))) << "not started";
    EXPECT_FALSE(encoder->FinishBufferBased()) << "not started";
    EXPECT_FALSE(encoder->StartBufferBased(nullptr, -1));

    const WAVEFORMATEX floats = PcmFormat(2, 48000, 32, WAVE_FORMAT_IEEE_FLOAT);
    EXPECT_FALSE(Encode(*encoder, dir / "b.ape", {&floats, {}, 65536, -1}).Started);
    EXPECT_FALSE(fs::exists(dir / "b.ape"));
    EXPECT_FALSE(encoder->EncodeBuffer(pcm, sizeof(pcm))) << "after a failed start";

    // A host that delivers more than 1.2 x what it announced.
    const WAVEFORMATEX stereo = PcmFormat(2, 44100, 16);
    const std::vector<uint8_t> many(73728 * 4 * 2 + 4, 0x11);
    const EncodeResult e = Encode(*encoder, dir / "c.ape", {&stereo, many, 65536, 1000});
    EXPECT_TRUE(e.Started);
    EXPECT_FALSE(e.Finished);
    EXPECT_FALSE(fs::exists(dir / "c.ape"));
}

} // namespace
