// The FLAC encoder's metadata (as metaflac shows it) and odd inputs. Round trips, refused
// formats and a full disk: LosslessRoundTripTest, RefusalTest.
#include "codecs/flac/FlacEncoder.h"

#include "frame/ZrEncoderFactory.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <memory>
#include <sstream>

namespace {

using namespace zrtest;

std::unique_ptr<IZrEncoder> NewEncoder(const char16_t* settings) {
    std::unique_ptr<IZrEncoder> encoder(CreateFlacEncoder(nullptr));
    encoder->SetProperty(u"Settings", settings);
    return encoder;
}

struct StreamInfo {
    int SeekPoints = -1; // -1: no SEEKTABLE block
    std::vector<uint64_t> PointSamples;
    int Padding = -1; // -1: no PADDING block, else its length
    uint32_t MinBlocksize = 0;
};

// The text after `key` in `line`, or "" when `key` is not in it.
std::string After(const std::string& line, const std::string& key) {
    const size_t at = line.find(key);
    return at == std::string::npos ? "" : line.substr(at + key.size());
}

StreamInfo ListMetadata(const fs::path& path) {
    const RunResult r = Run({"metaflac", "--list", path.string()});
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    StreamInfo info;
    std::istringstream lines(r.Output);
    std::string line, type, value;
    while (std::getline(lines, line)) {
        if (!(value = After(line, "type: ")).empty())
            type = After(value, "(").substr(0, After(value, "(").find(')'));
        else if (!(value = After(line, "seek points: ")).empty())
            info.SeekPoints = std::stoi(value);
        else if (!(value = After(line, ": sample_number=")).empty())
            info.PointSamples.push_back(std::stoull(value));
        else if (type == "PADDING" && !(value = After(line, "length: ")).empty())
            info.Padding = std::stoi(value);
        else if (!(value = After(line, "minimum blocksize: ")).empty())
            info.MinBlocksize = static_cast<uint32_t>(std::stoul(value));
    }
    return info;
}

// --- Metadata: settings, seek table, padding ---------------------------------------------------

struct MetadataCase {
    const char* Name;
    std::optional<std::string> Settings; // unset: the "Settings" property is never set
    uint32_t Seconds;
    int64_t Expected; // expected input bytes; -2: the true size
    int SeekPoints;   // -1: no seek table
    int Padding;      // -1: no padding block
    uint32_t Blocksize;
};

constexpr int64_t kTrueSize = -2;

const MetadataCase kMetadataCases[] = {
    // A map that was never filled reads every key as absent: level 0, nothing extra.
    {"NeverConfigured", std::nullopt, 5, kTrueSize, -1, -1, 1152},
    {"OnlyQualityKeepsOtherDefaults", "Quality=1", 5, kTrueSize, 5, 4096, 1152},
    // Under 3 seconds one point, 3 to 10 one per second, 11 and more a hundred.
    {"TwoSeconds", "", 2, kTrueSize, 1, 4096, 4096},
    {"ThreeSeconds", "", 3, kTrueSize, 3, 4096, 4096},
    {"TenSeconds", "", 10, kTrueSize, 10, 4096, 4096},
    {"ElevenSeconds", "", 11, kTrueSize, 100, 4096, 4096},
    {"UnknownLengthZero", "", 5, 0, -1, 4096, 4096},
    {"UnknownLengthNegative", "", 5, -1, -1, 4096, 4096},
    {"SeekTableOff", "AddST=0", 5, kTrueSize, -1, 4096, 4096},
    {"PaddingOff", "AddPB=0", 5, kTrueSize, 5, -1, 4096},
    {"BothOff", "AddST=0|AddPB=0", 5, kTrueSize, -1, -1, 4096},
};

class FlacMetadata : public testing::TestWithParam<MetadataCase> {};

TEST_P(FlacMetadata, SeekTableAndPadding) {
    const MetadataCase& c = GetParam();
    constexpr uint32_t rate = 8000;
    TempDir dir;
    const std::vector<uint8_t> pcm = MakePcm(Signal::Music, 1, rate, 8, size_t{rate} * c.Seconds);
    const WAVEFORMATEX format = PcmFormat(1, rate, 8);
    const fs::path file = dir / "meta.flac";
    const EncodeResult r = Encode(
        CreateFlacEncoder, file,
        {&format, pcm, 0, c.Expected == kTrueSize ? int64_t(pcm.size()) : c.Expected, c.Settings});
    ASSERT_TRUE(r.Ok()) << r.FailedStep() << ": " << r.LastError;
    const StreamInfo info = ListMetadata(file);
    EXPECT_EQ(info.SeekPoints, c.SeekPoints);
    EXPECT_EQ(info.Padding, c.Padding);
    EXPECT_EQ(info.MinBlocksize, c.Blocksize);
    if (c.SeekPoints == 1) {
        // The point at half the length moves to the start of the frame that holds it.
        ASSERT_EQ(info.PointSamples.size(), 1u);
        EXPECT_LE(info.PointSamples[0], pcm.size() / 2);
        EXPECT_GT(info.PointSamples[0] + c.Blocksize, pcm.size() / 2);
    }
    EXPECT_EQ(zrtest::Run({"flac", "-t", "-s", "-w", file.string()}).ExitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, FlacMetadata, testing::ValuesIn(kMetadataCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// --- Odd inputs and names --------------------------------------------------------------------

TEST(FlacInput, PartialFrameIsDroppedAndNamesAreKept) {
    TempDir dir;
    const fs::path base = dir / "it's a \"test\" $HOME é 日本";
    std::vector<uint8_t> pcm = MakePcm(Signal::Tone, 2, 44100, 16, 100);
    std::vector<uint8_t> withTail = pcm;
    withTail.insert(withTail.end(), {1, 2, 3});
    auto encoder = NewEncoder(u"");
    encoder->SetProperty(u"Destination Filename", U(base).c_str());
    const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    ASSERT_TRUE(encoder->StartBufferBased(&format, pcm.size()));
    EXPECT_TRUE(encoder->EncodeBuffer(withTail.data(), 0));
    EXPECT_TRUE(encoder->EncodeBuffer(withTail.data(), withTail.size()));
    EXPECT_TRUE(encoder->FinishBufferBased());
    const fs::path file = base.string() + ".flac";
    ASSERT_TRUE(fs::exists(file));
    EXPECT_TRUE(SamePcm(pcm, DecodeWithFfmpeg(file, "s16le"), 2));
}

TEST(FlacInput, DestroyedWithoutFinishLeavesWhatWasWritten) {
    TempDir dir;
    const std::vector<uint8_t> pcm = MakePcm(Signal::Noise, 2, 44100, 16, 44100);
    {
        auto encoder = NewEncoder(u"Ogg=1");
        encoder->SetProperty(u"Destination Filename", U(dir / "abandoned").c_str());
        const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
        ASSERT_TRUE(encoder->StartBufferBased(&format, pcm.size()));
        std::vector<uint8_t> copy = pcm;
        ASSERT_TRUE(encoder->EncodeBuffer(copy.data(), copy.size()));
    }
    EXPECT_GT(fs::file_size(dir / "abandoned.ogg"), 4096u);
}

} // namespace
