// zrenc starts without the decoding libraries and loads them only for an input that needs them:
// the dynamic loader's own report (LD_DEBUG=files) says which libraries a run loaded.
#include "host/zrenc/ZrencTestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace zrtest;

// The libraries the loader opened, as it names them ("file=libavutil.so.57 [0]; ...").
std::vector<std::string> LoadedLibraries(const std::string& report) {
    std::vector<std::string> names;
    for (size_t at = report.find("file="); at != std::string::npos; at = report.find("file=", at)) {
        at += 5;
        names.push_back(report.substr(at, report.find_first_of(" \t\n", at) - at));
    }
    return names;
}

bool LoadsDecodingLibraries(const std::string& report) {
    for (const std::string& name : LoadedLibraries(report)) {
        const std::string file = fs::path(name).filename().string();
        if (file.rfind("libavcodec", 0) == 0 || file.rfind("libavformat", 0) == 0 ||
            file.rfind("libavutil", 0) == 0)
            return true;
    }
    return false;
}

class ZrencLoadingTest : public ::testing::Test {
protected:
    RunResult Zrenc(std::vector<std::string> args) {
        args.insert(args.begin(), ZrencProgram().string());
        fs::create_directories(dir / "tmp");
        return zrtest::Run(args, {"TESSARY_HOME=" + (dir / "home").string(),
                                  "TMPDIR=" + (dir / "tmp").string(), "LD_DEBUG=files"});
    }
    TempDir dir;
};

TEST_F(ZrencLoadingTest, VersionLoadsNoDecodingLibrary) {
    const RunResult r = Zrenc({"--version"});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    ASSERT_FALSE(LoadedLibraries(r.Output).empty()) << "no loader report: " << r.Output;
    EXPECT_FALSE(LoadsDecodingLibraries(r.Output)) << r.Output;
}

TEST_F(ZrencLoadingTest, OnlyInputsOtherThanWavLoadTheDecodingLibraries) {
    if (!HaveProgram("ffmpeg"))
        GTEST_SKIP() << "needs ffmpeg";
    const std::vector<uint8_t> pcm = MakeWav(dir / "in.wav", {2, 44100, 16, false, 20000});
    const RunResult flac = zrtest::Run({"ffmpeg", "-nostdin", "-v", "error", "-i",
                                        (dir / "in.wav").string(), (dir / "in.flac").string()});
    ASSERT_EQ(flac.ExitCode, 0) << flac.Output;

    RunResult r =
        Zrenc({"-e", "wav", "-o", (dir / "from-wav.wav").string(), (dir / "in.wav").string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_FALSE(LoadsDecodingLibraries(r.Output)) << r.Output;
    EXPECT_EQ(WavData(dir / "from-wav.wav"), pcm);

    r = Zrenc({"-e", "wav", "-o", (dir / "from-flac.wav").string(), (dir / "in.flac").string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_TRUE(LoadsDecodingLibraries(r.Output)) << r.Output;
    EXPECT_EQ(WavData(dir / "from-flac.wav"), pcm);
}

} // namespace
