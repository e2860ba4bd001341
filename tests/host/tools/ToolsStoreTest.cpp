// The settings store through the real library: key objects, values, names, enumeration,
// deletion, odd texts, corrupt files and several writing processes.
#include "ToolsTestSupport.h"
#include "foundation/ZrUtf.h"
#include "tools/ZrStoreFormat.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <gtest/gtest.h>
#include <thread>

using namespace zrtools_test;
using namespace std::string_literals;

namespace {

fs::path HostStoreFile() {
    return Home() / "config" / "settings.ini";
}
fs::path MachineStoreFile() {
    return Home() / "machine" / "settings.ini";
}

struct OddText {
    const char* What;
    std::u16string Text;
};

// Texts that a line-based file could get wrong.
const OddText OddTexts[] = {
    {"empty", u""},
    {"newlines", u"line 1\nline 2\r\nline 3\n"},
    {"quotes", u"\"quoted\" and 'single' \\\" and \\"},
    {"brackets and comment marks", u"[Section] ; not a comment # nor this"},
    {"non-ASCII", u"Grüße, ünïcödé, 日本語, \U0001F600 \U0010FFFF"},
    {"unpaired surrogates", u"\xD800 lone high, lone low \xDC00"},
    {"long", std::u16string(100000, u'L')},
};

TEST(ToolsStore, EveryKindOfValueSurvivesReopenAndNewProcess) {
    const std::pair<std::string, int32_t> ints[] = {{"Min", INT32_MIN}, {"Max", INT32_MAX}};
    std::vector<std::string> probe{"get", "Tests\\Survival"};
    std::string expected;
    {
        Key key = HostKey(u"Tests\\Survival");
        for (const auto& [name, value] : ints) {
            ASSERT_TRUE(key->SetInt(ZrUtf8ToUtf16(name).c_str(), value));
            probe.push_back(name);
            expected += "int " + std::to_string(value) + "\n";
        }
        for (const OddText& c : OddTexts) {
            ASSERT_TRUE(key->SetString(ZrUtf8ToUtf16(c.What).c_str(), c.Text.c_str())) << c.What;
            probe.push_back(c.What);
            expected += "text " + Hex(c.Text) + "\n";
        }
    }
    EXPECT_EQ(Probe(probe, Home()).Output, expected) << "read by another process";
    EXPECT_NE(ReadText(HostStoreFile()).find("Grüße, ünïcödé"), std::string::npos)
        << "non-ASCII text is written as it is, readable by a person";
}

TEST(ToolsStore, NamesAreComparedWithoutRegardToCase) {
    {
        Key key = HostKey(u"Plugins\\Encoders\\FLAC Encoder", 1);
        ASSERT_TRUE(key);
        ASSERT_TRUE(key->SetInt(u"IVersion", 5));
        ASSERT_TRUE(key->SetString(u"Ext", u"flac"));
    }
    Key other = HostKey(u"PLUGINS\\encoders\\flac ENCODER");
    int32_t version = 0;
    EXPECT_TRUE(other->GetInt(u"iversion", &version));
    EXPECT_EQ(version, 5);
    // Writing under another spelling replaces the value and keeps the first spelling.
    ASSERT_TRUE(other->SetString(u"EXT", u"ogg"));
    EXPECT_EQ(Take(other->GetString(u"ext")).Value, u"ogg");
    EXPECT_EQ(ValueNames(other.get()), (std::vector<std::u16string>{u"IVersion", u"Ext"}));
    Key parent = HostKey(u"plugins\\ENCODERS");
    EXPECT_EQ(SubKeys(parent.get()), std::vector<std::u16string>{u"FLAC Encoder"});
    // Beyond ASCII too, the same in every locale.
    ASSERT_TRUE(HostKey(u"Tests\\Ümlaut Ελλάδα")->SetInt(u"Größe", 1));
    EXPECT_TRUE(HostKey(u"tests\\üMLAUT ΕΛΛΆΔΑ")->GetInt(u"gRÖßE", nullptr));
}

TEST(ToolsStore, KindsAreKeptApart) {
    Key key = HostKey(u"Tests\\Kinds");
    ASSERT_TRUE(key->SetString(u"Number as text", u"42"));
    int32_t value = -7;
    EXPECT_FALSE(key->GetInt(u"Number as text", &value));
    EXPECT_EQ(value, -7) << "untouched when the value is not an integer";
    ASSERT_TRUE(key->SetInt(u"Number", 42));
    EXPECT_EQ(Take(key->GetString(u"Number")).Value, u"42");
}

TEST(ToolsStore, DeletingASubtreeTakesEverythingBelowIt) {
    Key root = HostKey(u"Tests\\Delete");
    ASSERT_TRUE(HostKey(u"Tests\\Delete\\Doomed\\Child\\Grandchild")->SetString(u"B", u"b"));
    ASSERT_TRUE(HostKey(u"Tests\\Delete\\Kept\\Inner")->SetInt(u"C", 3));
    ASSERT_TRUE(HostKey(u"Tests\\Delete\\Doomed Too")->SetInt(u"D", 4));
    ASSERT_TRUE(root->SetInt(u"Own value", 5));
    EXPECT_TRUE(root->DeleteSubKey(u"doomed"));
    EXPECT_FALSE(root->DeleteSubKey(u"Doomed")) << "already gone";
    EXPECT_FALSE(root->DeleteSubKey(u"")) << "never the key itself";
    EXPECT_TRUE(root->DeleteSubKey(u"Kept\\Inner")) << "a path below the key";
    EXPECT_EQ(SubKeys(root.get()), (std::vector<std::u16string>{u"Doomed Too", u"Kept"}));
    EXPECT_TRUE(SubKeys(HostKey(u"Tests\\Delete\\Kept").get()).empty());
    EXPECT_TRUE(root->GetInt(u"Own value", nullptr));
    EXPECT_FALSE(
        Take(HostKey(u"Tests\\Delete\\Doomed\\Child\\Grandchild")->GetString(u"B")).Present);
}

// Flag 0 on a missing key gives an object that finds nothing and creates the key only when
// written to; flag 1 and the preparation call create it; subkeys enumerate alphabetically
// without regard to case, values in the order first written.
TEST(ToolsStore, OpeningEnumeratingAndDeletingValues) {
    Key missing = HostKey(u"Tests\\Flags\\Open only");
    ASSERT_TRUE(missing);
    EXPECT_FALSE(missing->GetInt(u"x", nullptr));
    EXPECT_FALSE(Take(missing->EnumValue(0)).Present);
    EXPECT_TRUE(SubKeys(HostKey(u"Tests\\Flags").get()).empty());
    EXPECT_TRUE(HostKey(u"Tests\\Flags\\created", 1));
    HostKey(u"Tests\\Flags\\Prepared")->Prepare();
    ASSERT_TRUE(missing->SetString(u"now", u"here"));
    EXPECT_EQ(SubKeys(HostKey(u"Tests\\Flags").get()),
              (std::vector<std::u16string>{u"created", u"Open only", u"Prepared"}));
    EXPECT_FALSE(Take(HostKey(u"Tests\\Flags").get()->EnumSubKey(UINT32_MAX)).Present);
    // Separators at the ends or doubled name the same key.
    EXPECT_EQ(Take(HostKey(u"\\Tests\\\\Flags\\Open only\\")->GetString(u"now")).Value, u"here");
    for (const char16_t* name : {u"second", u"First", u""})
        ASSERT_TRUE(missing->SetInt(name, 1));
    EXPECT_EQ(ValueNames(missing.get()),
              (std::vector<std::u16string>{u"now", u"second", u"First", u""}));
    EXPECT_TRUE(missing->DeleteValue(u"NOW"));
    EXPECT_FALSE(missing->DeleteValue(u"now"));
}

TEST(ToolsStore, CorruptFileGivesAbsentValuesAndIsKeptBeforeRewrite) {
    // The machine tree: this test may break its file without disturbing the others.
    fs::create_directories(MachineStoreFile().parent_path());
    fs::remove(MachineStoreFile().string() + ".bak");
    const std::string corrupt = "[Corrupt]\n"
                                "Good = 7\n"
                                "Unterminated = \"no end\n"
                                "\x00\xff\xfe garbage\n"
                                "[Broken header\n"
                                "Lost = 2\n"
                                "[Corrupt\\Sub]\n"
                                "Fine = \"yes\"\n"s;
    zrtest::WriteFile(MachineStoreFile(), corrupt.data(), corrupt.size());

    Key key = MachineKey(u"Corrupt");
    int32_t value = 0;
    EXPECT_TRUE(key->GetInt(u"Good", &value) && value == 7);
    for (const char16_t* absent : {u"Unterminated", u"Lost"})
        EXPECT_FALSE(Take(key->GetString(absent)).Present) << ZrUtf16ToUtf8(absent);
    EXPECT_EQ(Take(MachineKey(u"Corrupt\\Sub")->GetString(u"Fine")).Value, u"yes");

    // The first rewrite keeps the old bytes aside; the new file reads without problems.
    ASSERT_TRUE(MachineKey(u"Corrupt")->SetInt(u"Added", 1)); // written when released
    EXPECT_EQ(ReadText(MachineStoreFile().string() + ".bak"), corrupt);
    const ZrStoreParseResult reparsed = ZrParseStore(ReadText(MachineStoreFile()));
    EXPECT_TRUE(reparsed.Problems.empty());
    EXPECT_TRUE(key->GetInt(u"Good", nullptr));
    EXPECT_EQ(Take(MachineKey(u"Corrupt\\Sub")->GetString(u"Fine")).Value, u"yes");
}

TEST(ToolsStore, LongLivedKeySeesWritesOfOtherProcesses) {
    Key key = HostKey(u"Tests\\Other process");
    EXPECT_FALSE(key->GetInt(u"Written elsewhere", nullptr));
    for (int round = 1; round <= 3; ++round) {
        const zrtest::RunResult set = Probe(
            {"set", "Tests\\Other process", "Written elsewhere", "int:" + std::to_string(round)},
            Home());
        ASSERT_EQ(set.Output, "true\n");
        int32_t value = 0;
        EXPECT_TRUE(key->GetInt(u"Written elsewhere", &value));
        EXPECT_EQ(value, round);
    }
}

TEST(ToolsStore, LinkedStoreFileStaysALink) {
    const zrtest::TempDir home;
    fs::create_directories(home / "config");
    fs::create_directories(home / "dotfiles");
    const std::string text = "[Kept]\nOld = 1\n";
    zrtest::WriteFile(home / "dotfiles/settings.ini", text.data(), text.size());
    fs::create_symlink("../dotfiles/settings.ini", home / "config/settings.ini");
    EXPECT_EQ(
        Probe({"set", "Added", "New", "int:2", "--", "get", "Kept", "Old"}, home.Path()).Output,
        "true\nint 1\n");
    EXPECT_TRUE(fs::is_symlink(home / "config/settings.ini"));
    EXPECT_NE(ReadText(home / "dotfiles/settings.ini").find("New = 2"), std::string::npos);
}

TEST(ToolsStore, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int Writes = 100;
    const zrtest::TempDir home;
    const fs::path file = home / "config" / "settings.ini";
    std::atomic<int> running{2};
    zrtest::RunResult results[2];
    std::thread writers[2];
    const std::string prefixes[2] = {"First ", "Second "};
    for (int w = 0; w < 2; ++w)
        writers[w] = std::thread([&, w] {
            results[w] = Probe({"hammer", "Tests\\Concurrent", prefixes[w], std::to_string(Writes)},
                               home.Path());
            --running;
        });
    // Meanwhile the file must parse whole every time it is looked at.
    int looks = 0, problems = 0;
    while (running.load() > 0) {
        std::error_code ignored;
        if (fs::exists(file, ignored)) {
            ++looks;
            if (!ZrParseStore(ReadText(file)).Problems.empty())
                ++problems;
        }
        // Often enough to catch a torn file, rarely enough to leave the writers the CPU.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (std::thread& writer : writers)
        writer.join();
    EXPECT_EQ(results[0].ExitCode, 0) << results[0].Output;
    EXPECT_EQ(results[1].ExitCode, 0) << results[1].Output;
    EXPECT_EQ(problems, 0) << "of " << looks << " looks at the file";

    const ZrStoreParseResult final = ZrParseStore(ReadText(file));
    EXPECT_TRUE(final.Problems.empty());
    const ZrStoreNode* key = final.Root.Find({u"Tests", u"Concurrent"});
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->Values.size(), 2u * Writes);
    int missing = 0;
    for (const std::string& prefix : prefixes)
        for (int i = 0; i < Writes; ++i) {
            const std::string name = prefix + std::to_string(i);
            const ZrStoreValue* value = key->Value(std::u16string(name.begin(), name.end()));
            if (!value || !value->IsInteger || value->Integer != i)
                ++missing;
        }
    EXPECT_EQ(missing, 0);
}

} // namespace
