// The Windows Media encoder: every profile row through zrenc, the format conversions and edge
// cases in process, and the header editor on files of ffmpeg's and of our own writer, all read
// back by ffprobe, ffmpeg and TagLib.
#include "codecs/wma/WmaEncoder.h"

#include "codecs/wma/runtime/WMRuntime.h"
#include "frame/ZrEncoderFactory.h"
#include "support/TestSupport.h"

#include <cmath>
#include <ctime>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <taglib/asffile.h>

namespace {

using namespace zrtest;

constexpr uint32_t Rate = 44100;
constexpr uint64_t FileTimeEpoch = 11'644'473'600; // seconds from 1601 to 1970

uint64_t FileTimeAt(std::time_t t) {
    return (static_cast<uint64_t>(t) + FileTimeEpoch) * 10'000'000;
}

// ffprobe's "key=value" lines of the stream and the format, tags included.
std::map<std::string, std::string> Probe(const fs::path& file) {
    const RunResult r = Run({"ffprobe", "-v", "error", "-show_entries",
                             "stream=codec_name,bit_rate,sample_rate,channels:format=duration:"
                             "format_tags",
                             "-of", "default=nw=1", file.string()});
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    std::map<std::string, std::string> out;
    for (const std::string& line : Lines(r.Output))
        if (const size_t eq = line.find('='); eq != std::string::npos)
            if (const size_t key = line.rfind("TAG:", 0) == 0 ? 4 : 0; true)
                out[line.substr(key, eq - key)] = line.substr(eq + 1);
    return out;
}

// TagLib's reading of an attribute: "type:value", "" when absent.
std::string TagLibAttribute(const fs::path& file, const char* name) {
    TagLib::ASF::File asf(file.c_str());
    if (!asf.isValid() || !asf.tag()->contains(name))
        return "";
    const TagLib::ASF::Attribute a = asf.tag()->attribute(name)[0];
    switch (a.type()) {
    case TagLib::ASF::Attribute::UnicodeType:
        return "string:" + a.toString().to8Bit(true);
    case TagLib::ASF::Attribute::BoolType:
        return "bool:" + std::to_string(a.toBool());
    case TagLib::ASF::Attribute::DWordType:
        return "dword:" + std::to_string(a.toUInt());
    case TagLib::ASF::Attribute::QWordType:
        return "qword:" + std::to_string(a.toULongLong());
    default:
        return "other";
    }
}

// The decoded tone keeps each channel's frequency (440 Hz, 550 Hz, ... as MakePcm makes it).
void ExpectTone(const std::vector<uint8_t>& s16, unsigned channels, uint32_t rate) {
    const std::vector<int32_t> samples = Samples(s16, 16);
    for (unsigned c = 0; c < channels; ++c)
        EXPECT_NEAR(DominantFrequency(samples, channels, c, rate), 440.0 + 110.0 * c, 1.0)
            << "channel " << c;
}

std::unique_ptr<CWmaEncoder> NewEncoder(const char* settings) {
    auto encoder =
        std::unique_ptr<CWmaEncoder>(static_cast<CWmaEncoder*>(CreateWmaEncoder(nullptr)));
    EXPECT_TRUE(SetProperty(*encoder, u"Settings", settings));
    return encoder;
}

class WmaTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("TESSARY_PROGRAM_DIR", LibDir().c_str(), 1); }
    // An encoder started as a host starts it, writing to out.wma.
    std::unique_ptr<CWmaEncoder> Started(const char* settings, const WAVEFORMATEX& format) {
        auto encoder = NewEncoder(settings);
        SetProperty(*encoder, u"Add Output Extension", "0");
        SetProperty(*encoder, u"Destination Filename", (dir / "out.wma").string());
        EXPECT_TRUE(encoder->StartBufferBased(&format, 0)) << Property(*encoder, u"Last Error");
        return encoder;
    }
    TempDir dir;
};

// --- Every profile row through zrenc ----------------------------------------------------------

