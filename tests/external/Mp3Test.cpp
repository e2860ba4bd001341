// The MP3 encoder: its command lines byte for byte, its settings rules, what a child is sent
// (through a stand-in program that keeps its input), and zrenc end to end with the real lame,
// decoded by ffmpeg.
#include "external/Mp3Encoder.h"
#include "support/TestSupport.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

using namespace zrtest;

TEST(Mp3CommandLine, ExamplesAndReplacementRules) {
    struct Case {
        const char16_t* working;
        uint16_t channels, bits;
        uint32_t rate;
        const char* line; // (P) and (D): the program and the output, quoted
        bool header;
    };
    const Case cases[] = {
        {u"lame.exe --preset cbr 192", 1, 16, 44100, "(P) -S --preset cbr 192 - (D)", true},
        {u"-V 4 --vbr-new", 2, 16, 44100, "(P) -S -V 4 --vbr-new -r -s 44100 --bitwidth 16 - (D)",
         false},
        {u"gogo.exe -b 128", 2, 16, 44100, "(P) -silent -b 128 stdin (D)", true},
        // Empty: the program part's blank and the raw part's make two.
        {u"", 2, 24, 48000, "(P) -S  -r -s 48000 --bitwidth 24 - (D)", false},
        {u"", 1, 16, 44100, "(P) -S  - (D)", true},
        {u"", 6, 32, 44100, "(P) -S  - (D)", true},
        // Case is ignored and every occurrence replaced; "lame" needs its blank.
        {u"LAME -V 2", 1, 8, 8000, "(P) -S -V 2 - (D)", true},
        {u"Lame.EXE --preset 128 lame.exe ", 1, 16, 44100, "(P) -S --preset 128 (P) -S  - (D)",
         true},
        {u"-V 2 --lowpass lame", 1, 16, 44100, "(P) -S -V 2 --lowpass lame - (D)", true},
        {u"GoGo.exe -b 64", 1, 16, 44100, "(P) -silent -b 64 stdin (D)", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ZrString(c.working));
        const Mp3CommandLine got = BuildMp3CommandLine(c.working, u"/opt/lame dir/lame", c.channels,
                                                       c.rate, c.bits, u"/music/out.mp3");
        ZrString expected = ZrString::FromUtf8(c.line);
        expected.Replace(u"(P)", u"\"/opt/lame dir/lame\"");
        expected.Replace(u"(D)", u"\"/music/out.mp3\"");
        EXPECT_EQ(got.Line.ToUtf8(), expected.ToUtf8());
        EXPECT_EQ(got.SendHeader, c.header);
    }
    // Quotes and trailing backslashes survive the splitter's rules.
    EXPECT_EQ(BuildMp3CommandLine(u"", u"C:\\lame\\", 1, 44100, 16, u"a \"b\"\\").Line.ToUtf8(),
              R"("C:\lame\\" -S  - "a \"b\"\\")");
}

// Settings given, then what the encoder estimates and keeps; "Auto Config For" when >= 0.
struct SettingsCase {
    const char* given;
    int profile;
    const char* estimate;
    const char* kept; // pairs that must be in the settings afterwards
    const char* depths;
};

TEST(Mp3Encoder, ModeCheckAutomaticConfigurationAndEstimates) {
    const SettingsCase cases[] = {
        {"", -1, "165", "Mode=1|CommandLine=-V%204%20--vbr-new", ""},
        {"CommandLine=-V%202%20--vbr-new", -1, "230", "Mode=1", ""},
        // An edited VBR line is a custom line.
        {"CommandLine=-V%202%20--vbr-new%20", -1, "160", "Mode=2", ""},
        {"CommandLine=-v%202%20--vbr-new", -1, "160", "Mode=2", ""},
        {"Mode=0|Bitrate=192", -1, "192", "Mode=0", ""},
        {"Mode=3|SpeedBitrate=96|CommandLine=GOGO.EXE%20-b%2096", -1, "96", "Mode=3", "16"},
        {"Mode=9", -1, "160", "Mode=9", ""},
        {"Mode=3|CommandLine=gogo.exe%20-b%2096", 4, "320",
         "Mode=0|ForceCBR=1|Bitrate=320|SpeedBitrate=320|"
         "CommandLine=lame.exe%20--preset%20cbr%20320%20--id3v1-only",
         "16"}, // the stored line is read as it stands
        {"Mode=2|CommandLine=-b%2032", 3, "128",
         "Bitrate=128|CommandLine=lame.exe%20--preset%20cbr%20128%20--id3v1-only", ""},
        {"Mode=2|CommandLine=-b%2032", 2, "64", "Bitrate=64|SpeedBitrate=64", ""},
        // Every other profile restores the defaults.
        {"Mode=0|Bitrate=32|CommandLine=x", 7, "165",
         "Mode=1|Bitrate=160|ForceCBR=0|SpeedBitrate=160|CommandLine=-V%204%20--vbr-new", ""},
    };
    for (const SettingsCase& c : cases) {
        SCOPED_TRACE(std::string(c.given) + " profile " + std::to_string(c.profile));
        CMp3Encoder encoder(nullptr);
        SetProperty(encoder, u"Settings", c.given);
        if (c.profile >= 0) {
            SetProperty(encoder, u"Auto Config", "1");
            SetProperty(encoder, u"Auto Config For", std::to_string(c.profile));
        }
        EXPECT_EQ(Property(encoder, u"Supported Bitdepths"), c.depths);
        EXPECT_EQ(Property(encoder, u"Estimated Bitrate"), c.estimate);
        const std::string settings = "|" + Property(encoder, u"Settings") + "|";
        std::istringstream pairs(c.kept);
        for (std::string pair; std::getline(pairs, pair, '|');)
            EXPECT_CONTAINS(settings, "|" + pair + "|");
    }
}

