// zrenc and the settings store: registration, the machine-wide fallback, the settings values it
// reads and writes, and file encoders (a fake plug-in library registered by the test). The test
// process opens the same store through the tools library, so one settings home serves the suite.
#include "loader/ZrHostTools.h"
#include "support/TestSupport.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace {

using namespace zrtest;

const char16_t* const MachineEncoders = u"SOFTWARE\\Vantor\\Orrelin\\Plugins\\Encoders";

ZrString HostEncoderKey(const char16_t* name) {
    return ZrString(u"Plugins\\Encoders\\") + name;
}

std::string PluginLibrary() {
    return fs::canonical(LibDir() / "libzrencoders.so").string();
}

// The tools library reads its home once per process: one home serves every test here.
const fs::path& StoreHome() {
    static const TempDir home;
    static const fs::path path = [] {
        const fs::path p = home.Path() / "home";
        ::setenv("TESSARY_HOME", p.c_str(), 1);
        return p;
    }();
    return path;
}

class ZrencStoreTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        StoreHome();
        std::string error;
        ASSERT_NE(ZrHostTools::Load({LibDir().string()}, &error), nullptr) << error;
        const RunResult r = zrtest::Run({ZrencProgram().string(), "--register"},
                                        {"TESSARY_HOME=" + StoreHome().string()});
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
    }

    RunResult Zrenc(const std::vector<std::string>& args) {
        return RunZrencAt(dir.Path(), args, {"TESSARY_HOME=" + StoreHome().string()});
    }
    std::string In(const std::string& name) { return (dir / name).string(); }

    static void Register(ZrRegKeyPtr key, int32_t version, const std::string& path, int32_t index) {
        ASSERT_TRUE(key);
        key->Prepare();
        key->SetInt(u"IVersion", version);
        key->SetString(u"Path", ZrString::FromUtf8(path).c_str());
        key->SetInt(u"Index", index);
    }
    static std::string Stored(const char16_t* encoder, const char16_t* value) {
        ZrRegKeyPtr key = ZrHostTools::OpenHostKey(HostEncoderKey(encoder), 0);
        return ZrReadString(key.get(), value, u"<absent>").ToUtf8();
    }

    TempDir dir;
};

TEST_F(ZrencStoreTest, AHostKeyOfVersionFourFallsBackToTheMachineTree) {
    MakeWav(In("a.wav"));
    ZrHostTools::OpenHostKey(HostEncoderKey(u"Uncompressed Wave"), 0)->SetInt(u"IVersion", 4);
    RunResult r = Zrenc({"-e", "wav", "-o", In("out.wav"), In("a.wav")});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_CONTAINS(r.Output, "not registered");
    EXPECT_FALSE(fs::exists(dir / "out.wav"));

    Register(ZrHostTools::OpenMachineKey(ZrString(MachineEncoders) + u"\\Uncompressed Wave"), 5,
             PluginLibrary(), 2);
    r = Zrenc({"-e", "Uncompressed Wave", "-f", "-o", In("out.wav"), In("a.wav")});
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_EQ(WavData(dir / "out.wav"), WavData(dir / "a.wav"));
    ZrHostTools::OpenMachineKey(MachineEncoders)->DeleteSubKey(u"Uncompressed Wave");
    ZrHostTools::OpenHostKey(HostEncoderKey(u"Uncompressed Wave"), 0)->SetInt(u"IVersion", 5);
}

// A store that cannot be used stops the run with its path and the system's reason; a store
// with unreadable lines is rebuilt and zrenc says where the old file went.
TEST(ZrencStoreFailures, AreNamedAndNeverSilent) {
    TempDir dir;
    WriteFile(dir / "file", "x", 1);
    fs::create_directories(dir / "folder/config/settings.ini");
    struct Case {
        fs::path home;
        std::vector<std::string> args;
        int exitCode;
        std::string says;
    };
    const Case cases[] = {
        {dir / "file/home", {"--list"}, 1, "cannot create the folder " + (dir / "file").string()},
        {dir / "file/home", {"--set", "flac", "Quality=8"}, 1, "Not a directory"},
        {dir / "folder",
         {"--settings", "flac"},
         1,
         "the settings store " + (dir / "folder/config/settings.ini").string() + " is not a file"},
        {dir / "corrupt", {"--set", "flac", "Quality=8"}, 0, ""},
        {dir / "corrupt",
         {"--set", "flac", "Quality=7"},
         0,
         "the old file is " + (dir / "corrupt/config/settings.ini.bak").string()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.home.string() + " " + c.args.front());
        if (c.exitCode == 0 && c.says.empty() == false) {
            std::ofstream(c.home / "config/settings.ini", std::ios::app) << "[[[ not a key\n";
        }
        std::vector<std::string> argv = c.args;
        argv.insert(argv.begin(), ZrencProgram().string());
        const RunResult r = zrtest::Run(argv, {"TESSARY_HOME=" + c.home.string()});
        EXPECT_EQ(r.ExitCode, c.exitCode) << r.Output;
        EXPECT_CONTAINS(r.Output, c.says);
        EXPECT_EQ(r.Output.find("reinstall"), std::string::npos) << r.Output;
    }
}