// Each row's output is a tone at its bit rate; the header's attributes have their types, and the
// last row, with Security=1, carries the DRM attributes too.
TEST_F(WmaTest, EveryProfileRowEncodesAToneAtItsBitRate) {
    std::vector<std::pair<std::string, int>> rows; // settings, kbit/s
    for (int kbps : {48, 64, 96, 128, 160, 192, 256, 320})
        rows.emplace_back("Mode=0|CBR Bitrate=" + std::to_string(rows.size()), kbps);
    for (int kbps : {128, 160, 192, 256, 320})
        rows.emplace_back("Mode=1|VBR Bitrate=" + std::to_string(rows.size() - 8), kbps);
    rows.back().first += "|Security=1";
    WriteWav(dir / "in.wav", PcmFormat(2, Rate, 16), MakePcm(Signal::Tone, 2, Rate, 16, Rate));
    // One ffmpeg decodes every output, each to raw samples of its own.
    std::vector<std::string> decode = {"ffmpeg", "-v", "error"}, outputs;
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& [settings, kbps] = rows[i];
        const bool security = i + 1 == rows.size();
        SCOPED_TRACE(settings);
        const fs::path out = dir / ("out" + std::to_string(i) + ".wma");
        const std::time_t before = std::time(nullptr);
        const RunResult r = RunZrencAt(dir.Path(), {"-q", "-e", "wma", "-s", settings, "-o",
                                                    out.string(), (dir / "in.wav").string()});
        const std::time_t after = std::time(nullptr);
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        std::map<std::string, std::string> probe = Probe(out);
        EXPECT_EQ(probe["codec_name"], "wmav2");
        EXPECT_NEAR(std::stod(probe["bit_rate"]), kbps * 1000.0, kbps * 50.0);
        // Within one 3,200-byte ASF packet of the second that went in.
        EXPECT_NEAR(std::stod(probe["duration"]), 1.0, 3200.0 * 8 / (kbps * 1000.0));
        EXPECT_EQ(probe["encoded_by"], "Tessary");
        EXPECT_EQ(probe["encoder"], "") << "WM/EncodingSettings is not ours to fill";
        EXPECT_EQ(TagLibAttribute(out, "WM/EncodedBy"), "string:Tessary");
        const std::string time = TagLibAttribute(out, "WM/EncodingTime");
        ASSERT_EQ(time.rfind("qword:", 0), 0u) << time;
        const uint64_t stamp = std::stoull(time.substr(6));
        EXPECT_GE(stamp, FileTimeAt(before));
        EXPECT_LE(stamp, FileTimeAt(after + 1));
        // ffprobe reads numbers as numbers (ffmpeg 5.1 keeps only the low 32 bits, signed).
        const auto low = static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(stamp)));
        EXPECT_THAT(
            probe["WM/EncodingTime"],
            testing::AnyOf(std::to_string(stamp), std::to_string(static_cast<uint64_t>(low))));
        EXPECT_EQ(TagLibAttribute(out, "Use_DRM"), security ? "bool:1" : "");
        EXPECT_EQ(TagLibAttribute(out, "DRM_Level"), security ? "dword:150" : "");
        EXPECT_EQ(TagLibAttribute(out, "DRM_Flags"), security ? "dword:11" : "");
        EXPECT_EQ(probe["DRM_Level"], security ? "150" : "");
        decode.insert(decode.end(), {"-i", out.string()});
        outputs.insert(outputs.end(), {"-map", std::to_string(i) + ":a", "-f", "s16le",
                                       (dir / ("out" + std::to_string(i) + ".raw")).string()});
    }
    decode.insert(decode.end(), outputs.begin(), outputs.end());
    const RunResult decoded = zrtest::Run(decode);
    ASSERT_EQ(decoded.ExitCode, 0) << decoded.Output;
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].first);
        ExpectTone(ReadFile(dir / ("out" + std::to_string(i) + ".raw")), 2, Rate);
    }
}

// --- In process: conversions, sample times, refusals ----------------------------------------

