// Output names, temporary names and the final rename with companion files.
#include "zrenc/OutputFiles.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using zrtest::TempDir;

TEST(OutputFilesTest, NamesTheOutputAfterTheInput) {
    struct Case {
        std::string input, folder, extension, expected;
    };
    const Case cases[] = {
        {"/music/song.wav", "/out", "flac", "/out/song.flac"},
        {"song.wav", "", "flac", "song.flac"},             // beside, relative
        {"/m/live.2019.wav", "", "wv", "/m/live.2019.wv"}, // only the last dot
        {"/m/.hidden", "", "ape", "/m/.hidden.ape"},       // a dot file has no extension
        {"/m/a b 'c' $d;é.aif", "o", "m4a", "o/a b 'c' $d;é.m4a"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(zrenc::OutputFor(c.input, c.folder, c.extension), c.expected) << c.input;
}

// A WavPack-style correction file follows the temporary name and is renamed with it; another
// job's temporary files beside it are left alone.
TEST(OutputFilesTest, CommitsCompanionsFirstAndOnlyItsOwnFiles) {
    for (const std::string finalName : {"song.wv", "song"}) {
        SCOPED_TRACE(finalName);
        TempDir dir;
        const std::string final = (dir.Path() / finalName).string();
        const std::string temp = zrenc::TemporaryNameFor(final);
        const std::string other = zrenc::TemporaryNameFor(final);
        ASSERT_NE(temp, other);
        // Hidden, beside the output, with its extension (an encoder may go by it).
        EXPECT_EQ(fs::path(temp).parent_path(), dir.Path());
        EXPECT_TRUE(temp.ends_with(fs::path(final).extension().string())) << temp;
        EXPECT_TRUE(fs::path(temp).filename().string().starts_with(".song.zrenc-")) << temp;
        zrtest::WriteFile(temp, "main", 4);
        zrtest::WriteFile(
            temp.substr(0, temp.size() - fs::path(final).extension().string().size()) + ".wvc",
            "corr", 4);
        zrtest::WriteFile(other, "else", 4);

        const auto files = zrenc::PendingFilesOf(temp, final);
        ASSERT_EQ(files.size(), 2u);
        EXPECT_EQ(files.back().from, temp); // the main output comes last
        EXPECT_EQ(files.back().to, final);
        EXPECT_EQ(files.front().to, (dir.Path() / "song.wvc").string());

        std::string error;
        ASSERT_TRUE(zrenc::CommitFiles(files, false, error)) << error;
        EXPECT_EQ(zrtest::ReadFile(final), std::vector<uint8_t>({'m', 'a', 'i', 'n'}));
        EXPECT_TRUE(fs::exists(dir.Path() / "song.wvc"));
        EXPECT_TRUE(fs::exists(other));
        zrenc::RemovePending(other, final);
        EXPECT_FALSE(fs::exists(other));
        EXPECT_TRUE(fs::exists(final));
    }
}

TEST(OutputFilesTest, RefusesAnExistingOutputUnlessReplacingAndMovesCompanionsBack) {
    TempDir dir;
    const std::string final = (dir.Path() / "song.wv").string();
    zrtest::WriteFile(final, "old", 3);
    const std::string temp = zrenc::TemporaryNameFor(final);
    const std::string companion = temp.substr(0, temp.size() - 3) + ".wvc";
    zrtest::WriteFile(temp, "new", 3);
    zrtest::WriteFile(companion, "cor", 3);

    std::string error;
    EXPECT_FALSE(zrenc::CommitFiles(zrenc::PendingFilesOf(temp, final), false, error));
    EXPECT_NE(error.find("exists"), std::string::npos) << error;
    EXPECT_EQ(zrtest::ReadFile(final), std::vector<uint8_t>({'o', 'l', 'd'}));
    EXPECT_FALSE(fs::exists(dir.Path() / "song.wvc")); // moved back
    EXPECT_TRUE(fs::exists(companion));

    EXPECT_TRUE(zrenc::CommitFiles(zrenc::PendingFilesOf(temp, final), true, error)) << error;
    EXPECT_EQ(zrtest::ReadFile(final), std::vector<uint8_t>({'n', 'e', 'w'}));
    EXPECT_TRUE(fs::exists(dir.Path() / "song.wvc"));
    EXPECT_FALSE(fs::exists(temp));
}

} // namespace
