// The user-defined external encoder: the command it builds from the template and the file names,
// runs of a real child reported on the host's main thread, Cancel, and zrenc driving real
// encoder programs end to end.
#include "external/ExternalEncoder.h"

#include "frame/ZrHostLibraries.h"
#include "support/TestSupport.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

using namespace zrtest;
using Args = std::vector<std::string>;

// The tools library of the host, loaded once, with a private home.
IZrMainThreadMessages* Messages() {
    static IZrMainThreadMessages* messages = [] {
        static TempDir home;
        ::setenv("TESSARY_HOME", home.Path().c_str(), 1);
        ::setenv("TESSARY_PROGRAM_DIR", LibDir().c_str(), 1);
        ZrTools* tools = GetTools(true);
        return tools ? tools->GetMainThreadMessages() : nullptr;
    }();
    return messages;
}

// What the host saw, and on which thread.
struct Recorder final : IZrEncoderCallback {
    void OnEncoderFinished(IZrEncoder*, int32_t code) override { Note("finished " + N(code)); }
    void OnEncoderFailed(IZrEncoder*, int32_t code, const char16_t* text) override {
        Note("failed " + N(code) + " " + ZrString(text).ToUtf8());
    }
    void OnEncoderProgress(IZrEncoder*, int32_t percent) override { Note(N(percent)); }
    static std::string N(int32_t v) { return std::to_string(v); }
    void Note(const std::string& event) {
        EXPECT_EQ(std::this_thread::get_id(), main) << event << " off the main thread";
        events += (events.empty() ? "" : ",") + event;
        ended = event.starts_with("finished") || event.starts_with("failed");
    }
    std::thread::id main = std::this_thread::get_id();
    std::string events;
    bool ended = false;
};

std::unique_ptr<CExternalEncoder> Encoder(IZrEncoderCallback* callback, const std::string& settings,
                                          const fs::path& source = "/in.wav",
                                          const fs::path& destination = "/out.mp3") {
    auto encoder = std::make_unique<CExternalEncoder>(callback);
    SetProperty(*encoder, u"Settings", settings);
    SetProperty(*encoder, u"Add Output Extension", "0");
    SetProperty(*encoder, u"Source Filename", source.string());
    SetProperty(*encoder, u"Destination Filename", destination.string());
    return encoder;
}

// ---- The command ------------------------------------------------------------------------------

TEST(ExternalEncoder, FileNamesReachTheProgramAsSingleArguments) {
    struct Case {
        const char* Parameters;
        bool Long;
        std::string Source, Destination;
        Args Expected; // after the program; empty: the command is refused
    };
    const std::string odd =
        "/tmp/a b $(touch x); rm -rf ~\n\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xb5.wav";
    const Case cases[] = {
        {"%in -o %OUT", true, "/a b.wav", "/c d.mp3", {"/a b.wav", "-o", "/c d.mp3"}},
        {"-x %In:%oUt", true, "/a", "/b", {"-x", "/a:/b"}},
        {"%IN %OUT", true, odd, "/o\"q\".mp3", {odd, "/o\"q\".mp3"}},
        {"%IN %OUT", true, "/dir\\", "/x\\\"y", {"/dir\\", "/x\\\"y"}},
        {"%IN %OUT", true, "/%out%IN", "/%in", {"/%out%IN", "/%in"}},
        {"%IN %OUT", false, "/plain.wav", "/with space", {"/plain.wav", "/with space"}},
        {"%IN %IN", true, "/s", "/d", {}},
        {"%OUT only", true, "/s", "/d", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Parameters);
        auto encoder = Encoder(nullptr,
                               std::string("Program Path=/opt/enc/bin/enc|Program Parameters=") +
                                   c.Parameters + "|Support Long Filenames=" + (c.Long ? "1" : "0"),
                               c.Source, c.Destination);
        CExternalEncoder::Command command;
        const bool built = encoder->BuildCommand(command);
        ASSERT_EQ(built, !c.Expected.empty()) << Property(*encoder, u"Last Error");
        if (!built) {
            EXPECT_CONTAINS(Property(*encoder, u"Last Error"), "%");
            continue;
        }
        EXPECT_EQ(command.Arguments[0], "/opt/enc/bin/enc");
        EXPECT_EQ(Args(command.Arguments.begin() + 1, command.Arguments.end()), c.Expected);
        EXPECT_EQ(command.WorkingFolder, "/opt/enc/bin");
    }
}

// ---- Runs of a real child ---------------------------------------------------------------------

