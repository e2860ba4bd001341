// zrenc --verify end to end: every lossless encoder's outputs pass, and one flipped sample in
// what is read back fails the file, names that sample and leaves nothing behind.
#include "support/TerminalRun.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <map>

namespace {

using namespace zrtest;

constexpr int64_t Flipped = 1001; // counted across channels

struct Input {
    const char* name;
    Shape shape;
};
const Input S16{"s16", {16, false, 2}};
const Input S24{"s24", {24, false, 2}};
const Input C6{"c6", {24, false, 6}};

class VerifyTest : public ::testing::Test {
protected:
    RunResult Zrenc(std::vector<std::string> args) {
        args.insert(args.begin(), ZrencProgram().string());
        fs::create_directories(dir / "tmp");
        return RunOnTerminal(args, {"TESSARY_HOME=" + (dir / "home").string(),
                                    "TMPDIR=" + (dir / "tmp").string(), "TERM=dumb"});
    }
    std::string Make(const Input& input) {
        const fs::path path = dir / (std::string(input.name) + ".wav");
        pcm[input.name] = MakeWav(path, input.shape, 44100);
        return path.string();
    }

    TempDir dir;
    std::map<std::string, std::vector<uint8_t>> pcm;
};

TEST_F(VerifyTest, LosslessOutputsAreVerifiedAndAFlippedSampleIsCaught) {
    struct Case {
        const char* encoder;
        const char* settings; // "" for the defaults
        std::vector<Input> inputs;
    };
    const Case cases[] = {
        {"wav", "", {S16, C6}},     {"wav", "NOHDR=1|L24=1", {S24}}, {"aiff", "", {S16, C6}},
        {"flac", "", {S16, C6}},    {"flac", "Ogg=1", {S24}},        {"ape", "", {S16, S24}},
        {"wavpack", "", {S16, C6}}, {"alac", "", {S16, C6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.encoder) + " " + c.settings);
        std::vector<std::string> args{"-e", c.encoder, "-f"};
        if (*c.settings)
            args.insert(args.end(), {"-s", c.settings});
        std::vector<std::string> good = args, bad = args;
        good.insert(good.end(), {"--verify", "-d", (dir / "good").string()});
        bad.insert(bad.end(), {"--debug-corrupt-sample=" + std::to_string(Flipped), "-d",
                               (dir / "bad").string()});
        for (const Input& input : c.inputs) {
            good.push_back(Make(input));
            bad.push_back(good.back());
        }
        const RunResult passed = Zrenc(good);
        EXPECT_EQ(passed.ExitCode, 0) << passed.Output;
        const RunResult failed = Zrenc(bad);
        EXPECT_EQ(failed.ExitCode, 1) << failed.Output;
        for (const Input& input : c.inputs) {
            SCOPED_TRACE(input.name);
            EXPECT_CONTAINS(passed.Output, std::string(input.name) + ".wav -> ");
            const size_t line = passed.Output.find(std::string(input.name) + ".wav -> ");
            EXPECT_CONTAINS(passed.Output.substr(line, passed.Output.find('\n', line) - line),
                            "verified");
            const uint16_t channels = input.shape.channels;
            const int32_t held = Samples(pcm[input.name], input.shape.bits)[Flipped];
            EXPECT_CONTAINS(failed.Output,
                            "verification failed at sample " + std::to_string(Flipped / channels) +
                                " of 44100, channel " + std::to_string(Flipped % channels + 1) +
                                " of " + std::to_string(channels) + ": expected " +
                                std::to_string(held) + ", decoded " + std::to_string(held ^ 1));
        }
        EXPECT_EQ(FilesIn(dir / "bad"), std::vector<std::string>{}) << "left behind";
        fs::remove_all(dir / "good");
    }
}

// DSD keeps no samples to compare: its length is checked. Lossy outputs are not verified, and
// a change of shape by the encoder is noted.
TEST_F(VerifyTest, DsdIsCheckedForLengthAndLossyOutputsAreNoted) {
    const std::string input = Make(S16);
    const RunResult dsd = Zrenc({"-e", "dsd", "--verify", "-d", (dir / "good").string(), input});
    EXPECT_EQ(dsd.ExitCode, 0) << dsd.Output;
    EXPECT_CONTAINS(dsd.Output, "verified");
    const RunResult cut = Zrenc({"-e", "dsd", "--debug-corrupt-sample=" + std::to_string(Flipped),
                                 "-d", (dir / "bad").string(), input});
    EXPECT_EQ(cut.ExitCode, 1) << cut.Output;
    EXPECT_CONTAINS(cut.Output, "verification failed: the output decodes to 500 frames");
    EXPECT_EQ(FilesIn(dir / "bad"), std::vector<std::string>{}) << "left behind";

    const RunResult mp3 =
        Zrenc({"-e", "mp3", "--verify", "-d", (dir / "good").string(), input, Make(C6)});
    EXPECT_EQ(mp3.ExitCode, 0) << mp3.Output;
    EXPECT_CONTAINS(mp3.Output, "--verify checks lossless outputs only");
    EXPECT_CONTAINS(mp3.Output, "c6.wav [MP3 Encoder]: 6 channels at 44100 Hz -> 2 at 44100 Hz");
    EXPECT_EQ(mp3.Output.find("s16.wav [MP3 Encoder]: 2 channels"), std::string::npos);
    EXPECT_EQ(mp3.Output.find("  verified"), std::string::npos) << mp3.Output;
    const RunResult hybrid = Zrenc({"-e", "wavpack", "-s", "Compression Type=Hybrid", "--verify",
                                    "-d", (dir / "good").string(), input});
    EXPECT_EQ(hybrid.ExitCode, 0) << hybrid.Output;
    EXPECT_CONTAINS(hybrid.Output, "not verified: WavPack's hybrid mode is lossy");
}

} // namespace