TEST_F(WmaTest, FormatsTheCodecCannotTakeAreConverted) {
    struct Case {
        uint16_t Channels;
        uint32_t Rate;
        uint16_t Bits;
        bool Float;
        const char* Expected; // "rate channels"
    };
    const Case cases[] = {
        {1, 22050, 8, false, "22050 1"},  {2, 44100, 24, false, "44100 2"},
        {2, 48000, 32, false, "48000 2"}, {2, 44100, 32, true, "44100 2"},
        {6, 96000, 24, false, "48000 2"}, {2, 88200, 16, false, "44100 2"},
        {1, 6000, 16, false, "8000 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Channels << "ch " << c.Rate << " Hz " << c.Bits
                                        << (c.Float ? " float" : ""));
        const WAVEFORMATEX format = PcmFormat(c.Channels, c.Rate, c.Bits,
                                              c.Float ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM);
        const std::vector<uint8_t> pcm =
            MakePcm(Signal::Tone, c.Channels, c.Rate, c.Bits, c.Rate / 2, 1, c.Float);
        const EncodeResult r = Encode(CreateWmaEncoder, dir / "out.wma",
                                      {&format, pcm, 4099, std::nullopt, "Mode=0|CBR Bitrate=7"});
        ASSERT_TRUE(r.Ok()) << r.FailedStep() << ": " << r.LastError;
        std::map<std::string, std::string> probe = Probe(dir / "out.wma");
        EXPECT_EQ(probe["sample_rate"] + " " + probe["channels"], c.Expected);
        EXPECT_NEAR(std::stod(probe["duration"]), 0.5, 0.1);
        if (c.Channels <= 2 && c.Rate >= 8000 && c.Rate <= 48000)
            ExpectTone(DecodeWithFfmpeg(dir / "out.wma", "s16le"), c.Channels, c.Rate);
    }
}

TEST_F(WmaTest, SampleTimesFollowTheBytes) {
    auto encoder = Started("", PcmFormat(2, Rate, 16));
    EXPECT_EQ(encoder->ProfileFile(WMRuntimeMajorVersion), "NHvbr.xml");
    EXPECT_EQ(Property(*encoder, u"Estimated Bitrate"), "256");
    std::vector<uint8_t> second = MakePcm(Signal::Tone, 2, Rate, 16, Rate);
    ASSERT_EQ(second.size(), 176400u);
    EXPECT_TRUE(encoder->EncodeBuffer(second.data(), 0));
    EXPECT_EQ(encoder->SampleTime(), 0u);
    EXPECT_TRUE(encoder->EncodeBuffer(second.data(), second.size()));
    EXPECT_EQ(encoder->SampleTime(), 10'000'000u);
    EXPECT_TRUE(encoder->EncodeBuffer(second.data(), 4)); // one frame: 226 ticks, rounded down
    EXPECT_EQ(encoder->SampleTime(), 10'000'226u);
    EXPECT_TRUE(encoder->FinishBufferBased());
    // Every sample comes back, in its place: the decoded tone matches the input's closely.
    const std::vector<int32_t> in = Samples(second, 16);
    const std::vector<int32_t> out = Samples(DecodeWithFfmpeg(dir / "out.wma", "s16le"), 16);
    ASSERT_GE(out.size(), in.size() + 2);
    EXPECT_LT(out.size(), in.size() + 2 + 2 * 2048);
    double signal = 0, noise = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        signal += double(in[i]) * in[i];
        noise += double(in[i] - out[i]) * (in[i] - out[i]);
    }
    EXPECT_GT(10 * std::log10(signal / noise), 20.0) << "dB signal to noise";
    // Without a host there is no product text: the attribute is left out.
    EXPECT_EQ(TagLibAttribute(dir / "out.wma", "WM/EncodedBy"), "");
    EXPECT_EQ(TagLibAttribute(dir / "out.wma", "WM/EncodingTime").rfind("qword:", 0), 0u);
}

TEST_F(WmaTest, RefusalsGiveAReasonAndLeaveNoFile) {
    struct Case {
        const char* Settings;
        uint32_t Rate;
        const char* Reason;
        const char* Estimate;
    };
    const Case cases[] = {
        {"Mode=2", Rate, "Lossless cannot be written", "750"},
        {"Mode=0|CBR Bitrate=8", Rate, "CBR Bitrate 8 is not one of the 8 CBR profiles", "128"},
        {"Mode=1|VBR Bitrate=-1", Rate, "VBR Bitrate -1 is not one of the 5 VBR", "128"},
        {"Mode=3", Rate, "Mode 3 is none of", "128"},
        {"Mode=0", 0, "no bytes per second", "192"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Settings);
        const WAVEFORMATEX format = PcmFormat(2, c.Rate, 16);
        auto encoder = NewEncoder(c.Settings);
        EXPECT_EQ(Property(*encoder, u"Estimated Bitrate"), c.Estimate);
        const EncodeResult r = Encode(*encoder, dir / "out.wma", {&format});
        EXPECT_EQ(r.FailedStep(), "start");
        EXPECT_CONTAINS(r.LastError, c.Reason);
        encoder.reset();
        EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{});
    }
    auto lossless = NewEncoder("Mode=2");
    EXPECT_EQ(lossless->ProfileFile(10), "lossless_v10.xml");
    EXPECT_EQ(lossless->ProfileFile(9), "lossless_old.xml");
    // An encoder that goes before it is finished takes its file with it.
    std::vector<uint8_t> pcm = MakePcm(Signal::Tone, 2, Rate, 16, 4096);
    EXPECT_TRUE(Started("", PcmFormat(2, Rate, 16))->EncodeBuffer(pcm.data(), pcm.size()));
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{});
}

