// zrenc end to end: the built program on generated inputs, each test in a settings home of
// its own, outputs checked with ffmpeg.
#include "host/zrenc/ZrencTestSupport.h"

#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace {

using namespace zrtest;

class ZrencTest : public ::testing::Test {
protected:
    RunResult Zrenc(std::vector<std::string> args, std::vector<std::string> env = {}) {
        args.insert(args.begin(), ZrencProgram().string());
        env.push_back("TESSARY_HOME=" + (dir / "home").string());
        env.push_back("TMPDIR=" + Tmp().string());
        return zrtest::Run(args, env);
    }
    fs::path Tmp() {
        fs::create_directories(dir / "tmp");
        return dir / "tmp";
    }
    std::string In(const std::string& name) { return (dir / name).string(); }

    TempDir dir;
};

#define EXPECT_CONTAINS(text, part) EXPECT_NE((text).find(part), std::string::npos) << (text)

TEST_F(ZrencTest, SelectsEncodersByIndexDisplayNameAndShortName) {
    struct Case {
        const char* encoder;
        const char* output;
    };
    const Case cases[] = {
        {"2", "song.wav"},
        {"Uncompressed Wave", "song.wav"},
        {"uncompressed WAVE", "song.wav"},
        {"wav", "song.wav"},
        {"WAV", "song.wav"},
        {"6", "song.flac"},
        {"FLAC Encoder", "song.flac"},
        {"flac", "song.flac"},
        {"9", "song.aif"},
    };
    const std::vector<uint8_t> pcm = MakeWav(In("song.wav"), {});
    std::map<std::string, std::vector<uint8_t>> first; // the first output of each kind
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.encoder);
        const fs::path out = dir / ("out" + std::to_string(n++));
        const RunResult r = Zrenc({"-e", c.encoder, "-d", out.string(), In("song.wav")});
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        EXPECT_EQ(r.Output, ""); // not a terminal: nothing but errors
        ASSERT_EQ(FilesIn(out), std::vector<std::string>{c.output});
        // Every name of an encoder gives the same encoder: the same bytes.
        const std::vector<uint8_t> bytes = ReadFile(out / c.output);
        if (first.count(c.output)) {
            EXPECT_EQ(bytes, first[c.output]);
            continue;
        }
        first[c.output] = bytes;
        EXPECT_EQ(FirstDifference(pcm, DecodeWithFfmpeg(out / c.output, "s16le"), 2), "");
    }
}

TEST_F(ZrencTest, PlacesOutputsWhereAsked) {
    MakeWav(In("a.wav"), {});
    // -o: exactly the given name, no extension added.
    RunResult r = Zrenc({"-e", "flac", "-o", In("exact.bin"), In("a.wav")});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    const std::vector<uint8_t> exact = ReadFile(dir / "exact.bin");
    ASSERT_GE(exact.size(), 4u);
    EXPECT_EQ(std::string(exact.begin(), exact.begin() + 4), "fLaC");
    // -d: a folder made on the way, named after the input.
    r = Zrenc({"-e", "flac", "-d", (dir / "new" / "deeper").string(), In("a.wav")});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_TRUE(fs::exists(dir / "new" / "deeper" / "a.flac"));
    // Neither: beside the input.
    r = Zrenc({"-e", "flac", In("a.wav")});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_TRUE(fs::exists(dir / "a.flac"));
    // No temporary file stays behind anywhere.
    for (const std::string& name : FilesIn(dir.Path()))
        EXPECT_EQ(name.find(".zrenc-"), std::string::npos) << name;
}

