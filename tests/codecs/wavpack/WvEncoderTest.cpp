// Settings, refused formats and destinations, write failures, log lines and calling order.
#include "WvTestHelpers.h"
#include "foundation/ZrLog.h"
#include "frame/ZrEncoderFactory.h"
#include "tessary/ZrTools.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>

namespace {

using namespace zrtest;
using namespace wvtest;

std::unique_ptr<IZrEncoder> NewEncoder() {
    return std::unique_ptr<IZrEncoder>(CreateWvEncoder(nullptr));
}

std::string Property(IZrEncoder& encoder, const char16_t* name) {
    ZrSysString text = encoder.GetProperty(name);
    const std::string utf8 = ZrString(text).ToUtf8();
    SysFreeString(text);
    return utf8;
}

std::vector<std::string> Pairs(const std::string& settings) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= settings.size()) {
        const size_t bar = settings.find('|', start);
        out.push_back(settings.substr(start, bar == std::string::npos ? bar : bar - start));
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Captures every log line as "scope: text".
class CapturingLogger final : public IZrLogger {
public:
    bool IsEnabled(uint32_t) override { return true; }
    void Write(uint32_t, const char16_t* scope, const char16_t* text) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back(ZrString(scope).ToUtf8() + ": " + ZrString(text).ToUtf8());
    }
    std::vector<std::string> Take() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::exchange(m_lines, {});
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

CapturingLogger g_logger;

class LogCapture {
public:
    LogCapture() {
        ZrSetLoggerProvider([]() -> IZrLogger* { return &g_logger; });
        g_logger.Take();
    }
    ~LogCapture() { ZrSetLoggerProvider(nullptr); }
    std::vector<std::string> Lines() { return g_logger.Take(); }
};

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(WvSettings, EmptyTextGivesTheFiveDefaults) {
    auto encoder = NewEncoder();
    EXPECT_EQ(Property(*encoder, u"Settings"), "") << "never set: no keys at all";
    encoder->SetProperty(u"Settings", u"");
    EXPECT_EQ(
        Pairs(Property(*encoder, u"Settings")),
        (std::vector<std::string>{"Compression Type=Lossless", "Compression=0", "Correction File=1",
                                  "Extra Encode Processing=0", "Target Bitrate=256"}));
}

TEST(WvSettings, LoadSettingsReplacesValuesOutsideTheAllowedSets) {
    struct Case {
        const char* Key;
        const char* Given;
        const char* Kept; // what the settings text then holds
    };
    const Case cases[] = {
        {"Compression", "512", "512"},
        {"Compression", "4096", "4096"},
        {"Compression", "1024", "0"},
        {"Compression", "-512", "0"},
        {"Compression Type", "Hybrid", "Hybrid"},
        {"Compression Type", "hybrid", "Lossless"}, // exact, case-sensitive
        {"Compression Type", "Lossy", "Lossless"},
        {"Extra Encode Processing", "6", "6"},
        {"Extra Encode Processing", "7", "0"},
        {"Extra Encode Processing", "-1", "0"},
        {"Target Bitrate", "32", "32"},
        {"Target Bitrate", "2560", "2560"},
        {"Target Bitrate", "300", "256"},
        {"Target Bitrate", "5000", "256"},
        {"Correction File", "0", "0"},
        {"Correction File", "2", "1"},
        {"Correction File", "-1", "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Key) + "=" + c.Given);
        auto encoder = NewEncoder();
        encoder->SetProperty(u"Settings", Settings({{c.Key, c.Given}}).c_str());
        const std::string expected = std::string(c.Key) + "=" + c.Kept;
        EXPECT_TRUE(Contains(Pairs(Property(*encoder, u"Settings")), expected))
            << Property(*encoder, u"Settings");
    }
}

TEST(WvStart, RefusesFormatsItCannotEncodeBeforeCreatingAFile) {
    struct Case {
        const char* Why;
        WAVEFORMATEXTENSIBLE Record;
        const char* Error;
    };
    auto plain = [](uint16_t channels, uint16_t bits, uint16_t tag = WAVE_FORMAT_PCM) {
        WAVEFORMATEXTENSIBLE r{};
        r.Format = PcmFormat(channels, 44100, bits, tag);
        return r;
    };
    WAVEFORMATEXTENSIBLE badAlign = plain(2, 16);
    badAlign.Format.nBlockAlign = 2;
    WAVEFORMATEX twentyBits = PcmFormat(2, 44100, 24);
    twentyBits.wBitsPerSample = 20; // a 20-bit record in 3-byte containers
    const std::string header = "unsupported wave header";
    const Case cases[] = {
        {"32-bit float", plain(2, 32, WAVE_FORMAT_IEEE_FLOAT), header.c_str()},
        {"extensible integer PCM", ExtensibleFormat(2, 44100, 16, 16, 3, KSDATAFORMAT_SUBTYPE_PCM),
         header.c_str()},
        {"ADPCM tag", plain(2, 16, 2), header.c_str()},
        {"12 bits", plain(2, 12), header.c_str()},
        {"20 bits", WAVEFORMATEXTENSIBLE{twentyBits, {}, 0, {}}, header.c_str()},
        {"block align of one channel", badAlign, header.c_str()},
        {"0 channels", plain(0, 16),
         "unsupported channel count 0: WavPack encoding takes 1 to 8 channels"},
        {"9 channels", plain(9, 16),
         "unsupported channel count 9: WavPack encoding takes 1 to 8 channels"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Why);
        TempDir dir;
        LogCapture log;
        auto encoder = NewEncoder();
        encoder->SetProperty(u"Destination Filename", U(dir / "out").c_str());
        EXPECT_FALSE(encoder->StartBufferBased(&c.Record.Format, 0));
        EXPECT_EQ(Property(*encoder, u"Last Error"), c.Error);
        EXPECT_TRUE(
            Contains(log.Lines(), std::string("CWvEncoder::StartBufferBased: ERROR - ") + c.Error));
        EXPECT_FALSE(fs::exists(dir / "out.wv"));
        uint8_t frame[64] = {};
        EXPECT_FALSE(encoder->EncodeBuffer(frame, sizeof frame));
    }
    auto encoder = NewEncoder();
    EXPECT_FALSE(encoder->StartBufferBased(nullptr, 0));
    EXPECT_EQ(Property(*encoder, u"Last Error"), "");
}

TEST(WvStart, UnwritableMainOrCorrectionFileIsNamedInTheError) {
    TempDir dir;
    const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    const std::u16string hybrid = Settings({{"Compression Type", "Hybrid"}});
    const std::vector<uint8_t> pcm = MakePcm(Signal::Tone, 2, 44100, 16, 100);
    const std::string prefix = "Failed to create / open output file:\r\n";

    const path missingFolder = dir / "no such folder" / "song.wv";
    EXPECT_EQ(Encode(missingFolder, u"", format, pcm, 0).LastError,
              prefix + missingFolder.string());

    // A folder where the correction file should go: the main file opens, the second fails.
    const path song = dir / "song.wv";
    fs::create_directory(dir / "song.wvc");
    const EncodeOutcome outcome = Encode(song, hybrid, format, pcm, 0);
    EXPECT_FALSE(outcome.Started);
    EXPECT_EQ(outcome.LastError, prefix + (dir / "song.wvc").string());

    // Without a correction file the same destination encodes.
    EXPECT_TRUE(Encode(song, Settings({{"Compression Type", "Hybrid"}, {"Correction File", "0"}}),
                       format, pcm, 0)
                    .Finished);
}

// /dev/full accepts the open and fails every write, like a disk that fills up mid-stream.
TEST(WvEncode, WriteFailureMidStreamFailsTheBufferWithoutACrash) {
    struct Case {
        const char* Why;
        bool Hybrid;
        bool MainIsFull;
    };
    const Case cases[] = {{"main file", false, true}, {"correction file", true, false}};
    const std::vector<uint8_t> pcm = MakePcm(Signal::Noise, 2, 44100, 16, 44100 * 4);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Why);
        TempDir dir;
        path destination = dir / "song.wv";
        if (c.MainIsFull)
            fs::create_symlink("/dev/full", destination);
        else
            fs::create_symlink("/dev/full", dir / "song.wvc");
        LogCapture log;
        auto encoder = NewEncoder();
        if (c.Hybrid)
            encoder->SetProperty(u"Settings", Settings({{"Compression Type", "Hybrid"}}).c_str());
        encoder->SetProperty(u"Add Output Extension", u"0");
        encoder->SetProperty(u"Destination Filename", U(destination).c_str());
        const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
        ASSERT_TRUE(encoder->StartBufferBased(&format, static_cast<int64_t>(pcm.size())));
        std::vector<uint8_t> copy(pcm);
        bool failed = false;
        for (size_t at = 0; at < copy.size() && !failed; at += 65536)
            failed =
                !encoder->EncodeBuffer(copy.data() + at, std::min<size_t>(65536, copy.size() - at));
        EXPECT_TRUE(failed);
        EXPECT_EQ(Property(*encoder, u"Last Error"), "Failed to format input samples");
        EXPECT_TRUE(Contains(log.Lines(),
                             "CWvEncoder::EncodeBuffer: ERROR - Failed to format input samples"));
        // The failure is sticky: nothing more is written, finishing fails too.
        EXPECT_FALSE(encoder->EncodeBuffer(copy.data(), 65536));
        EXPECT_FALSE(encoder->FinishBufferBased());
    }
}