// --- The header editor ----------------------------------------------------------------------

TEST_F(WmaTest, TheEditorRewritesAttributesAndKeepsTheSamples) {
    const WAVEFORMATEX format = PcmFormat(2, Rate, 16);
    const std::vector<uint8_t> pcm = MakePcm(Signal::Tone, 2, Rate, 16, Rate / 4);
    WriteWav(dir / "in.wav", format, pcm);
    const RunResult made =
        zrtest::Run({"ffmpeg", "-v", "error", "-i", (dir / "in.wav").string(), "-c:a", "wmav2",
                     "-b:a", "128k", "-metadata", "title=Kept", (dir / "ffmpeg.wma").string()});
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
    ASSERT_TRUE(
        Encode(CreateWmaEncoder, dir / "ours.wma", {&format, pcm, 0, std::nullopt, ""}).Ok());

    for (const char* name : {"ffmpeg.wma", "ours.wma"}) {
        SCOPED_TRACE(name);
        const fs::path file = dir / name;
        const std::vector<uint8_t> before = DecodeWithFfmpeg(file, "s16le");
        // Twice: a new header size (a new file), then the same size (in place).
        for (uint32_t level : {7u, 8u}) {
            ZrWMFactory factory;
            std::unique_ptr<IWMMetadataEditor> editor;
            ASSERT_FALSE(WMFailed(factory.CreateEditor(editor)));
            ASSERT_FALSE(WMFailed(editor->Open(file.string()))) << editor->LastErrorText();
            IWMHeaderInfo* header = editor->HeaderInfo();
            EXPECT_FALSE(
                WMFailed(header->SetAttribute(0, u"WM/EncodedBy", WMAttribute::String(u"Zr"))));
            EXPECT_FALSE(WMFailed(header->SetAttribute(0, u"Use_DRM", WMAttribute::Bool(true))));
            EXPECT_FALSE(
                WMFailed(header->SetAttribute(0, u"DRM_Level", WMAttribute::DWord(level))));
            EXPECT_FALSE(WMFailed(header->SetAttribute(0, u"WM/EncodingTime",
                                                       WMAttribute::QWord(0x0123456789ABCDEFull))));
            EXPECT_TRUE(WMFailed(header->SetAttribute(1, u"X", WMAttribute::DWord(1))));
            ASSERT_FALSE(WMFailed(editor->Flush())) << editor->LastErrorText();
        }
        EXPECT_EQ(TagLibAttribute(file, "WM/EncodedBy"), "string:Zr");
        EXPECT_EQ(TagLibAttribute(file, "Use_DRM"), "bool:1");
        EXPECT_EQ(TagLibAttribute(file, "DRM_Level"), "dword:8");
        EXPECT_EQ(TagLibAttribute(file, "WM/EncodingTime"), "qword:81985529216486895");
        std::map<std::string, std::string> probe = Probe(file);
        EXPECT_EQ(probe["encoded_by"], "Zr");
        if (std::string(name) == "ffmpeg.wma") {
            EXPECT_EQ(probe["title"], "Kept");
        }
        EXPECT_TRUE(SamePcm(before, DecodeWithFfmpeg(file, "s16le"), 2));
    }
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"ffmpeg.wma", "in.wav", "ours.wma"}));

    WriteFile(dir / "x.wma", "not an asf file at all, not at all", 34);
    ZrWMFactory factory;
    std::unique_ptr<IWMMetadataEditor> editor;
    ASSERT_FALSE(WMFailed(factory.CreateEditor(editor)));
    EXPECT_TRUE(WMFailed(editor->Open((dir / "x.wma").string())));
    EXPECT_CONTAINS(editor->LastErrorText(), "is not an ASF file");
    EXPECT_TRUE(WMFailed(editor->Open((dir / "missing.wma").string())));
    EXPECT_CONTAINS(editor->LastErrorText(), "No such file");
}

} // namespace
