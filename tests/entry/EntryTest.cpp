// The plug-in library loaded the way a host loads it, next to the real tools library on a
// private TESSARY_HOME: every encoder the factory serves, registration in the host's store, the
// host's log, and start-up failures. Cases that need an environment of their own run in a
// process of their own (the probe).
#include "support/TestSupport.h"

#include <algorithm>
#include <dlfcn.h>
#include <map>
#include <memory>
#include <sstream>

extern "C" {
#include <libavcodec/version_major.h>
#include <libavutil/macros.h>
}

#include "tessary/IZrEncoder.h"

using namespace zrtest;

namespace {

fs::path Plugin() {
    return LibDir() / "libzrencoders.so";
}

// --- Every encoder the factory serves ------------------------------------------------------

struct Encoder {
    int Index;
    const char* Name;
    const char* Extension;
    // "Configurable Streaming Uncompressed-WAV-Output Estimated-Bitrate"; null: a placeholder.
    const char* Properties;
    // "Settings" after an empty settings text: the encoder's defaults. Null: placeholder.
    const char* Defaults;
};

const Encoder Encoders[12] = {
    {0, "Monkey's Audio (APE)", "ape", "1 0 0 900", "Compression=2000"},
    {1, "Ogg Vorbis", "ogg", "1 1 0 192", "Quality=2|Command Line=-q%204.99|Mode=0"},
    {2, "Uncompressed Wave", "wav", "1 1 1 1411200", "NOHDR=0|L16=0|L24=0"},
    // With no settings at all every number reads as 0, the CBR/ABR target included.
    {3, "MP3 Encoder", "mp3", "1 1 0 0",
     "Bitrate=160|ForceCBR=0|SpeedBitrate=160|CommandLine=-V%204%20--vbr-new|Mode=1"},
    {4, "External Encoder", "", "2 0 0 1440",
     "Support Long Filenames=0|Use source file as-is=0|Hide Command window=0|Bitrate=0|"
     "Target File Extension=|Program Path=|Program Parameters="},
    {5, "Windows Media", "wma", "1 0 0 48", "CBR Bitrate=5|VBR Bitrate=3|Mode=1|Security=0"},
    {6, "FLAC Encoder", "flac", "1 0 0 900", "Quality=6|Verify=0|Ogg=0|AddPB=1|AddST=1"},
    {7, "Musepack (MPC)", "mpc", "1 1 0 163", "Quality=2|Command Line=--standard|Mode=0"},
    {8, "WavPack", "wv", "1 0 0 750",
     "Compression Type=Lossless|Target Bitrate=256|Correction File=1|Compression=0|"
     "Extra Encode Processing=0"},
    {9, "AIFF Encoder", "aif", "0 1 0 1411200", ""},
    {10, "Apple Lossless Audio Codec (ALAC)", "m4a", "0 0 0 900", ""},
    {11, "DSD", "dsf", "1 0 0 5644", "SampleRate=2822400"},
};

// A settings text as the host hands it over, and what the encoder keeps of it (in any order):
// the defaults for keys not given, values outside the allowed set replaced by LoadSettings,
// keys it does not know as given.
struct SettingsCase {
    int Index;
    const char* Given;
    const char* Kept; // null: the text as given
    const char* Extension;
};

const SettingsCase SettingsCases[] = {
    {0, "Compression=4000", nullptr, "ape"},
    {0, "Compression=5000|Extra=1", "Compression=2000|Extra=1", "ape"},
    {0, "Compression=-1000", "Compression=2000", "ape"},
    {2, "NOHDR=1|L24=1", "NOHDR=1|L16=0|L24=1", "l24"},
    {2, "NOHDR=1|L16=1", "NOHDR=1|L16=1|L24=0", "l16"},
    {2, "NOHDR=1|L16=1|L24=1", nullptr, "l24"},
    {2, "NOHDR=2|L24=1", "NOHDR=2|L16=0|L24=1", "wav"}, // headerless only with exactly 1
    {2, "L16=1", "NOHDR=0|L16=1|L24=0", "wav"},
    // No LoadSettings: an unknown mode stays.
    {3, "Mode=7|CommandLine=lame%20-b%2032",
     "Mode=7|Bitrate=160|ForceCBR=0|SpeedBitrate=160|CommandLine=lame%20-b%2032", "mp3"},
    {4, "Program Path=enc|Target File Extension=opus",
     "Program Path=enc|Program Parameters=|Target File Extension=opus|Support Long Filenames=0|"
     "Use source file as-is=0|Hide Command window=0|Bitrate=0",
     "opus"},
    {6, "Ogg=1", "Quality=6|Verify=0|Ogg=1|AddPB=1|AddST=1", "ogg"},
    // No LoadSettings: values stay as given.
    {6, "Quality=99|Verify=7", "Quality=99|Verify=7|Ogg=0|AddPB=1|AddST=1", "flac"},
    {8,
     "Compression=4096|Compression Type=Hybrid|Extra Encode Processing=6|Target Bitrate=2560|"
     "Correction File=0",
     nullptr, "wv"},
    {8,
     "Compression=1|Compression Type=hybrid|Extra Encode Processing=7|Target Bitrate=100|"
     "Correction File=2",
     "Compression=0|Compression Type=Lossless|Extra Encode Processing=0|Target Bitrate=256|"
     "Correction File=1",
     "wv"},
    {8, "Extra Encode Processing=-1|Target Bitrate=32",
     "Compression=0|Compression Type=Lossless|Extra Encode Processing=0|Target Bitrate=32|"
     "Correction File=1",
     "wv"},
    // No LoadSettings: a quality outside the table stays, and reads as the default row.
    {1, "Quality=9", "Mode=0|Quality=9|Command Line=-q%204.99", "ogg"},
    {7, "Mode=1|Command Line=--quality%204", "Mode=1|Quality=2|Command Line=--quality%204", "mpc"},
    // No LoadSettings: indices outside the tables stay as given.
    {5, "Mode=0|CBR Bitrate=9", "Mode=0|CBR Bitrate=9|VBR Bitrate=3|Security=0", "wma"},
    {11, "SampleRate=22579200", nullptr, "dsf"},
    {11, "SampleRate=44100", "SampleRate=2822400", "dsf"},
};

using EncoderPtr = std::unique_ptr<IZrEncoder>;

// The plug-in loaded into this process as a host loads it, once, and kept: the string blocks
// it keeps for reuse stay reachable.
EncoderPtr Create(int32_t index) {
    static const TempDir home;
    static const ZrCreateEncoderFn create = [] {
        ::setenv("TESSARY_HOME", (home / "home").c_str(), 1);
        ::setenv("TESSARY_PROGRAM_DIR", LibDir().c_str(), 1);
        void* module = ::dlopen(Plugin().c_str(), RTLD_NOW | RTLD_LOCAL);
        return module ? reinterpret_cast<ZrCreateEncoderFn>(::dlsym(module, "CreateEncoder"))
                      : nullptr;
    }();
    if (!create) {
        ADD_FAILURE() << "the plug-in did not load: " << ::dlerror();
        return nullptr;
    }
    return EncoderPtr(create(index, nullptr));
}

// The properties that tell encoders apart, as in the table; the others are the same for all.
std::string Describe(IZrEncoder& e) {
    // Only the external encoder takes a WAV file instead of buffers.
    EXPECT_EQ(Property(e, u"Buffer Input") + Property(e, u"WAV File Input") +
                  Property(e, u"Any Format File Input") + Property(e, u"Supported Bitdepths"),
              Property(e, u"Display Name") == "External Encoder" ? "010" : "100");
    return Property(e, u"Configurable") + " " + Property(e, u"Streaming") + " " +
           Property(e, u"Uncompressed WAV Output") + " " + Property(e, u"Estimated Bitrate");
}

// Pairs of a settings text, sorted: the same settings whatever the order.
std::vector<std::string> Pairs(const std::string& text) {
    std::vector<std::string> pairs;
    std::istringstream in(text);
    for (std::string pair; std::getline(in, pair, '|');)
        pairs.push_back(pair);
    std::sort(pairs.begin(), pairs.end());
    return pairs;
}

TEST(Encoders, EveryIndexServesItsEncoderWithItsDefaults) {
    for (const int32_t outside : {-1, 12, 1000})
        EXPECT_EQ(Create(outside), nullptr) << outside;
    for (const Encoder& row : Encoders) {
        SCOPED_TRACE(row.Name);
        const EncoderPtr e = Create(row.Index);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(Property(*e, u"Display Name"), row.Name);
        EXPECT_EQ(Property(*e, u"Extension"), row.Extension);
        EXPECT_EQ(Property(*e, u"Version"), "5");
        EXPECT_EQ(Property(*e, u"Settings"), ""); // nothing before the host's text
        if (row.Properties) {
            EXPECT_EQ(Describe(*e), row.Properties);
        }
        if (row.Defaults) {
            ASSERT_TRUE(e->SetProperty(u"Settings", u""));
            EXPECT_EQ(Property(*e, u"Settings"), row.Defaults);
        }
    }
}

TEST(Encoders, LoadSettingsKeepsOnlyAllowedValues) {
    for (const SettingsCase& c : SettingsCases) {
        SCOPED_TRACE(std::string(Encoders[c.Index].Name) + ": " + c.Given);
        const EncoderPtr e = Create(c.Index);
        ASSERT_NE(e, nullptr);
        ASSERT_TRUE(SetProperty(*e, u"Settings", c.Given));
        const std::string kept = Property(*e, u"Settings");
        EXPECT_EQ(Pairs(kept), Pairs(c.Kept ? c.Kept : c.Given)) << kept;
        EXPECT_EQ(Property(*e, u"Extension"), c.Extension);
    }
}

// --- The plug-in in a host process of its own ------------------------------------------------

// One host process: a private TESSARY_HOME, the tools library from `programDir` ("" = the
// plug-in's own folder).
class Host {
public:
    explicit Host(std::string programDir, fs::path plugin = Plugin())
        : m_programDir(std::move(programDir)), m_plugin(std::move(plugin)) {}

