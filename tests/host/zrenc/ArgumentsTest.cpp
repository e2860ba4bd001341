// The command line: what each form means, and which mistakes are usage errors.
#include "zrenc/Arguments.h"

#include <gtest/gtest.h>

namespace {

using zrenc::Command;
using zrenc::ParseArguments;

TEST(ArgumentsTest, ReadsEveryFormOfTheOptions) {
    struct Case {
        std::vector<std::string> args;
        std::string encoder, output, folder, profile;
        unsigned jobs;
        bool force, quiet;
        std::vector<std::string> inputs;
    };
    const Case cases[] = {
        {{"-e", "flac", "a.wav"}, "flac", "", "", "", 0, false, false, {"a.wav"}},
        {{"--encoder=6", "a.wav", "b.wav"}, "6", "", "", "", 0, false, false, {"a.wav", "b.wav"}},
        {{"-eflac", "-j4", "a.wav"}, "flac", "", "", "", 4, false, false, {"a.wav"}},
        {{"-fq", "-e", "wav", "a.wav"}, "wav", "", "", "", 0, true, true, {"a.wav"}},
        {{"a.wav", "-e", "FLAC Encoder", "-o", "out.x"},
         "FLAC Encoder",
         "out.x",
         "",
         "",
         0,
         false,
         false,
         {"a.wav"}},
        {{"-e", "ape", "-d", "out dir", "--jobs", "12", "x"},
         "ape",
         "",
         "out dir",
         "",
         12,
         false,
         false,
         {"x"}},
        {{"-p", "Vida Zuzuvi", "-e", "wav", "x"},
         "wav",
         "",
         "",
         "Vida Zuzuvi",
         0,
         false,
         false,
         {"x"}},
        // After "--" everything is an input, even what looks like an option.
        {{"-e", "wav", "--", "-f", "--list"}, "wav", "", "", "", 0, false, false, {"-f", "--list"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const auto result = ParseArguments(c.args);
        ASSERT_EQ(result.error, "");
        const auto& o = result.options;
        EXPECT_EQ(o.command, Command::Encode);
        EXPECT_EQ(o.encoder, c.encoder);
        EXPECT_EQ(o.output, c.output);
        EXPECT_EQ(o.outputFolder, c.folder);
        EXPECT_EQ(o.profile, c.profile);
        EXPECT_EQ(o.jobs, c.jobs);
        EXPECT_EQ(o.force, c.force);
        EXPECT_EQ(o.quiet, c.quiet);
        EXPECT_EQ(o.inputs, c.inputs);
    }
}

TEST(ArgumentsTest, RunSettingsMayBeEmptyButAreStillGiven) {
    const auto result = ParseArguments({"-e", "flac", "-s", "", "a.wav"});
    ASSERT_EQ(result.error, "");
    ASSERT_TRUE(result.options.runSettings.has_value());
    EXPECT_EQ(*result.options.runSettings, "");
    EXPECT_FALSE(ParseArguments({"-e", "flac", "a.wav"}).options.runSettings.has_value());
}

TEST(ArgumentsTest, ReadsTheCommands) {
    struct Case {
        std::vector<std::string> args;
        Command command;
        std::string encoder, text;
    };
    const Case cases[] = {
        {{"--list"}, Command::List, "", ""},
        {{"--settings", "flac"}, Command::ShowSettings, "flac", ""},
        {{"--settings=flac", "-p", "x"}, Command::ShowSettings, "flac", ""},
        {{"--set", "flac", "Quality=8|Verify=1"},
         Command::SaveSettings,
         "flac",
         "Quality=8|Verify=1"},
        {{"--register"}, Command::Register, "", ""},
        {{"--unregister"}, Command::Unregister, "", ""},
        {{"-V"}, Command::Version, "", ""},
        {{"--help"}, Command::Help, "", ""},
        // Help wins over everything, even over mistakes.
        {{"-e", "flac", "-j", "zero", "-h"}, Command::Help, "flac", ""},
        {{"--bogus", "--help"}, Command::Help, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const auto result = ParseArguments(c.args);
        ASSERT_EQ(result.error, "");
        EXPECT_EQ(result.options.command, c.command);
        EXPECT_EQ(result.options.encoder, c.encoder);
        EXPECT_EQ(result.options.settingsText, c.text);
    }
}

TEST(ArgumentsTest, NamesEachUsageError) {
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const Case cases[] = {
        {{}, "no encoder"},
        {{"a.wav"}, "no encoder"},
        {{"-e", "flac"}, "no input files"},
        {{"-e"}, "-e needs a value"},
        {{"-e", "flac", "-o", "x", "a", "b"}, "single input"},
        {{"-e", "flac", "-o", "x", "-d", "y", "a"}, "exclude each other"},
        {{"-e", "flac", "-j", "0", "a"}, "-j wants"},
        {{"-e", "flac", "-j", "257", "a"}, "-j wants"}, // beyond the limit
        {{"-e", "flac", "-j", "4x", "a"}, "-j wants"},
        {{"-e", "flac", "-x", "a"}, "unknown option -x"},
        {{"-e", "flac", "--frobnicate", "a"}, "unknown option --frobnicate"},
        {{"--list", "--register"}, "choose one"},
        {{"--list", "a.wav"}, "unexpected argument"},
        {{"--settings", "flac", "-f"}, "belong to an encoding run"},
        {{"--set", "flac"}, "needs an encoder and a settings text"},
        {{"-e", "flac", "-o", "", "a"}, "-o needs a file name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const auto result = ParseArguments(c.args);
        EXPECT_NE(result.error.find(c.says), std::string::npos) << result.error;
    }
}

TEST(ArgumentsTest, UsageShowsEveryOptionAndExamples) {
    const std::string usage = zrenc::UsageText();
    for (const char* option :
         {"-e,", "-s,", "-o,", "-d,", "-f,", "-j,", "-q,", "-p,", "--list", "--settings", "--set",
          "--register", "--unregister", "--help", "--version", "Examples:"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}

} // namespace
