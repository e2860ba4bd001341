// The plug-in library loaded the way a host loads it, each case in a process of its own (the
// probe): the factory, registration in the host's store, the calls the host's tools library
// receives, and start-up failures.
#include "support/TestSupport.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

extern "C" {
#include <libavcodec/version_major.h>
#include <libavutil/macros.h>
}

using namespace zrtest;

namespace {

struct Row {
    const char* Name;
    const char* Extension; // null: depends on the encoder's settings
};

// The host contract: index, display name, extension.
const Row Table[12] = {
    {"Monkey's Audio (APE)", "ape"},
    {"Ogg Vorbis", "ogg"},
    {"Uncompressed Wave", "wav"},
    {"MP3 Encoder", "mp3"},
    {"External Encoder", nullptr},
    {"Windows Media", "wma"},
    {"FLAC Encoder", "flac"},
    {"Musepack (MPC)", "mpc"},
    {"WavPack", "wv"},
    {"AIFF Encoder", "aif"},
    {"Apple Lossless Audio Codec (ALAC)", "m4a"},
    {"DSD", "dsf"},
};

fs::path Plugin() {
    return LibDir() / "libzrencoders.so";
}
fs::path RealTools() {
    return LibDir() / "libZrTools.so";
}
fs::path Fake(const std::string& name) {
    return BuildDir() / "tests" / "entry-fakes" / name / "libZrTools.so";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string ReadText(const fs::path& path) {
    const auto bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// One host process: a private TESSARY_HOME, the tools library from `programDir` ("" = the
// plug-in's own folder), the recording fake's log in the same temporary folder.
class Host {
public:
    explicit Host(std::string programDir, fs::path plugin = Plugin())
        : m_programDir(std::move(programDir)), m_plugin(std::move(plugin)) {}

    void Set(const std::string& assignment) { m_extra.push_back(assignment); }
    fs::path Home() const { return m_dir / "home"; }
    fs::path CallLog() const { return m_dir / "calls.log"; }
    const fs::path& Dir() const { return m_dir.Path(); }

    RunResult Run(const std::vector<std::string>& commands) const {
        std::vector<std::string> argv = {(BuildDir() / "tests" / "entry_probe").string(),
                                         m_plugin.string()};
        argv.insert(argv.end(), commands.begin(), commands.end());
        std::vector<std::string> env = {
            "TESSARY_HOME=" + Home().string(),
            "TESSARY_PROGRAM_DIR=" + m_programDir,
            "XDG_CONFIG_HOME=" + (m_dir / "xdg-config").string(),
            "XDG_DATA_HOME=" + (m_dir / "xdg-data").string(),
            "ZR_FAKE_TOOLS_LOG=" + CallLog().string(),
            "ZR_PROBE_TOOLS=" +
                (m_programDir.empty() ? RealTools().string() : m_programDir + "/libZrTools.so"),
        };
        env.insert(env.end(), m_extra.begin(), m_extra.end());
        return zrtest::Run(argv, env);
    }

    // The calls the recording fake received, without the log lines.
    std::vector<std::string> Calls() const {
        std::vector<std::string> calls;
        for (const std::string& line : Lines(ReadText(CallLog())))
            if (line.rfind("Log ", 0) != 0)
                calls.push_back(line);
        return calls;
    }

private:
    TempDir m_dir;
    std::string m_programDir;
    fs::path m_plugin;
    std::vector<std::string> m_extra;
};

// "index N: NAME|EXT" lines of the probe's create command, by index.
std::map<int, std::string> Created(const std::string& output) {
    std::map<int, std::string> created;
    for (const std::string& line : Lines(output)) {
        int index = 0;
        char rest[256] = {};
        if (std::sscanf(line.c_str(), "index %d: %255[^\n]", &index, rest) == 2)
            created[index] = rest;
    }
    return created;
}

std::string ExtensionOf(const std::map<int, std::string>& created, int index) {
    const std::string& entry = created.at(index);
    return entry.substr(entry.find('|') + 1);
}

std::string CriticalError(const std::string& reason) {
    return "Critical Error\nThe following module has failed to load:\r\n" +
           fs::canonical(Plugin()).string() +
           "\r\n\r\nIt has reported the following error:\r\n\r\n" + reason +
           "\r\n\r\nPlease reinstall the latest version of the program.\n";
}

bool HaveRealTools() {
    return fs::exists(RealTools());
}

TEST(PluginEntry, FactoryServesTheTwelveEncodersAndNothingElse) {
    Host host(HaveRealTools() ? "" : Fake("recording").parent_path().string());
    const RunResult r = host.Run({"create", "unload"});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_EQ(r.Output.find("Critical Error"), std::string::npos) << r.Output;
    const auto created = Created(r.Output);
    // -1 and 12: the first indices outside the table on either side.
    EXPECT_EQ(created.at(-1), "null");
    EXPECT_EQ(created.at(12), "null");
    for (int index = 0; index < 12; ++index) {
        SCOPED_TRACE(index);
        const std::string& entry = created.at(index);
        EXPECT_EQ(entry.substr(0, entry.find('|')), Table[index].Name);
        if (Table[index].Extension) {
            EXPECT_EQ(ExtensionOf(created, index), Table[index].Extension);
        }
    }
    EXPECT_NE(r.Output.find("unload: 0"), std::string::npos);
}

TEST(PluginEntry, HostReceivesTheCallsInOrder) {
    Host host(Fake("recording").parent_path().string());
    const RunResult r = host.Run({"create", "register", "unregister", "unload"});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    ASSERT_NE(r.Output.find("register: 0"), std::string::npos) << r.Output;
    ASSERT_NE(r.Output.find("unregister: 0"), std::string::npos) << r.Output;
    const auto created = Created(r.Output);
    const std::string path = fs::canonical(Plugin()).string();

    std::vector<std::string> expected = {"GetZrToolsDLL 200048"};
    const auto calls = host.Calls();
    ASSERT_GE(calls.size(), 2u);
    // Initialize(0, module): the module must be this library's, and the same at Uninitialize.
    const std::string initialize = calls[1];
    ASSERT_EQ(initialize.rfind("Initialize (nil) 0x", 0), 0u) << initialize;
    const std::string module = initialize.substr(std::string("Initialize (nil) ").size());
    expected.push_back(initialize);
    expected.push_back("Load \"\"");
    expected.push_back("OnProductInfoLoaded 0");
    for (int index = 0; index < 12; ++index) {
        const std::string key = std::string("Plugins\\Encoders\\") + Table[index].Name;
        for (const std::string& call :
             {"OpenHostKey " + key + " 1", "Prepare " + key, std::string("SetInt IVersion=5"),
              std::string("SetString Company=Tessary Audio"), "SetString Path=" + path,
              "SetInt Index=" + std::to_string(index), std::string("SetString Version=1.0.1"),
              "SetString Ext=" + ExtensionOf(created, index),
              std::string("SetString URL=https://tessary.example/encoders"),
              std::string("SetString Copyright=Copyright (c) 2026 Tessary Audio"),
              std::string("SetString Description=Vantor main encoder plug-ins.")})
            expected.push_back(call);
    }
    for (int index = 0; index < 12; ++index) {
        const std::string name = Table[index].Name;
        for (const std::string& call : {std::string("OpenHostKey Plugins\\Encoders 1"),
                                        "DeleteSubKey Plugins\\Encoders " + name,
                                        std::string("OpenHostKey Plugins\\Encoders 0"),
                                        "DeleteSubKey Plugins\\Encoders " + name})
            expected.push_back(call);
    }
    expected.push_back("Uninitialize " + module);
    EXPECT_EQ(calls, expected);
}

TEST(PluginEntry, RegistrationInTheHostStore) {
    if (!HaveRealTools())
        GTEST_SKIP() << "libZrTools.so is not built";
    Host host(""); // the tools library beside the plug-in
    const RunResult first = host.Run({"create", "register", "dump"});
    ASSERT_EQ(first.ExitCode, 0) << first.Output;
    const RunResult recreated = host.Run({"recreate"});
    const auto created = Created(first.Output);
    const std::string path = fs::canonical(Plugin()).string();
    const auto lines = Lines(first.Output);
    EXPECT_NE(first.Output.find("keys: 12\n"), std::string::npos) << first.Output;
    for (int index = 0; index < 12; ++index) {
        const std::string name = Table[index].Name;
        SCOPED_TRACE(name);
        const std::string prefix = "value " + name + "|";
        std::vector<std::string> values;
        for (const std::string& line : lines)
            if (line.rfind(prefix, 0) == 0)
                values.push_back(line.substr(prefix.size()));
        std::sort(values.begin(), values.end());
        std::vector<std::string> expected = {
            "Company=\"Tessary Audio\"",
            "Copyright=\"Copyright (c) 2026 Tessary Audio\"",
            "Description=\"Vantor main encoder plug-ins.\"",
            "Ext=\"" + ExtensionOf(created, index) + "\"",
            "IVersion=5",
            "Index=" + std::to_string(index),
            "Path=\"" + path + "\"",
            "URL=\"https://tessary.example/encoders\"",
            "Version=\"1.0.1\"",
        };
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(values, expected);
        // The stored index is the one that creates this encoder again.
        EXPECT_NE(recreated.Output.find("recreate " + name + ": " + name + "\n"), std::string::npos)
            << recreated.Output;
    }

    // Registering again rewrites every value: the same store, byte for byte.
    const fs::path store = host.Home() / "config" / "settings.ini";
    const std::string before = ReadText(store);
    const RunResult second = host.Run({"register", "dump"});
    ASSERT_EQ(second.ExitCode, 0) << second.Output;
    EXPECT_EQ(ReadText(store), before);
    const auto dumpOf = [](const std::string& output) {
        return output.substr(output.find("keys:"));
    };
    EXPECT_EQ(dumpOf(second.Output), dumpOf(first.Output));

    // Removal deletes every subkey; removing again finds nothing and still succeeds.
    const RunResult removed = host.Run({"unregister", "dump", "unregister", "dump"});
    ASSERT_EQ(removed.ExitCode, 0) << removed.Output;
    EXPECT_EQ(removed.Output, "unregister: 0\nkeys: 0\nunregister: 0\nkeys: 0\n");
}

TEST(PluginEntry, RemovalWithoutRegistration) {
    if (!HaveRealTools())
        GTEST_SKIP() << "libZrTools.so is not built";
    Host host("");
    const RunResult r = host.Run({"unregister", "dump"});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_EQ(r.Output, "unregister: 0\nkeys: 0\n");
}

struct StartupFailure {
    const char* Name;
    std::string ProgramDir;
    std::vector<std::string> Environment;
    const char* Reason; // null: the tools library's own reason
};

TEST(PluginEntry, StartupFailureRefusesEverything) {
    TempDir empty;
    const std::string recording = Fake("recording").parent_path().string();
    std::vector<StartupFailure> cases = {
        {"no tools library", empty.Path().string(), {}, "Failed to load ZrTools"},
        {"a library without GetZrToolsDLL",
         Fake("nosymbol").parent_path().string(),
         {},
         "Failed to load ZrTools"},
        {"an entry point that serves no interface",
         recording,
         {"ZR_FAKE_TOOLS_ENTRY=null"},
         "Failed to load ZrTools"},
        {"product information fails with a reason",
         recording,
         {"ZR_FAKE_TOOLS_LOAD=fail:The disk is on fire"},
         "The disk is on fire"},
        {"product information fails without one",
         recording,
         {"ZR_FAKE_TOOLS_LOAD=fail"},
         "Unknown error loading product information"},
    };
    if (HaveRealTools())
        cases.push_back({"the real tools library cannot make its data folder",
                         "",
                         {"TESSARY_HOME=/proc/zr-no-such-home"},
                         nullptr});
    for (const StartupFailure& c : cases) {
        SCOPED_TRACE(c.Name);
        Host host(c.ProgramDir);
        for (const std::string& e : c.Environment)
            host.Set(e);
        const RunResult r = host.Run({"create", "register", "unregister", "unload"});
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        if (c.Reason) {
            EXPECT_NE(r.Output.find(CriticalError(c.Reason)), std::string::npos) << r.Output;
        } else
            EXPECT_NE(r.Output.find("Critical Error\nThe following module has failed to load:"),
                      std::string::npos)
                << r.Output;
        const auto created = Created(r.Output);
        for (int index = -1; index <= 12; ++index) {
            EXPECT_EQ(created.at(index), "null") << index;
        }
        for (const std::string& call : host.Calls()) {
            EXPECT_EQ(call.rfind("OpenHostKey", 0), std::string::npos)
                << "registration ran: " << call;
        }
    }
}

TEST(PluginEntry, ToolsLibraryIsFoundWhereAHostKeepsIt) {
    // Below the program directory's x64 folder.
    {
        TempDir program;
        fs::create_directories(program / "x64");
        fs::copy_file(Fake("recording"), program / "x64" / "libZrTools.so");
        Host host(program.Path().string());
        const RunResult r = host.Run({"create"});
        EXPECT_EQ(Created(r.Output).at(2), "Uncompressed Wave|wav") << r.Output;
        EXPECT_EQ(host.Calls().at(0), "GetZrToolsDLL 200048");
    }
    // Beside a copy of the plug-in, with no program directory given; "Path" names the copy.
    {
        TempDir install;
        fs::copy_file(Plugin(), install / "libzrencoders.so");
        fs::copy_file(Fake("recording"), install / "libZrTools.so");
        Host host("", install / "libzrencoders.so");
        const RunResult r = host.Run({"register"});
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        const auto calls = host.Calls();
        EXPECT_NE(
            std::find(calls.begin(), calls.end(),
                      "SetString Path=" + fs::canonical(install / "libzrencoders.so").string()),
            calls.end());
    }
}

TEST(PluginEntry, TraceScopesGoToTheHostLogger) {
    Host host(Fake("recording").parent_path().string());
    const RunResult r = host.Run({"encode", (host.Dir() / "a.wav").string()});
    ASSERT_NE(r.Output.find("encode: 1 1 1"), std::string::npos) << r.Output;
    const std::string log = ReadText(host.CallLog());
    EXPECT_NE(log.find("Log 512 CWavEncoder::StartBufferBased: Start\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Log 512 CWavEncoder::StartBufferBased: Finish ("), std::string::npos)
        << log;
}

// Loading the plug-in, creating every encoder and writing a WAV file must not load the FFmpeg
// libraries' hundred-odd dependencies: a host pays for them only when an Apple Lossless file
// starts.
TEST(PluginEntry, CodecLibraryIsOpenedOnlyByTheEncoderThatNeedsIt) {
    const std::string avcodec = "libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR);
    Host host(Fake("recording").parent_path().string());
    const RunResult r =
        host.Run({"loaded", avcodec, "create", "encode", (host.Dir() / "a.wav").string(), "loaded",
                  avcodec, "encode@10", (host.Dir() / "a.m4a").string(), "loaded", avcodec});
    std::vector<std::string> seen;
    for (const std::string& line : Lines(r.Output))
        if (line.rfind("index ", 0) != 0)
            seen.push_back(line);
    const std::vector<std::string> expected = {"loaded " + avcodec + ": 0", "encode: 1 1 1",
                                               "loaded " + avcodec + ": 0", "encode: 1 1 1",
                                               "loaded " + avcodec + ": 1"};
    EXPECT_EQ(seen, expected) << r.Output;
}

} // namespace
