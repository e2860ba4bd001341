// CEncoderPlugin against the real tools library on a private TESSARY_HOME and the fake encoder
// library: where the registration is found, what a failed load leaves, and which settings value
// is read and written.
#include "loader/CEncoderPlugin.h"
#include "loader/ZrHostTools.h"
#include "support/TestSupport.h"

namespace {

const char16_t* const HostKey = u"Plugins\\Encoders\\Fake File Encoder";
const char16_t* const MachineKey =
    u"SOFTWARE\\Vantor\\Orrelin\\Plugins\\Encoders\\Fake File Encoder";

std::u16string FakeLibrary() {
    return ZrString::FromUtf8(ZR_FAKE_ENCODERS).c_str();
}

// The tools library reads its environment once per process: one home for every case, emptied
// before each.
const zrtest::TempDir& Home() {
    static const zrtest::TempDir home;
    return home;
}

class EncoderPluginTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::setenv("TESSARY_HOME", Home().Path().c_str(), 1);
        std::string error;
        ASSERT_NE(ZrHostTools::Load({zrtest::LibDir().string()}, &error), nullptr) << error;
    }
    void SetUp() override { Clear(); }

    static void Clear() {
        zrtest::fs::remove(Home() / "config" / "settings.ini");
        zrtest::fs::remove(Home() / "machine" / "settings.ini");
    }
    static ZrRegKeyPtr Key(const std::u16string& path) {
        return path.starts_with(u"SOFTWARE") ? ZrHostTools::OpenMachineKey(path.c_str())
                                             : ZrHostTools::OpenHostKey(path.c_str(), 1);
    }
    // A registration as the plug-in library writes it.
    static void Register(const std::u16string& key, int32_t version, int32_t index,
                         std::u16string path = FakeLibrary()) {
        ZrRegKeyPtr k = Key(key);
        ASSERT_NE(k, nullptr);
        k->SetInt(u"IVersion", version);
        k->SetString(u"Path", path.c_str());
        k->SetInt(u"Index", index);
    }
    static void Store(const std::u16string& key, const char16_t* name, const char16_t* text) {
        Key(key)->SetString(name, text);
    }
    static std::string Stored(const std::u16string& key, const char16_t* name) {
        return ZrReadString(Key(key).get(), name, u"<absent>").ToUtf8();
    }
};

// Which key wins: only "IVersion" 5 counts, the host's tree before the machine's. The index
// read from the winning key shows through the fake's estimated bitrate (1000 + index). An
// unusable registration fails quietly.
TEST_F(EncoderPluginTest, LoadsTheRegistrationWithTheCurrentInterfaceVersion) {
    struct Case {
        const char* what;
        int32_t hostVersion;    // 0: no host key
        int32_t machineVersion; // 0: no machine key (index 3)
        std::u16string hostPath;
        int32_t hostIndex;
        const char* bitrate; // "" when Load must fail
    };
    const std::u16string fake = FakeLibrary();
    const Case cases[] = {
        {"host key only", 5, 0, fake, 0, "1000"},
        {"host key wins over machine key", 5, 5, fake, 2, "1002"},
        {"host key of version 4 falls back to the machine key", 4, 5, fake, 0, "1003"},
        {"host key of version 4 and no machine key", 4, 0, fake, 0, ""},
        {"machine key of version 4", 0, 4, fake, 0, ""},
        {"version 6 is not 5 either", 6, 6, fake, 0, ""},
        {"no registration at all", 0, 0, fake, 0, ""},
        {"missing library", 5, 0, u"/nonexistent/libnothing.so", 0, ""},
        {"library without CreateEncoder", 5, 0, u"libc.so.6", 0, ""},
        {"index the factory does not know", 5, 0, fake, 7, ""},
        {"negative index", 5, 0, fake, -1, ""},
        {"empty path", 5, 0, u"", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Clear();
        if (c.hostVersion)
            Register(HostKey, c.hostVersion, c.hostIndex, c.hostPath);
        if (c.machineVersion)
            Register(MachineKey, c.machineVersion, 3);
        CEncoderPlugin plugin(u"Fake File Encoder", u"");
        const bool expected = *c.bitrate != 0;
        EXPECT_EQ(plugin.Load(false), expected);
        EXPECT_EQ(plugin.GetEncoder() != nullptr, expected);
        EXPECT_EQ(plugin.GetProperty(u"Estimated Bitrate").ToUtf8(), c.bitrate);
    }
}

// The settings value a load reads: by client name, and never for the host's own WAV encoder.
TEST_F(EncoderPluginTest, ReadsTheSettingsValueOfItsClient) {
    struct Case {
        const char16_t* name;
        const char16_t* client;
        const char* expected;
    };
    const Case cases[] = {
        {u"Fake File Encoder", u"", "Level=1"},
        {u"Fake File Encoder", u"Vida Zuzuvi", "Level=2"},
        {u"Fake File Encoder", u"Nobody", "Level=5"},      // no value: defaults
        {u"Uncompressed Wave", u"", "Level=5"},            // always its defaults
        {u"uncompressed WAVE", u"", "Level=5"},            // the name in any case
        {u"Uncompressed Wave", u"Vida Zuzuvi", "Level=2"}, // a client's value is read
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ZrString(c.name).ToUtf8() + " / " + ZrString(c.client).ToUtf8());
        Clear();
        const std::u16string key = std::u16string(u"Plugins\\Encoders\\") + c.name;
        Register(key, 5, 0);
        Store(key, u"Settings", u"Level=1");
        Store(key, u"Settings (Vida Zuzuvi)", u"Level=2");
        CEncoderPlugin plugin(c.name, c.client);
        ASSERT_TRUE(plugin.Load(false));
        EXPECT_EQ(plugin.GetProperty(u"Settings").ToUtf8(), c.expected);
    }
}

TEST_F(EncoderPluginTest, SavesToTheClientsValueAndKeepsTheTextForForcedReloads) {
    Register(HostKey, 5, 0);
    Store(HostKey, u"Settings", u"Level=1");
    CEncoderPlugin plugin(u"Fake File Encoder", u"Vida Zuzuvi");
    EXPECT_EQ(plugin.SettingsValueName(), u"Settings (Vida Zuzuvi)");

    plugin.SaveSettings(u"Level=8"); // before any load: stored, nothing else
    EXPECT_EQ(Stored(HostKey, u"Settings (Vida Zuzuvi)"), "Level=8");
    EXPECT_EQ(Stored(HostKey, u"Settings"), "Level=1");

    ASSERT_TRUE(plugin.Load(false));
    plugin.SaveSettings(u"Level=3");
    EXPECT_EQ(plugin.GetProperty(u"Settings").ToUtf8(), "Level=3"); // the encoder took it
    // A load that is not forced keeps the encoder.
    plugin.GetEncoder()->SetProperty(u"Source Filename", u"kept");
    EXPECT_FALSE(plugin.Load(false));
    EXPECT_EQ(plugin.GetProperty(u"Source Filename").ToUtf8(), "kept");
    // A later change of the stored value does not reach a reload: the saved text wins.
    Store(HostKey, u"Settings (Vida Zuzuvi)", u"Level=9");
    ASSERT_TRUE(plugin.Load(true));
    EXPECT_EQ(plugin.GetProperty(u"Source Filename").ToUtf8(), ""); // a new encoder
    EXPECT_EQ(plugin.GetProperty(u"Settings").ToUtf8(), "Level=3");
    EXPECT_EQ(Stored(HostKey, u"Settings"), "Level=1");
}

} // namespace