// What reaches the child: the header or the switches describe exactly the bytes that follow.
// A destination outside ASCII is written beside itself under a temporary name first.
TEST(Mp3Encoder, TheChildGetsWhatItReads) {
    TempDir dir;
    WriteScript(dir / "bin" / "lame", "for a; do out=$a; done\ncat > \"$out\""); // keeps its input
    const PathPrefix path(dir / "bin");
    struct Case {
        uint16_t channels, bits;
        bool isFloat;
        const char* switches; // "": a header of `sentChannels` and `sentBits`
        uint16_t sentChannels, sentBits;
        const char* name = "out.mp3";
    };
    const Case cases[] = {
        {1, 16, false, "", 1, 16, "日本語の歌.mp3"},
        {2, 24, false, " -r -s 48000 --bitwidth 24", 2, 24},
        {2, 8, false, " -r -s 48000 --bitwidth 8", 2, 8},
        {6, 16, false, "", 2, 32},
        {2, 32, true, " -r -s 48000 --bitwidth 32", 2, 32, "ü.mp3"},
        {1, 32, true, "", 1, 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.channels) + "x" + std::to_string(c.bits));
        const WAVEFORMATEX format = PcmFormat(c.channels, 48000, c.bits,
                                              c.isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM);
        const std::vector<uint8_t> pcm =
            MakePcm(Signal::Tone, c.channels, 48000, c.bits, 1001, 1, c.isFloat);
        fs::remove_all(dir / "out");
        fs::create_directory(dir / "out");
        CMp3Encoder encoder(nullptr);
        // Blocks of 1000 bytes split frames: a converted frame may arrive in two pieces.
        ASSERT_TRUE(Encode(encoder, dir / "out" / c.name, {&format, pcm, 1000}).Ok());
        const bool ascii = std::string_view(c.name) == "out.mp3";
        EXPECT_CONTAINS(encoder.LastCommandLine().ToUtf8(), std::string(c.switches) + " - \"" +
                                                                (dir / "out").string() +
                                                                (ascii ? "/out.mp3\"" : "/Lame"));
        EXPECT_EQ(FilesIn(dir / "out"), std::vector<std::string>{c.name});
        std::vector<uint8_t> got = ReadFile(dir / "out" / c.name);
        if (!*c.switches) {
            ASSERT_GE(got.size(), 44u);
            EXPECT_EQ(Le32(&got[4]) + Le32(&got[40]), 0x80000023u + 0x7FFFFFFFu);
            EXPECT_EQ(Le16(&got[20]) + Le32(&got[24]), 1 + 48000u);
            EXPECT_EQ(Le16(&got[22]) * 100 + Le16(&got[34]), c.sentChannels * 100 + c.sentBits);
            got.erase(got.begin(), got.begin() + 44);
        }
        if (c.sentBits == c.bits && !c.isFloat) {
            EXPECT_TRUE(SamePcm(pcm, got, c.bits / 8));
            continue;
        }
        ASSERT_EQ(got.size(), 1001u * c.sentChannels * 4);
        const std::vector<int32_t> sent = Samples(got, 32);
        const std::vector<int32_t> ints = Samples(pcm, c.bits);
        const auto source = [&](size_t i) {
            float x = 0;
            if (c.isFloat)
                std::memcpy(&x, &pcm[i * 4], 4);
            return c.isFloat ? double{x} : ints[i] / std::ldexp(1.0, c.bits - 1);
        };
        for (size_t f = 0; f < 1001; f += 7) {
            const size_t first = f * c.channels;
            // 5.1: front, then centre and side at -3 dB, no LFE, scaled by 1 / (1 + 2 x 0.7071).
            const double left =
                c.channels == 6
                    ? (source(first) + 0.70710678 * (source(first + 2) + source(first + 4))) /
                          2.41421356
                    : source(first);
            EXPECT_NEAR(sent[f * c.sentChannels] / 2147483648.0, left, 1e-7) << "frame " << f;
        }
    }
}