// Each profile has a settings value of its own, -s changes one run only, and the WAV encoder
// starts from its defaults without a profile.
TEST_F(ZrencStoreTest, SettingsAreKeptPerProfile) {
    const std::vector<uint8_t> pcm = MakeWav(In("a.wav"), {}, 44100 * 2);
    EXPECT_CONTAINS(Zrenc({"--settings", "flac"}).Output, "Quality=6"); // before any was saved
    ASSERT_EQ(Zrenc({"--set", "flac", "Quality=8|Verify=1"}).ExitCode, 0);
    ASSERT_EQ(Zrenc({"-p", "Vida Zuzuvi", "--set", "FLAC Encoder", "Quality=3"}).ExitCode, 0);
    EXPECT_EQ(Stored(u"FLAC Encoder", u"Settings"), "Quality=8|Verify=1");
    EXPECT_EQ(Stored(u"FLAC Encoder", u"Settings (Vida Zuzuvi)"), "Quality=3");
    RunResult r = Zrenc({"-p", "Vida Zuzuvi", "--settings", "6"});
    EXPECT_CONTAINS(r.Output, "Quality=3");
    EXPECT_CONTAINS(r.Output, "Verify=0");
    r = Zrenc({"--set", "flac", "Qualty=8"});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_CONTAINS(r.Output, "\"Qualty\" is not a setting of FLAC Encoder"); // nor saved
    // -o takes the name as it is, without adding an extension.
    ASSERT_EQ(Zrenc({"-e", "flac", "-s", "Quality=0", "-o", In("fast.bin"), In("a.wav")}).ExitCode,
              0);
    ASSERT_EQ(Zrenc({"-e", "flac", "-s", "Quality=8", "-o", In("best.bin"), In("a.wav")}).ExitCode,
              0);
    EXPECT_LT(ReadFile(dir / "best.bin").size(), ReadFile(dir / "fast.bin").size());
    EXPECT_EQ(Stored(u"FLAC Encoder", u"Settings"), "Quality=8|Verify=1");

    r = Zrenc({"--set", "wav", "NOHDR=1"});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_CONTAINS(r.Output, "always starts from its defaults");
    ASSERT_EQ(Zrenc({"-p", "Studio", "--set", "wav", "NOHDR=1"}).ExitCode, 0);
    ASSERT_EQ(Zrenc({"-e", "wav", "-o", In("plain.wav"), In("a.wav")}).ExitCode, 0);
    EXPECT_EQ(WavData(dir / "plain.wav"), pcm);
    ASSERT_EQ(Zrenc({"-p", "Studio", "-e", "wav", "-o", In("raw.pcm"), In("a.wav")}).ExitCode, 0);
    EXPECT_EQ(ReadFile(dir / "raw.pcm"), pcm) << "headerless under the profile";
}

// Values outside what the encoder takes, unknown keys, spaces around them and a profile never
// saved are usage errors that name the key and what it takes; nothing is saved or encoded.
TEST_F(ZrencStoreTest, SettingsOutsideWhatTheEncoderTakesAreUsageErrors) {
    MakeWav(In("a.wav"), {}, 441);
    const std::string before = Stored(u"FLAC Encoder", u"Settings");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-e", "flac", "-s", "Quality=99"}, "FLAC Encoder takes Quality = 0 to 8, not \"99\""},
        {{"-e", "flac", "-s", "Quality=abc"}, "Quality = 0 to 8, not \"abc\""},
        {{"-e", "flac", "-s", "Quality=5|Verify= 1"}, "spaces around \"Verify= 1\""},
        {{"-e", "ape", "-s", "Compression=5000"}, "Compression = 1000, 2000, 3000, 4000"},
        {{"-e", "dsd", "-s", "SampleRate=44100"}, "SampleRate = 2822400, 5644800"},
        {{"-e", "aiff", "-s", "Quality=5"}, "\"Quality\" is not a setting of AIFF Encoder"},
        {{"-e", "wavpack", "-s", "Compression Type=hybrid"}, "Lossless, Hybrid, not \"hybrid\""},
        {{"-e", "ogg", "-s", "Qualty=3"}, "its settings: Mode, Quality, Command Line"},
        {{"-e", "mpc", "-s", "Quality=5"}, "Musepack (MPC) takes Quality = 0 to 4, not \"5\""},
        {{"-e", "mp3", "-s", "Mode=0|Bitrate=999"}, "MP3 Encoder takes Bitrate = 8 to 320"},
        {{"-e", "wma", "-s", "Mode=3"}, "Windows Media takes Mode = 0, 1, 2, not \"3\""},
        {{"--set", "flac", "Quality=9"}, "FLAC Encoder takes Quality = 0 to 8, not \"9\""},
        {{"-p", "Nowhere", "-e", "flac"}, "no settings are saved under the profile \"Nowhere\""},
    };
    for (const auto& [args, says] : cases) {
        std::vector<std::string> argv = args;
        if (args.front() != "--set")
            argv.insert(argv.end(), {"-d", In("out"), In("a.wav")});
        const RunResult r = Zrenc(argv);
        EXPECT_EQ(r.ExitCode, 2) << r.Output;
        EXPECT_CONTAINS(r.Output, says);
    }
    EXPECT_FALSE(fs::exists(dir / "out"));
    EXPECT_EQ(Stored(u"FLAC Encoder", u"Settings"), before);

    // What --settings prints, every encoder takes back.
    for (int index = 0; index < 12; ++index) {
        const std::string encoder = std::to_string(index);
        const RunResult shown = Zrenc({"--settings", encoder});
        ASSERT_EQ(shown.ExitCode, 0) << shown.Output;
        const std::string text = shown.Output.substr(0, shown.Output.find('\n'));
        const RunResult r = Zrenc({"-p", "Echo", "--set", encoder, text});
        EXPECT_EQ(r.ExitCode, 0) << encoder << ": " << text << "\n" << r.Output;
    }
}