TEST_F(ZrencTest, RefusesToOverwriteUnlessForcedAndNeverTheInput) {
    MakeWav(In("a.wav"), {});
    WriteFile(dir / "a.flac", "keep", 4);
    RunResult r = Zrenc({"-e", "flac", In("a.wav")});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_CONTAINS(r.Output, "exists (-f replaces it)");
    EXPECT_EQ(ReadFile(dir / "a.flac").size(), 4u);

    r = Zrenc({"-e", "flac", "-f", In("a.wav")});
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_GT(ReadFile(dir / "a.flac").size(), 4u);

    // Not even -f replaces a device or a folder; an output folder must exist.
    struct Refusal {
        std::string output;
        const char* says;
    };
    fs::create_directories(dir / "folder.flac");
    const Refusal refusals[] = {{"/dev/null", "is not a regular file"},
                                {In("folder.flac"), "is not a regular file"},
                                {In("no/such/folder/a.flac"), "does not exist"}};
    for (const Refusal& refusal : refusals) {
        r = Zrenc({"-e", "flac", "-f", "-o", refusal.output, In("a.wav")});
        EXPECT_EQ(r.ExitCode, 1);
        EXPECT_CONTAINS(r.Output, refusal.says);
    }

    const std::vector<uint8_t> input = ReadFile(dir / "a.wav");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-e", "wav", "-f", In("a.wav")},
          std::vector<std::string>{"-e", "flac", "-f", "-o", In("a.wav"), In("a.wav")}}) {
        r = Zrenc(args);
        EXPECT_EQ(r.ExitCode, 1);
        EXPECT_CONTAINS(r.Output, "would replace the input");
        EXPECT_EQ(ReadFile(dir / "a.wav"), input);
    }
}

TEST_F(ZrencTest, ParallelJobsGiveTheSameBytesAsOneAtATime) {
    std::vector<std::string> inputs;
    for (int i = 0; i < 12; ++i) {
        const std::string name = In("in" + std::to_string(i) + ".wav");
        // Lengths around a FLAC block (4096) and odd ones.
        MakeWav(name, {static_cast<uint16_t>(1 + i % 2), 44100, 16, false,
                       static_cast<size_t>(4095 + 977 * i), static_cast<uint32_t>(i + 1)});
        inputs.push_back(name);
    }
    for (const char* jobs : {"1", "4"}) {
        std::vector<std::string> args = {"-e", "flac", "-j",
                                         jobs, "-d",   (dir / ("j" + std::string(jobs))).string()};
        args.insert(args.end(), inputs.begin(), inputs.end());
        const RunResult r = Zrenc(args);
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
    }
    ASSERT_EQ(FilesIn(dir / "j1").size(), 12u);
    ASSERT_EQ(FilesIn(dir / "j1"), FilesIn(dir / "j4"));
    for (const std::string& name : FilesIn(dir / "j1"))
        EXPECT_EQ(ReadFile(dir / "j1" / name), ReadFile(dir / "j4" / name)) << name;
}

