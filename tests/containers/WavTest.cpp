// The uncompressed-wave encoder: header bytes, raw and big-endian variants, format handling.
// Round trips, refusals, unwritable destinations, a full device: LosslessRoundTripTest,
// RefusalTest.
#include "containers/AiffCreator.h"
#include "containers/WavCreator.h"
#include "containers/WavEncoder.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cstring>

using namespace zrtest;

namespace {

std::vector<uint8_t> Ramp(size_t bytes) {
    std::vector<uint8_t> v(bytes);
    for (size_t i = 0; i < bytes; ++i)
        v[i] = static_cast<uint8_t>(i * 7 + 3);
    return v;
}

TEST(WavEncoder, SixteenBitStereoExampleIsByteExact) {
    TempDir dir;
    const auto format = PcmFormat(2, 44100, 16);
    const auto pcm = Ramp(4 * 4096);
    CWavEncoder wav(nullptr);
    ASSERT_EQ(Encode(wav, dir / "a.wav", {&format, pcm, 4096}).FailedStep(), "");

    std::vector<uint8_t> expected = {'R', 'I', 'F', 'F'};
    PutLe(expected, 16420, 4);
    expected.insert(expected.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    for (const auto& [value, bytes] : std::vector<std::pair<uint32_t, int>>{
             {16, 4}, {1, 2}, {2, 2}, {44100, 4}, {176400, 4}, {4, 2}, {16, 2}})
        PutLe(expected, value, bytes);
    expected.insert(expected.end(), {'d', 'a', 't', 'a'});
    PutLe(expected, 16384, 4);
    expected.insert(expected.end(), pcm.begin(), pcm.end());
    EXPECT_TRUE(SamePcm(expected, ReadFile(dir / "a.wav"), 1));
}

TEST(WavEncoder, HeaderSizesAtStartComeFromTheExpectedSize) {
    struct Case {
        int64_t Expected;
        uint32_t Riff, Data;
        bool Rf64 = false;
    };
    // A negative size means unknown, as 0 does. Past 4 GiB the file starts as RF64: the 32-bit
    // sizes say 0xFFFFFFFF and ds64 has the real ones.
    const Case cases[] = {{0, 36, 0},
                          {-5, 36, 0},
                          {1000, 1036, 1000},
                          {0xFFFF'FFDB, 0xFFFF'FFFF, 0xFFFF'FFDB},
                          {0xFFFF'FFDC, 0xFFFF'FFFF, 0xFFFF'FFFF, true},
                          {0x1'0000'0010, 0xFFFF'FFFF, 0xFFFF'FFFF, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Expected);
        TempDir dir;
        const auto format = PcmFormat(2, 44100, 16);
        CWavEncoder wav(nullptr);
        SetProperty(wav, u"Add Output Extension", "0");
        SetProperty(wav, u"Destination Filename", (dir / "a.wav").string());
        ASSERT_TRUE(wav.StartBufferBased(&format, c.Expected));
        const auto header = ReadFile(dir / "a.wav"); // visible before the finish patches it
        const bool rf64 = c.Rf64;
        ASSERT_EQ(header.size(), rf64 ? 80u : 44u);
        EXPECT_EQ(std::string(header.begin(), header.begin() + 4), rf64 ? "RF64" : "RIFF");
        EXPECT_EQ(Le32(&header[4]), c.Riff);
        EXPECT_EQ(Le32(&header[header.size() - 4]), c.Data);
        if (rf64) {
            EXPECT_EQ(std::string(header.begin() + 12, header.begin() + 16), "ds64");
            EXPECT_EQ(Le64(&header[20]), static_cast<uint64_t>(c.Expected) + 72);
            EXPECT_EQ(Le64(&header[28]), static_cast<uint64_t>(c.Expected));
            EXPECT_EQ(Le64(&header[36]), static_cast<uint64_t>(c.Expected) / 4);
        }
    }
}

struct VariantCase {
    const char* Settings;
    uint16_t Bits;
    bool Header;
    bool Swapped; // sample bytes reversed within each sample
    const char* Extension;
};

TEST(WavEncoder, RawAndBigEndianVariants) {
    const VariantCase cases[] = {
        {"NOHDR=1|L24=1", 24, false, true, "l24"},
        {"NOHDR=1|L16=1", 16, false, true, "l16"},
        {"NOHDR=1|L16=1|L24=1", 24, false, true, "l24"},
        {"NOHDR=1|L24=1", 16, false, true, "l24"}, // the data keeps the input's width
        {"NOHDR=1", 16, false, false, "wav"},      // little-endian raw PCM
        {"NOHDR=2|L16=1", 16, true, true, "wav"},  // only exactly 1 drops the header
        {"L16=1", 16, true, true, "wav"},          // header and big-endian data together
        {"L16=1", 32, true, false, "wav"},         // only 16- and 24-bit samples are swapped
        {"L16=1", 8, true, false, "wav"},
        {"", 24, true, false, "wav"},
    };
    for (const VariantCase& c : cases) {
        SCOPED_TRACE(std::string(c.Settings) + " at " + std::to_string(c.Bits) + " bits");
        TempDir dir;
        const auto format = PcmFormat(2, 48000, c.Bits);
        const auto pcm = Ramp(c.Bits / 8u * 2 * 1001);
        CWavEncoder wav(nullptr);
        SetProperty(wav, u"Settings", c.Settings);
        SetProperty(wav, u"Destination Filename", (dir / "out").string());
        EXPECT_EQ(Property(wav, u"Destination Filename"),
                  (dir / "out").string() + "." + c.Extension);

        // Blocks hold whole frames, as the host delivers them.
        ASSERT_EQ(Encode(wav, dir / "a", {&format, pcm, 3000, 0, c.Settings}).FailedStep(), "");
        const auto file = ReadFile(dir / "a");
        const size_t headerBytes = c.Header ? 44 : 0;
        ASSERT_EQ(file.size(), pcm.size() + headerBytes);
        if (c.Header) {
            EXPECT_EQ(Le32(&file[40]), pcm.size());
        }
        auto expected = pcm;
        const size_t width = c.Bits / 8u;
        if (c.Swapped)
            for (size_t i = 0; i + width <= expected.size(); i += width)
                std::reverse(expected.begin() + i, expected.begin() + i + width);
        EXPECT_EQ(FirstDifference(expected, {file.begin() + headerBytes, file.end()}, width), "");
    }
}

TEST(WavEncoder, FormatTagsAndRecords) {
    struct Case {
        const char* Name;
        WAVEFORMATEXTENSIBLE Record; // the host's record
        uint16_t Tag, Bits;
    };
    auto plain = [](uint16_t tag, uint16_t bits) {
        WAVEFORMATEXTENSIBLE record{};
        record.Format = PcmFormat(2, 44100, bits, tag);
        return record;
    };
    auto extensible = [](uint16_t bits, uint16_t valid, const ZrGuid& sub) {
        return ExtensibleFormat(2, 44100, bits, valid, 3, sub);
    };
    const Case cases[] = {
        {"float", plain(3, 32), 3, 32},
        {"extensible float", extensible(32, 32, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT), 3, 32},
        {"extensible 24 in 32", extensible(32, 24, KSDATAFORMAT_SUBTYPE_PCM), 1, 32},
        {"extensible 20-bit", extensible(20, 20, KSDATAFORMAT_SUBTYPE_PCM), 1, 24},
        {"32-bit integer", plain(1, 32), 1, 32},
        {"unknown tag is integer PCM", plain(0x55, 16), 1, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        CWavEncoder wav(nullptr);
        const WAVEFORMATEX* record = &c.Record.Format;
        const auto pcm = Ramp(record->nBlockAlign * 10u);
        const std::string step = Encode(wav, dir / "a.wav", {record, pcm, 4096}).FailedStep();
        ASSERT_EQ(step, "");
        const auto file = ReadFile(dir / "a.wav");
        ASSERT_EQ(file.size(), 44 + pcm.size()) << "always the plain 16-byte format chunk";
        EXPECT_EQ(Le32(&file[16]), 16u);
        EXPECT_EQ(Le16(&file[20]), c.Tag);
        EXPECT_EQ(Le16(&file[34]), c.Bits);
        EXPECT_EQ(Le16(&file[32]), c.Bits / 8 * 2);
    }
}

TEST(WavCreator, UnfinishedFilesArePatchedOnRestartAndDestruction) {
    TempDir dir;
    ZrAudioFormat format;
    const auto pcm = Ramp(400);
    {
        CWAVCreator creator;
        ASSERT_EQ(creator.Start(U(dir / "first.wav"), format, 0), 0);
        auto block = pcm;
        ASSERT_EQ(creator.Write(block.data(), block.size()), 0);
        // A second start finishes the first file.
        ASSERT_EQ(creator.Start(U(dir / "second.wav"), format, 0), 0);
        block = pcm;
        ASSERT_EQ(creator.Write(block.data(), 100), 0);
        // Destruction finishes the second.
    }
    EXPECT_EQ(Le32(&ReadFile(dir / "first.wav")[40]), 400u);
    EXPECT_EQ(Le32(&ReadFile(dir / "second.wav")[40]), 100u);
    EXPECT_EQ(Le32(&ReadFile(dir / "second.wav")[4]), 136u);

    CWAVCreator closed;
    uint8_t byte = 0;
    EXPECT_EQ(closed.Write(&byte, 1), -1) << "writing before a start";
    EXPECT_EQ(closed.Finish(), 0);
}

// Past the 32-bit sizes (a lowered limit stands in for 4 GiB): WAV moves its samples up and
// becomes RF64, which ffmpeg reads whole; AIFF, with no 64-bit form, refuses at the start or
// fails the write that would cross it.
TEST(WavCreator, PastTheSizeLimitWavBecomesRf64AndAiffFails) {
    TempDir dir;
    ZrAudioFormat format; // 16-bit stereo
    // 5.1 (side) takes the extensible record, 24 bytes longer, which names its speakers.
    ZrAudioFormat surround;
    surround.Fill(16, 44100, 6, 0x60F, true, KSDATAFORMAT_SUBTYPE_PCM, true);
    const auto pcm = Ramp(4000);
    const auto pcm6 = Ramp(3600);
    for (int64_t expected : {0, 4000, -6}) {
        SCOPED_TRACE(expected);
        const bool six = expected < 0;
        const auto& samples = six ? pcm6 : pcm;
        CWAVCreator wav;
        wav.PlainFileLimit = 1000;
        ASSERT_EQ(wav.Start(U(dir / "big.wav"), six ? surround : format, six ? 0 : expected), 0);
        for (size_t at = 0; at < samples.size(); at += 1200) {
            const size_t n = std::min<size_t>(1200, samples.size() - at);
            std::vector<uint8_t> block(samples.begin() + at, samples.begin() + at + n);
            ASSERT_EQ(wav.Write(block.data(), block.size()), 0);
        }
        ASSERT_EQ(wav.Finish(), 0) << wav.FailureText().ToUtf8();
        const auto file = ReadFile(dir / "big.wav");
        ASSERT_EQ(file.size(), (six ? 104u : 80u) + samples.size());
        EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RF64");
        EXPECT_EQ(Le64(&file[20]), file.size() - 8);
        EXPECT_EQ(Le64(&file[28]), samples.size());
        EXPECT_EQ(Le64(&file[36]), samples.size() / (six ? 12 : 4));
        if (expected <= 0) { // the moved samples
            EXPECT_TRUE(SamePcm(samples, DecodeWithFfmpeg(dir / "big.wav", "s16le"), 2));
            if (six) {
                EXPECT_EQ(ProbeAudioStream(dir / "big.wav")["channel_layout"], "5.1(side)");
            }
        }
    }

    AIFFCreator aiff;
    aiff.PlainFileLimit = 1000;
    EXPECT_EQ(aiff.Start(U(dir / "big.aif"), format, 4000), -1);
    EXPECT_CONTAINS(aiff.FailureText().ToUtf8(), "4 GiB");
    EXPECT_FALSE(fs::exists(dir / "big.aif"));
    ASSERT_EQ(aiff.Start(U(dir / "big.aif"), format, 0), 0);
    std::vector<uint8_t> block(pcm.begin(), pcm.begin() + 900);
    EXPECT_EQ(aiff.Write(block.data(), block.size()), 0);
    EXPECT_EQ(aiff.Write(block.data(), block.size()), -1);
    EXPECT_CONTAINS(aiff.FailureText().ToUtf8(), "4 GiB");
}

TEST(WavEncoder, DestinationNamesWithShellCharactersAndMissingFolders) {
    TempDir dir;
    const auto target = dir / "new folder" / "it's \"$HOME\" & `x`" / "Ünïcødé ♫ 1.wav";
    const auto format = PcmFormat(1, 8000, 16);
    const auto pcm = Ramp(200);
    CWavEncoder wav(nullptr);
    ASSERT_EQ(Encode(wav, target, {&format, pcm, 64}).FailedStep(), "");
    EXPECT_EQ(ReadFile(target).size(), 244u);
}

} // namespace