TEST(ExternalEncoder, RunsReportProgressThenTheEndOnTheMainThreadOnlyToACallback) {
    ASSERT_NE(Messages(), nullptr);
    CExternalEncoder::SetProgressInterval(20);
    TempDir dir;
    struct Case {
        const char* Parameters;
        bool Callback;
        int End;            // 0: the program ends by itself; 1: Cancel; 2: the encoder is destroyed
        const char* Events; // progress may run ahead of the end on a loaded machine
    };
    const Case cases[] = {
        {"argv %OUT %IN", true, 0, "finished 0"},
        {"stall 1000 %IN %OUT", true, 0, "10,20,30,40,50,60,70,80,90,100,finished 0"},
        {"stall 20000 %IN %OUT", true, 1, "failed -1 Canceled"},
        {"stall 20000 %IN %OUT", false, 2, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Parameters);
        Recorder host;
        auto encoder = Encoder(c.Callback ? &host : nullptr,
                               std::string("Support Long Filenames=1|Program Path=") +
                                   ZR_PIPE_CHILD + "|Program Parameters=" + c.Parameters,
                               dir / "in put.wav", dir / "out.mp3");
        ASSERT_TRUE(encoder->EncodeFile()) << Property(*encoder, u"Last Error");
        const pid_t process = encoder->ProcessId();
        std::this_thread::sleep_for(std::chrono::milliseconds(c.End ? 100 : 0));
        if (c.End == 1) {
            EXPECT_TRUE(encoder->Cancel());
        } else if (c.End == 2) {
            encoder.reset();
        }
        EXPECT_TRUE(c.End == 0 || ProcessGone(process));
        for (int i = 0; i < 1000 && c.Callback && !host.ended; ++i) {
            Messages()->Pump();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (encoder) {
            EXPECT_TRUE(encoder->Cancel()); // after the end: nothing further
        }
        Messages()->Pump();
        const size_t progress = host.events.rfind(',') + 1;
        EXPECT_TRUE(std::string("10,20,30,40,50,60,70,80,90,100,")
                        .starts_with(host.events.substr(0, progress)))
            << host.events;
        EXPECT_EQ(host.events.substr(std::string(c.Events).starts_with("10,") ? 0 : progress),
                  c.Events);
        EXPECT_TRUE(ProcessGone(process));
    }
    // The argv child wrote its arguments into %OUT: the input name arrived whole.
    const std::vector<uint8_t> written = ReadFile(dir / "out.mp3");
    EXPECT_EQ(std::string(written.begin(), written.end()), (dir / "in put.wav").string() + '\0');
    CExternalEncoder::SetProgressInterval(1000);
}

// ---- zrenc end to end -------------------------------------------------------------------------

class ExternalZrenc : public ::testing::Test {
protected:
    void SetUp() override {
        WriteWav(dir / "in.wav", PcmFormat(2, 44100, 16),
                 MakePcm(Signal::Tone, 2, 44100, 16, 22050));
    }
    RunResult Zrenc(const Args& args) { return RunZrencAt(dir.Path(), args); }
    void Set(const std::string& settings) {
        const RunResult r = Zrenc({"--set", "external", settings});
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
    }
    // Nothing of a run left behind: no temporary WAV, no temporary or partial output.
    void ExpectClean(const std::string& output) {
        EXPECT_TRUE(fs::is_empty(dir / "tmp"));
        EXPECT_FALSE(fs::exists(dir / output));
        for (const auto& entry : fs::directory_iterator(dir.Path()))
            EXPECT_EQ(entry.path().filename().string().find(".zrenc-"), std::string::npos);
    }

    TempDir dir;
};

TEST_F(ExternalZrenc, RealProgramsEncodeAndFailuresHaveReasons) {
    if (!HaveProgram("oggenc") || !HaveProgram("ffmpeg") || !HaveProgram("flac"))
        GTEST_SKIP() << "oggenc, ffmpeg and flac are needed";
    RunResult r = Zrenc({"-e", "external", (dir / "in.wav").string()});
    EXPECT_NE(r.ExitCode, 0);
    EXPECT_CONTAINS(r.Output, "configured");

    Set("Program Path=oggenc|Program Parameters=-Q -o %OUT %IN|Target File Extension=ogg|"
        "Support Long Filenames=1");
    r = Zrenc({"-e", "external", "-o", (dir / "a b.ogg").string(), (dir / "in.wav").string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_NEAR(DecodeWithFfmpeg(dir / "a b.ogg", "s16le").size(), 22050.0 * 4, 22050.0 * 4 / 20);

    ASSERT_EQ(
        zrtest::Run({"flac", "-s", (dir / "in.wav").string(), "-o", (dir / "in.flac").string()})
            .ExitCode,
        0);
    Set("Program Path=ffmpeg|Program Parameters=-v error -i %IN %OUT|Target File Extension=wav|"
        "Support Long Filenames=1|Use source file as-is=1");
    r = Zrenc({"-e", "external", "-o", (dir / "f.wav").string(), (dir / "in.flac").string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_TRUE(SamePcm(WavData(ReadFile(dir / "in.wav")), WavData(ReadFile(dir / "f.wav")), 2));

    Set("Program Path=false|Program Parameters=%IN %OUT|Target File Extension=mp3");
    r = Zrenc({"-e", "external", "-o", (dir / "x.mp3").string(), (dir / "in.wav").string()});
    EXPECT_NE(r.ExitCode, 0);
    EXPECT_CONTAINS(r.Output, "wrote no output file: The program ended with exit code 1");
    ExpectClean("x.mp3");
}

TEST_F(ExternalZrenc, CtrlCLeavesNoProcessNoTemporaryWavAndNoOutput) {
    // A script that writes its output, then waits; Ctrl-C comes 2 s after zrenc started. The
    // length names this run's sleep among those of other test runs.
    const std::string sleep = "sleep 31." + std::to_string(::getpid());
    Set("Program Path=/bin/sh|Program Parameters=-c \"cp \\\"$0\\\" \\\"$1\\\"; exec " + sleep +
        "\" %IN %OUT|Target File Extension=mp3|Support Long Filenames=1");
    // One signal, as a terminal sends it: without --foreground timeout also signals its group,
    // and a second Ctrl-C ends zrenc at once.
    const RunResult r =
        zrtest::Run({"env", "--default-signal=INT", "TESSARY_HOME=" + (dir / "home").string(),
                     "TMPDIR=" + (dir / "tmp").string(), "timeout", "--foreground", "-s", "INT",
                     "2", ZrencProgram().string(), "-e", "external", "-o", (dir / "y.mp3").string(),
                     (dir / "in.wav").string()});
    EXPECT_NE(r.ExitCode, 0);
    EXPECT_CONTAINS(r.Output, "interrupted");
    EXPECT_EQ(zrtest::Run({"pgrep", "-f", sleep}).ExitCode, 1) << "left running";
    ExpectClean("y.mp3");
}

} // namespace