TEST_F(ZrencTest, BadInputsFailReadablyAndLeaveNothing) {
    MakeWav(In("good.wav"), {});
    std::vector<uint8_t> truncated = WavBytes({});
    truncated.resize(30);
    WriteFile(dir / "truncated.wav", truncated);
    std::vector<uint8_t> noise(5000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<uint8_t>(i * 7919 % 251);
    WriteFile(dir / "noise.wav", noise);
    WriteFile(dir / "empty.flac", "", 0);
    fs::create_directories(dir / "folder.wav");

    struct Case {
        const char* input;
        const char* says;
    };
    const Case cases[] = {
        {"missing.wav", "No such file or directory"},
        {"truncated.wav", "cannot decode"},
        {"noise.wav", "cannot decode"},
        {"empty.flac", "cannot decode"},
        {"folder.wav", "not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const fs::path out = dir / ("out-" + std::string(c.input));
        const RunResult r = Zrenc({"-e", "flac", "-d", out.string(), In(c.input)});
        EXPECT_EQ(r.ExitCode, 1);
        EXPECT_CONTAINS(r.Output, In(c.input));
        EXPECT_CONTAINS(r.Output, "[FLAC Encoder]");
        EXPECT_CONTAINS(r.Output, c.says);
        EXPECT_EQ(FilesIn(out), std::vector<std::string>{});
    }
    // One bad input among good ones: the good one is encoded, the run still fails.
    const RunResult r =
        Zrenc({"-e", "flac", "-d", (dir / "mixed").string(), In("noise.wav"), In("good.wav")});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(FilesIn(dir / "mixed"), std::vector<std::string>{"good.flac"});
}

TEST_F(ZrencTest, SettingsTextsRoundTripPerProfile) {
    RunResult r = Zrenc({"--settings", "flac"});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_CONTAINS(r.Output, "Quality=6"); // defaults before anything was saved

    r = Zrenc({"--set", "flac", "Quality=8|Verify=1"});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    r = Zrenc({"-p", "Vida Zuzuvi", "--set", "FLAC Encoder", "Quality=3"});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;

    r = Zrenc({"--settings", "6"});
    EXPECT_CONTAINS(r.Output, "Quality=8");
    EXPECT_CONTAINS(r.Output, "Verify=1");
    r = Zrenc({"-p", "Vida Zuzuvi", "--settings", "flac"});
    EXPECT_CONTAINS(r.Output, "Quality=3");
    EXPECT_CONTAINS(r.Output, "Verify=0");

    // A key the encoder does not know is saved but named.
    r = Zrenc({"--set", "flac", "Qualty=8"});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_CONTAINS(r.Output, "\"Qualty\" is not a setting of FLAC Encoder");
}

TEST_F(ZrencTest, RunSettingsChangeOneRunOnly) {
    MakeWav(In("a.wav"), {2, 44100, 16, false, 44100 * 2});
    ASSERT_EQ(Zrenc({"-e", "flac", "-s", "Quality=0", "-o", In("fast.flac"), In("a.wav")}).ExitCode,
              0);
    ASSERT_EQ(Zrenc({"-e", "flac", "-s", "Quality=8", "-o", In("best.flac"), In("a.wav")}).ExitCode,
              0);
    EXPECT_LT(ReadFile(dir / "best.flac").size(), ReadFile(dir / "fast.flac").size());
    EXPECT_CONTAINS(Zrenc({"--settings", "flac"}).Output, "Quality=6");
}

// Each source reaches the encoder in its own depth: the WAV encoder writes it back unchanged.
TEST_F(ZrencTest, DeliversTheSourcesOwnDepth) {
    struct Case {
        uint16_t channels, bits;
        bool isFloat;
    };
    const Case cases[] = {{1, 8, false},  {2, 16, false}, {2, 24, false},
                          {2, 32, false}, {2, 32, true},  {8, 16, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.channels) + "ch " + std::to_string(c.bits) +
                     (c.isFloat ? " float" : ""));
        const std::vector<uint8_t> pcm =
            MakeWav(In("src.wav"), {c.channels, 48000, c.bits, c.isFloat, 12345});
        const RunResult r = Zrenc({"-e", "wav", "-f", "-o", In("copy.wav"), In("src.wav")});
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        const std::vector<uint8_t> out = ReadFile(dir / "copy.wav");
        ASSERT_GE(out.size(), 44u);
        EXPECT_EQ(Le16(&out[20]), c.isFloat ? 3 : 1);
        EXPECT_EQ(Le16(&out[22]), c.channels);
        EXPECT_EQ(Le16(&out[34]), c.bits);
        EXPECT_EQ(WavData(dir / "copy.wav"), pcm);
    }
}

// A 20-bit FLAC decodes into 32-bit samples; it travels in 24-bit containers.
TEST_F(ZrencTest, TwentyBitSourcesTravelInTwentyFourBits) {
    if (!HaveProgram("flac"))
        GTEST_SKIP() << "no flac program";
    std::vector<uint8_t> pcm = MakePcm(Signal::Music, 2, 44100, 24, 20000, 3);
    for (size_t i = 0; i < pcm.size(); i += 3)
        pcm[i] &= 0xF0; // 20 significant bits
    // The flac program takes the valid bits from an extensible WAV header.
    const WAVEFORMATEXTENSIBLE format = ExtensibleFormat(
        2, 44100, 24, 20, SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT, KSDATAFORMAT_SUBTYPE_PCM);
    std::vector<uint8_t> wav = {'R', 'I', 'F', 'F',           0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f',
                                'm', 't', ' ', sizeof format, 0, 0, 0};
    const auto* f = reinterpret_cast<const uint8_t*>(&format);
    wav.insert(wav.end(), f, f + sizeof format);
    const uint32_t size = static_cast<uint32_t>(pcm.size());
    wav.insert(wav.end(), {'d', 'a', 't', 'a', static_cast<uint8_t>(size),
                           static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size >> 16), 0});
    wav.insert(wav.end(), pcm.begin(), pcm.end());
    const uint32_t riff = static_cast<uint32_t>(wav.size() - 8);
    for (int i = 0; i < 4; ++i)
        wav[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
    WriteFile(dir / "src20.wav", wav);
    RunResult r = zrtest::Run({"flac", "-s", "-o", In("src20.flac"), In("src20.wav")});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;

    r = Zrenc({"-e", "wav", "-o", In("out.wav"), In("src20.flac")});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    const std::vector<uint8_t> out = ReadFile(dir / "out.wav");
    ASSERT_GE(out.size(), 44u);
    EXPECT_EQ(Le16(&out[34]), 24);
    EXPECT_EQ(FirstDifference(pcm, WavData(dir / "out.wav"), 3), "");
}

TEST_F(ZrencTest, OddFileNamesWorkEndToEnd) {
    const std::string name = "a b 'q' \"dq\" $HOME ;ls é ünï.wav";
    const std::vector<uint8_t> pcm = MakeWav(dir / name, {});
    const fs::path folder = dir / "out $x ;y é";
    RunResult r = Zrenc({"-e", "flac", "-d", folder.string(), (dir / name).string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    const fs::path expected = folder / "a b 'q' \"dq\" $HOME ;ls é ünï.flac";
    ASSERT_TRUE(fs::exists(expected)) << testing::PrintToString(FilesIn(folder));
    EXPECT_EQ(FirstDifference(pcm, DecodeWithFfmpeg(expected, "s16le"), 2), "");
    r = Zrenc({"-e", "wav", "-o", (dir / "§ $(echo) `x`.wav").string(), (dir / name).string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_EQ(WavData(dir / "§ $(echo) `x`.wav"), pcm);
}

TEST_F(ZrencTest, ListsTheTwelveEncoders) {
    const RunResult r = Zrenc({"--list"});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    for (const char* part : {"Short", "Display name", "Available", "Uncompressed Wave",
                             "FLAC Encoder", "AIFF Encoder", "external", "dsd"})
        EXPECT_CONTAINS(r.Output, part);
    // The WAV encoder is always there and lossless.
    std::istringstream lines(r.Output);
    std::string line;
    bool sawWav = false;
    while (std::getline(lines, line)) {
        if (line.find(" wav ") == std::string::npos)
            continue;
        sawWav = true;
        EXPECT_EQ(line.substr(line.size() - 3), "yes") << line;
    }
    EXPECT_TRUE(sawWav) << r.Output;
}

TEST_F(ZrencTest, UsageErrorsExitWithTwo) {
    MakeWav(In("a.wav"), {});
    const std::vector<std::vector<std::string>> cases = {
        {},
        {In("a.wav")},
        {"-e", "flac"},
        {"-e", "flac", "-j", "0", In("a.wav")},
        {"-e", "flac", "-o", "x", In("a.wav"), In("a.wav")},
        {"-e", "nonesuch", In("a.wav")},
        {"-e", "12", In("a.wav")},
        {"--bogus"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        const RunResult r = Zrenc(args);
        EXPECT_EQ(r.ExitCode, 2) << r.Output;
        EXPECT_CONTAINS(r.Output, "zrenc: ");
    }
    RunResult r = Zrenc({"--help"});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_CONTAINS(r.Output, "Examples:");
    r = Zrenc({"--version"});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Output.rfind("zrenc ", 0), 0u) << r.Output;
}

} // namespace