TEST(WvFinish, FlushFailureIsReportedAndLogged) {
    // Too short to fill a block: nothing is written until the flush, which then fails.
    TempDir dir;
    fs::create_symlink("/dev/full", dir / "song.wv");
    LogCapture log;
    auto encoder = NewEncoder();
    encoder->SetProperty(u"Add Output Extension", u"0");
    encoder->SetProperty(u"Destination Filename", U(dir / "song.wv").c_str());
    const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    std::vector<uint8_t> pcm = MakePcm(Signal::Tone, 2, 44100, 16, 1000);
    ASSERT_TRUE(encoder->StartBufferBased(&format, 0));
    EXPECT_TRUE(encoder->EncodeBuffer(pcm.data(), pcm.size()));
    EXPECT_FALSE(encoder->FinishBufferBased());
    EXPECT_TRUE(Contains(log.Lines(), "CWvEncoder::FinishBufferBased:   ERROR - Failed to Flush "
                                      "Samples\n"));
}

TEST(WvStart, LogsEachStepOfAHybridStart) {
    TempDir dir;
    LogCapture log;
    auto encoder = NewEncoder();
    encoder->SetProperty(u"Settings", Settings({{"Compression Type", "Hybrid"}}).c_str());
    encoder->SetProperty(u"Destination Filename", U(dir / "song").c_str());
    const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    ASSERT_TRUE(encoder->StartBufferBased(&format, 400));
    const std::string s = "CWvEncoder::StartBufferBased: ";
    std::vector<std::string> lines = log.Lines();
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [&](const std::string& l) { return l.rfind(s, 0) != 0; }),
                lines.end());
    ASSERT_GE(lines.size(), 2u);
    lines.pop_back(); // "Finish (... ms)"
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  s + "Start", s + "  m_nFileSize is now 400", s + "Passed WaveFormatEx valid",
                  s + "nSamples is now 100", s + "  Hybrid Format is true\n",
                  s + "    Using Correction File\n", s + "Valid Context obtained.\n",
                  s + "Configuration Set succeeded.\n", s + "Init Succeeded.\n"}));
    EXPECT_TRUE(fs::exists(dir / "song.wv"));
    EXPECT_TRUE(fs::exists(dir / "song.wvc"));
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
    EXPECT_TRUE(Contains(log.Lines(),
                         "CWvEncoder::StartBufferBased:   ERROR - Failed to set Configuration\n"));
    uint8_t frame[4] = {};
    EXPECT_FALSE(encoder->EncodeBuffer(frame, sizeof frame));
    EXPECT_FALSE(encoder->FinishBufferBased());
}