// Saved settings are the user's: unregistering keeps them for the next registration.
TEST_F(ZrencStoreTest, RegistersAgainOnFirstUseAfterUnregistering) {
    ASSERT_EQ(Zrenc({"-p", "Kept", "--set", "ape", "Compression=4000"}).ExitCode, 0);
    ASSERT_EQ(Zrenc({"--unregister"}).ExitCode, 0);
    EXPECT_EQ(Stored(u"FLAC Encoder", u"Path"), "<absent>");
    const RunResult r = Zrenc({"-p", "Kept", "--settings", "ape"});
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_CONTAINS(r.Output, "Compression=4000");
    EXPECT_EQ(fs::canonical(Stored(u"FLAC Encoder", u"Path")).string(), PluginLibrary());
}

class ZrencFileEncoderTest : public ZrencStoreTest {
protected:
    void SetUp() override {
        ZrencStoreTest::SetUp();
        int32_t index = 0;
        for (const char16_t* name : {u"Fake Copying Encoder", u"Fake Failing Encoder",
                                     u"Fake Stalling Encoder", u"Fake Silent Encoder"})
            Register(ZrHostTools::OpenHostKey(HostEncoderKey(name), 1), 5, ZR_FAKE_ENCODERS,
                     index++);
        pcm = MakeWav(In("in.wav"), {24, false, 2}, 30000);
    }
    std::vector<uint8_t> pcm;
};

// The host makes a WAV file with its WAV encoder, hands it over and waits for the callback;
// failures reported through the callback leave nothing.
TEST_F(ZrencFileEncoderTest, EncodesFromATemporaryWavFile) {
    RunResult r = Zrenc({"-e", "fake copying encoder", "-d", In("out"), In("in.wav")});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_EQ(FilesIn(dir / "out"), std::vector<std::string>{"in.fake"});
    EXPECT_EQ(WavData(dir / "out" / "in.fake"), pcm);
    EXPECT_EQ(FilesIn(dir / "tmp"), std::vector<std::string>{}); // the WAV file is gone

    const std::pair<const char*, const char*> failures[] = {
        {"Fake Failing Encoder", "disk on fire"}, {"Fake Silent Encoder", "wrote no output"}};
    for (const auto& [encoder, says] : failures) {
        r = Zrenc({"-e", encoder, "-d", In("failed"), In("in.wav")});
        EXPECT_EQ(r.ExitCode, 1);
        EXPECT_CONTAINS(r.Output, says);
        EXPECT_CONTAINS(r.Output, std::string("[") + encoder + "]");
        EXPECT_EQ(FilesIn(dir / "failed"), std::vector<std::string>{});
        EXPECT_EQ(FilesIn(dir / "tmp"), std::vector<std::string>{});
    }
}

// Ctrl-C while a file encoder runs: it is cancelled, and nothing stays behind.
TEST_F(ZrencFileEncoderTest, InterruptCancelsAndCleansUp) {
    for (const char* signal : {"INT", "TERM"}) {
        SCOPED_TRACE(signal);
        // Three seconds: the stalling encoder is under way by then, even on a busy machine.
        fs::create_directories(dir / "tmp");
        const RunResult r = zrtest::Run(
            {"timeout", "--foreground", "--preserve-status", "-s", signal, "3",
             ZrencProgram().string(), "-e", "Fake Stalling Encoder", "-d", In("out"), In("in.wav")},
            {"TESSARY_HOME=" + StoreHome().string(), "TMPDIR=" + (dir / "tmp").string()});
        EXPECT_EQ(r.ExitCode, 128 + (signal == std::string("INT") ? SIGINT : SIGTERM));
        EXPECT_CONTAINS(r.Output, "interrupted");
        EXPECT_EQ(FilesIn(dir / "out"), std::vector<std::string>{});
        EXPECT_EQ(FilesIn(dir / "tmp"), std::vector<std::string>{});
    }
}

} // namespace