    void Set(const std::string& assignment) { m_extra.push_back(assignment); }
    fs::path Home() const { return m_dir / "home"; }
    const fs::path& Dir() const { return m_dir.Path(); }
    std::string Log() const { return ReadText(Home() / "data" / "logs" / "zr.log"); }

    RunResult Run(const std::vector<std::string>& commands) const {
        std::vector<std::string> argv = {(BuildDir() / "tests" / "entry_probe").string(),
                                         m_plugin.string()};
        argv.insert(argv.end(), commands.begin(), commands.end());
        std::vector<std::string> env = {
            "TESSARY_HOME=" + Home().string(),
            "TESSARY_PROGRAM_DIR=" + m_programDir,
            "TESSARY_LOG=file",
        };
        env.insert(env.end(), m_extra.begin(), m_extra.end());
        return zrtest::Run(argv, env);
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

// The host store's keys below "Plugins\Encoders", each with its value lines in their order.
std::map<std::string, std::vector<std::string>> Registered(const Host& host) {
    std::map<std::string, std::vector<std::string>> keys;
    const fs::path store = host.Home() / "config" / "settings.ini";
    const std::string prefix = "[Plugins\\Encoders\\";
    std::vector<std::string>* values = nullptr;
    for (const std::string& line : Lines(fs::exists(store) ? ReadText(store) : "")) {
        if (line.starts_with("["))
            values = line.starts_with(prefix)
                         ? &keys[line.substr(prefix.size(), line.size() - prefix.size() - 1)]
                         : nullptr;
        else if (values && !line.empty())
            values->push_back(line);
    }
    return keys;
}

TEST(PluginEntry, RegistrationInTheHostStoreAndFailuresInItsLog) {
    Host host(""); // the tools library beside the plug-in
    // Removal before any registration finds nothing and still succeeds.
    EXPECT_EQ(host.Run({"unregister"}).Output, "unregister: 0\n");
    EXPECT_TRUE(Registered(host).empty());

    ASSERT_EQ(host.Run({"register"}).Output, "register: 0\n");
    const auto keys = Registered(host);
    EXPECT_EQ(keys.size(), 12u);
    const std::string path = fs::canonical(Plugin()).string();
    for (const Encoder& row : Encoders) {
        SCOPED_TRACE(row.Name);
        // In the order they are written. The index is the one that creates this encoder
        // again: the table's rows are checked through CreateEncoder above.
        const std::vector<std::string> expected = {
            "IVersion = 5",
            "Company = \"Tessary Audio\"",
            "Path = \"" + path + "\"",
            "Index = " + std::to_string(row.Index),
            "Version = \"1.0.1\"",
            "Ext = \"" + std::string(row.Extension) + "\"",
            "URL = \"https://tessary.example/encoders\"",
            "Copyright = \"Copyright (c) 2026 Tessary Audio\"",
            "Description = \"Vantor main encoder plug-ins.\"",
        };
        EXPECT_EQ(keys.contains(row.Name) ? keys.at(row.Name) : std::vector<std::string>{},
                  expected);
    }
    EXPECT_CONTAINS(host.Log(), "ZrTools::OnProductInfoLoaded");

    // Registering again rewrites every value: the same store, byte for byte.
    const fs::path store = host.Home() / "config" / "settings.ini";
    const std::string before = ReadText(store);
    ASSERT_EQ(host.Run({"register"}).ExitCode, 0);
    EXPECT_EQ(ReadText(store), before);

    EXPECT_EQ(host.Run({"unregister", "unregister"}).Output, "unregister: 0\nunregister: 0\n");
    EXPECT_TRUE(Registered(host).empty());

    // A failure goes to the host's log.
    WriteFile(host.Dir() / "file", "x", 1);
    EXPECT_CONTAINS(host.Run({"encode@2", (host.Dir() / "file" / "a.wav").string()}).Output,
                    "encode: 0 0 0");
    EXPECT_CONTAINS(host.Log(), "CWavEncoder::StartBufferBased: ERROR - ");
}

TEST(PluginEntry, StartupFailureRefusesEverything) {
    TempDir empty, notTools;
    // A shared library that exports no GetZrToolsDLL.
    fs::copy_file(LibDir() / "libabi_test_plugin.so", notTools / "libZrTools.so");
    struct Case {
        const char* What;
        std::string ProgramDir;
        std::string Environment;
        std::string Reason;
    } cases[] = {
        {"no tools library", empty.Path().string(), "", "Failed to load ZrTools\r\n"},
        {"a library without GetZrToolsDLL", notTools.Path().string(), "",
         "Failed to load ZrTools\r\n"},
        // The tools library's own reason is passed on.
        {"the tools library cannot make its data folder", "", "TESSARY_HOME=/proc/zr-no-home",
         "/proc/zr-no-home"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        Host host(c.ProgramDir);
        if (!c.Environment.empty())
            host.Set(c.Environment);
        const RunResult r = host.Run({"create", "register", "unregister"});
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        const size_t at =
            r.Output.find("Critical Error\nThe following module has failed to load:\r\n" +
                          fs::canonical(Plugin()).string() +
                          "\r\n\r\nIt has reported the following error:\r\n\r\n");
        ASSERT_NE(at, std::string::npos) << r.Output;
        EXPECT_NE(r.Output.find(c.Reason, at), std::string::npos) << r.Output;
        EXPECT_EQ(r.Output.find("Unknown error"), std::string::npos) << r.Output;
        const auto created = Created(r.Output);
        for (int index = -1; index <= 12; ++index)
            EXPECT_EQ(created.at(index), "null") << index;
        EXPECT_FALSE(fs::exists(host.Home() / "config" / "settings.ini"));
    }
}

TEST(PluginEntry, ToolsLibraryIsFoundWhereAHostKeepsIt) {
    // Below the program directory's x64 folder.
    TempDir program;
    fs::create_directories(program / "x64");
    fs::copy_file(LibDir() / "libZrTools.so", program / "x64" / "libZrTools.so");
    Host x64(program.Path().string());
    EXPECT_EQ(Created(x64.Run({"create"}).Output).at(2), "Uncompressed Wave|wav");

    // Beside a copy of the plug-in, with no program directory given; "Path" names the copy.
    TempDir install;
    fs::copy_file(Plugin(), install / "libzrencoders.so");
    fs::copy_file(LibDir() / "libZrTools.so", install / "libZrTools.so");
    Host beside("", install / "libzrencoders.so");
    ASSERT_EQ(beside.Run({"register"}).ExitCode, 0);
    const std::string path = fs::canonical(install / "libzrencoders.so").string();
    EXPECT_EQ(Registered(beside)["WavPack"].at(2), "Path = \"" + path + "\"");
}

// Loading the plug-in, creating every encoder and writing a WAV file must not load the FFmpeg
// libraries' hundred-odd dependencies: a host pays for them only when an Apple Lossless or a
// Windows Media file starts (which also finds its profiles beside the plug-in).
TEST(PluginEntry, CodecLibraryIsOpenedOnlyByTheEncoderThatNeedsIt) {
    const std::string avcodec = "libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR);
    const std::string loaded = "loaded " + avcodec + ": ", encoded = "encode: 1 1 1\n";
    for (const auto& [encoder, file] : {std::pair{"encode@10", "a.m4a"}, {"encode@5", "a.wma"}}) {
        SCOPED_TRACE(file);
        Host host("");
        const RunResult r =
            host.Run({"create", "loaded", avcodec, "encode@2", (host.Dir() / "a.wav").string(),
                      "loaded", avcodec, encoder, (host.Dir() / file).string(), "loaded", avcodec});
        EXPECT_CONTAINS(r.Output,
                        loaded + "0\n" + encoded + loaded + "0\n" + encoded + loaded + "1\n");
    }
}

} // namespace