TEST(WvFinish, NoSamplesLeavesNoFileBehind) {
    // WavPack decoders open no file without a sample, so an empty job must not look finished.
    for (const char* type : {"Lossless", "Hybrid"}) {
        SCOPED_TRACE(type);
        TempDir dir;
        const EncodeOutcome outcome =
            Encode(dir / "empty.wv", Settings({{"Compression Type", type}}),
                   PcmFormat(2, 44100, 16), {}, 0);
        EXPECT_TRUE(outcome.Started);
        EXPECT_FALSE(outcome.Finished);
        EXPECT_EQ(outcome.LastError,
                  "No audio to encode: a WavPack file needs at least one sample");
        EXPECT_FALSE(fs::exists(dir / "empty.wv"));
        EXPECT_FALSE(fs::exists(dir / "empty.wvc"));
    }
}

TEST(WvEncode, OddFileNamesWithCorrectionFile) {
    const std::vector<uint8_t> pcm = MakePcm(Signal::Music, 2, 44100, 16, 5000);
    for (const char* name : {"with space.wv", "quote ' and \" .wv", "dollar $HOME `x`.wv",
                             "\xC3\xA9t\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC.wv"}) {
        SCOPED_TRACE(name);
        TempDir dir;
        const path wv = dir / name;
        ASSERT_TRUE(
            Encode(wv, Settings({{"Compression Type", "Hybrid"}}), PcmFormat(2, 44100, 16), pcm, 0)
                .Finished);
        EXPECT_TRUE(fs::exists(wv.string() + "c"));
        EXPECT_EQ(FirstDifference(pcm, DecodeWithWvunpack(wv), 2), "");
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
        EXPECT_EQ(FirstDifference(pcm, DecodeWithWvunpack(dir / name), 3), "");
    }
}

} // namespace