// Programs that fail: dying early, failing at the end. Each fails its step with a reason and
// leaves no output. (A missing program is zrenc's case below: an installer test of this process
// may have installed one.)
TEST(Mp3Encoder, FailingProgramsLeaveNoOutput) {
    struct Case {
        const char* name;
        const char* body;
        const char* step;
        const char* reason;
    };
    const Case cases[] = {
        // Within a second of its end, though the pipe is full and the writer blocked.
        {"dies early", "head -c 1000 >/dev/null; sleep 0.3; exit 1", "encode",
         "The encoder program ended before it had read all the audio"},
        {"fails at the end", "for a; do out=$a; done; cat > \"$out\"; exit 2", "finish",
         "The encoder program failed (exit code 2)"},
    };
    const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    const std::vector<uint8_t> pcm = MakePcm(Signal::Noise, 2, 44100, 16, 44100);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        WriteScript(dir / "bin" / "lame", c.body);
        const PathPrefix path(dir / "bin");
        CMp3Encoder encoder(nullptr);
        const auto start = std::chrono::steady_clock::now();
        const EncodeResult e = Encode(encoder, dir / "out.mp3", {&format, pcm});
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1300));
        EXPECT_EQ(e.FailedStep(), c.step);
        EXPECT_CONTAINS(e.LastError, c.reason);
        EXPECT_FALSE(fs::exists(dir / "out.mp3"));
    }
}

// A disk that fills up: a file-size limit that the child meets, or the full device.
TEST(Mp3Encoder, AFullDiskFailsTheFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    const std::vector<uint8_t> pcm = MakePcm(Signal::Noise, 2, 44100, 16, 44100);
    TempDir dir;
    auto run = [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        CMp3Encoder encoder(nullptr);
        const EncodeResult e = Encode(encoder, dir / "out.mp3", {&format, pcm});
        const bool ok = !e.Ok() && !e.LastError.empty() && !fs::exists(dir / "out.mp3");
        std::fprintf(stderr, "%s at %s: %s\n", ok ? "ok" : "wrong", e.FailedStep().c_str(),
                     e.LastError.c_str());
        std::_Exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(0), "ok at ");
    CMp3Encoder encoder(nullptr);
    const EncodeResult e = Encode(encoder, "/dev/full", {&format, pcm});
    EXPECT_FALSE(e.Ok());
    EXPECT_NE(e.LastError, "");
    struct stat info {};
    ASSERT_EQ(::stat("/dev/full", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode)) << "the device is never removed";
}

// --- zrenc with the real lame ------------------------------------------------------------

class Mp3Zrenc : public ::testing::Test {
protected:
    RunResult Zrenc(const std::vector<std::string>& args,
                    const std::vector<std::string>& env = {}) {
        return RunZrencAt(dir.Path(), args, env);
    }
    // A second of tones, one frequency per channel, as a WAV file.
    std::string Tones(const std::string& name, uint16_t channels, uint16_t bits, uint32_t rate,
                      bool isFloat = false) {
        const WAVEFORMATEX format =
            PcmFormat(channels, rate, bits, isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM);
        WriteWav(dir / name, format, MakePcm(Signal::Tone, channels, rate, bits, rate, 1, isFloat));
        return (dir / name).string();
    }
    TempDir dir;
};

// The encoder delay that the LAME tag of the first frame declares; 0 without a tag.
uint32_t DeclaredDelay(const std::vector<uint8_t>& mp3) {
    for (size_t i = 0; i + 24 < mp3.size() && i < 4096; ++i)
        if (std::memcmp(&mp3[i], "LAME", 4) == 0)
            return uint32_t{mp3[i + 21]} << 4 | mp3[i + 22] >> 4;
    return 0;
}

