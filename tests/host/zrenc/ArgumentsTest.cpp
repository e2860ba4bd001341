// The command line: what each form means, and which mistakes are usage errors.
#include "zrenc/Arguments.h"

#include <gtest/gtest.h>
#include <tuple>

// The cases name only the fields that differ from a default Options.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using zrenc::Command;
using zrenc::Options;
using zrenc::ParseArguments;

TEST(ArgumentsTest, ReadsEveryFormOfTheOptionsAndCommands) {
    struct Case {
        std::vector<std::string> args;
        Options expected;
    };
    const Case cases[] = {
        {{"-e", "flac", "a.wav"}, {.encoder = "flac", .inputs = {"a.wav"}}},
        {{"--encoder=6", "a.wav", "b.wav"}, {.encoder = "6", .inputs = {"a.wav", "b.wav"}}},
        {{"-eflac", "-j4", "a.wav"}, {.encoder = "flac", .jobs = 4, .inputs = {"a.wav"}}},
        {{"-fq", "-e", "wav", "a.wav"},
         {.encoder = "wav", .force = true, .quiet = true, .inputs = {"a.wav"}}},
        {{"a.wav", "-e", "FLAC Encoder", "-o", "out.x", "--force"},
         {.encoder = "FLAC Encoder", .output = "out.x", .force = true, .inputs = {"a.wav"}}},
        {{"-e", "ape", "-d", "out dir", "--jobs", "12", "-s", "", "x"},
         {.encoder = "ape",
          .runSettings = "",
          .outputFolder = "out dir",
          .jobs = 12,
          .inputs = {"x"}}},
        // After "--" everything is an input, even what looks like an option.
        {{"-e", "wav", "--", "-f", "--list"}, {.encoder = "wav", .inputs = {"-f", "--list"}}},
        {{"--list"}, {.command = Command::List}},
        {{"--settings=flac", "-p", "x"},
         {.command = Command::ShowSettings, .encoder = "flac", .profile = "x"}},
        {{"--set", "flac", "Quality=8|Verify=1"},
         {.command = Command::SaveSettings,
          .encoder = "flac",
          .settingsText = "Quality=8|Verify=1"}},
        // Help wins over everything, even over mistakes.
        {{"-e", "flac", "-j", "zero", "-h"}, {.command = Command::Help, .encoder = "flac"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const auto result = ParseArguments(c.args);
        ASSERT_EQ(result.error, "");
        auto fields = [](const Options& o) {
            return std::tie(o.command, o.encoder, o.runSettings, o.output, o.outputFolder, o.force,
                            o.jobs, o.quiet, o.profile, o.settingsText, o.inputs);
        };
        EXPECT_EQ(fields(result.options), fields(c.expected));
    }
}

TEST(ArgumentsTest, TagSettingsKeepTheirOrderAndValues) {
    const auto result =
        ParseArguments({"-e", "flac", "--no-tags", "-tA=1", "--tag=B=x=y", "-t", "A=", "a"});
    ASSERT_EQ(result.error, "");
    EXPECT_TRUE(result.options.noTags);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"A", "1"}, {"B", "x=y"}, {"A", ""}};
    EXPECT_EQ(result.options.tags, expected);
}

TEST(ArgumentsTest, NamesEachUsageError) {
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const Case cases[] = {
        {{}, "no encoder"},
        {{"-e", "flac"}, "no input files"},
        {{"-e", "flac", "-o", "x", "a", "b"}, "single input"},
        {{"-e", "flac", "-o", "x", "-d", "y", "a"}, "exclude each other"},
        {{"-e", "flac", "-j", "0", "a"}, "-j wants"},
        {{"-e", "flac", "-j", "257", "a"}, "-j wants"}, // beyond the limit
        {{"-e", "flac", "-x", "a"}, "unknown option -x"},
        {{"-e", "flac", "-"}, "cannot read standard input"},
        {{"-e", "flac", "-t", "=x", "a"}, "-t wants KEY=VALUE"},
        {{"-e", "flac", "--tag", "TITLE", "a"}, "-t wants KEY=VALUE"},
        {{"--list", "--register"}, "choose one"},
        {{"--list", "a.wav"}, "unexpected argument"},
        {{"--settings", "flac", "-f"}, "belong to an encoding run"},
        {{"--set", "flac"}, "needs an encoder and a settings text"},
        {{"-e", "flac", "-o", "", "a"}, "-o needs a file name"},
        {{"-e", "flac", "--debug-corrupt-sample=-1", "a"}, "wants a sample number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        EXPECT_NE(ParseArguments(c.args).error.find(c.says), std::string::npos)
            << ParseArguments(c.args).error;
    }
}

} // namespace