// Decodes and checks the length and each channel's tone (5.1 mixes to the front tones).
void ExpectTones(const fs::path& mp3, uint32_t rate, uint16_t decodedChannels) {
    std::string log;
    const std::vector<uint8_t> pcm = DecodeWithFfmpeg(mp3, "s32le", &log);
    const std::vector<int32_t> samples = Samples(pcm, 32);
    const size_t frames = pcm.size() / 4 / decodedChannels;
    const double slack = 1152 + DeclaredDelay(ReadFile(mp3));
    EXPECT_NEAR(static_cast<double>(frames), rate, slack) << log;
    for (uint16_t c = 0; c < decodedChannels; ++c)
        EXPECT_NEAR(DominantFrequency(samples, decodedChannels, c, rate), 440.0 + 110.0 * c, 2.0)
            << "channel " << c;
}

TEST_F(Mp3Zrenc, LayoutsDepthsAndRatesDecodeToTheirTones) {
    struct Case {
        uint16_t channels, bits;
        uint32_t rate;
        bool isFloat;
    };
    std::vector<Case> all;
    for (uint16_t channels : {1, 2, 6})
        for (uint16_t bits : {16, 24})
            for (uint32_t rate : {44100u, 48000u})
                all.push_back({channels, bits, rate, false});
    all.push_back({2, 8, 44100, false});
    all.push_back({1, 32, 48000, false});
    all.push_back({2, 32, 44100, true});
    for (const Case& c : Pick(all, 3)) {
        const std::string name = std::to_string(c.channels) + "x" + std::to_string(c.bits) +
                                 (c.isFloat ? "f" : "") + "-" + std::to_string(c.rate);
        SCOPED_TRACE(name);
        const RunResult r =
            Zrenc({"-e", "mp3", Tones(name + ".wav", c.channels, c.bits, c.rate, c.isFloat)});
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        ExpectTones(dir / (name + ".mp3"), c.rate, c.channels == 1 ? 1 : 2);
    }
}

TEST_F(Mp3Zrenc, EveryModeAndAJapaneseName) {
    struct Case {
        const char* settings;
        const char* output;
        int kbps; // the constant bit rate the file's size shows, within 10 %; 0: not looked at
    };
    const Case cases[] = {
        {"Mode=0|ForceCBR=1|CommandLine=lame.exe%20--preset%20cbr%20128", "cbr.mp3", 128},
        {"Mode=0|CommandLine=lame.exe%20--preset%20128", "abr.mp3", 0},
        {"Mode=1|CommandLine=-V%200%20--vbr-new", "vbr.mp3", 0},
        {"Mode=2|CommandLine=lame%20-b%2064%20--resample%2044.1", "custom.mp3", 64},
        {"", "日本語の歌.mp3", 0},
    };
    const std::string input = Tones("in.wav", 2, 16, 44100);
    fs::create_directories(dir / "out");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        const fs::path out = dir / "out" / c.output;
        const RunResult r = Zrenc({"-e", "mp3", "-s", c.settings, "-o", out.string(), input});
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        ExpectTones(out, 44100, 2);
        if (c.kbps) {
            EXPECT_NEAR(fs::file_size(out) * 8 / 1000.0, c.kbps, c.kbps * 0.1);
        }
    }
    // Nothing but the outputs: no temporary file of ours or of zrenc's.
    EXPECT_EQ(FilesIn(dir / "out"), (std::vector<std::string>{"abr.mp3", "cbr.mp3", "custom.mp3",
                                                              "vbr.mp3", "日本語の歌.mp3"}));
}

// Without the program, or with Go-Go's, the job gives the reason; a child that dies
// fails the file and leaves nothing.
TEST_F(Mp3Zrenc, MissingOrDyingProgram) {
    const std::string input = Tones("in.wav", 2, 16, 44100);
    RunResult r = Zrenc({"-e", "mp3", input}, {"PATH=/nonexistent"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_CONTAINS(r.Output, "needs the program lame");
    r = Zrenc({"-e", "mp3", "-s", "Mode=3|CommandLine=gogo.exe%20-b%20128", input});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_CONTAINS(r.Output, "Go-Go (gogo.exe) has no Linux build");

    WriteScript(dir / "bin" / "lame", "head -c 1000 >/dev/null; exit 1");
    r = Zrenc({"-e", "mp3", "-o", (dir / "dies.mp3").string(), input},
              {"PATH=" + (dir / "bin").string() + ":/usr/bin:/bin"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_CONTAINS(r.Output, "ended before it had read all the audio");
    EXPECT_FALSE(fs::exists(dir / "dies.mp3"));
}

} // namespace
