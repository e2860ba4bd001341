// The texts of the terminal display: sizes, times, names that must fit, lines that must not wrap.
#include "zrenc/Display.h"

#include <gtest/gtest.h>

namespace {

TEST(DisplayTest, FormatsBytesAndDurationsAtUnitBoundaries) {
    const std::pair<uint64_t, const char*> sizes[] = {{0, "0 B"},
                                                      {1024, "1.00 KiB"},
                                                      {1048575, "1024 KiB"},
                                                      {1048576, "1.00 MiB"},
                                                      {5000ull << 40, "5000 TiB"}};
    for (const auto& [bytes, expected] : sizes)
        EXPECT_EQ(zrenc::FormatBytes(bytes), expected) << bytes;
    const std::pair<double, const char*> durations[] = {
        {59.6, "1:00"}, {3599.4, "59:59"}, {3723, "1:02:03"}, {-3, "0:00"}};
    for (const auto& [seconds, expected] : durations)
        EXPECT_EQ(zrenc::FormatDuration(seconds), expected) << seconds;
}

TEST(DisplayTest, FitsNamesIntoTheirColumns) {
    struct Case {
        const char* name;
        size_t width;
        bool unicode;
        const char* fitted;
        size_t columns;
    };
    const Case cases[] = {
        {"abcdefghij", 5, false, "ab~ij", 5},
        // Characters, not bytes: a truncated name stays valid UTF-8.
        {"ééééééééééé", 6, true, "éé…ééé", 6},
        // A name must not steer the terminal.
        {"a\x1b[2Jb\n", 20, false, "a?[2Jb?", 7},
        // Wide characters take two columns and are never split.
        {"日本語の歌.flac", 20, true, "日本語の歌.flac", 15},
        {"日本語の歌.flac", 8, false, "日~flac", 7},
        {"\U0001F600 party \U0001F389.wav", 8, true, "\U0001F600 ….wav", 8},
        // A combining accent takes no column and stays with its letter.
        {"cafe\xCC\x81 noir.wav", 13, false, "cafe\xCC\x81 noir.wav", 13},
        {"cafe\xCC\x81 noir.wav", 9, false, "cafe\xCC\x81~.wav", 9},
        // Bytes that are not UTF-8 are shown escaped, never as "?".
        {"bad\xFF\xFEname.wav", 30, false, "bad\\xFF\\xFEname.wav", 19},
        {"bad\xFF\xFEname.wav", 9, false, "bad\\~.wav", 9},
    };
    for (const Case& c : cases) {
        const std::string fitted = zrenc::FitName(c.name, c.width, c.unicode);
        EXPECT_EQ(fitted, c.fitted) << c.name;
        EXPECT_EQ(zrenc::TextWidth(fitted), c.columns) << c.name;
    }
}

TEST(DisplayTest, RowsNeverWrap) {
    for (const char* name :
         {"a rather long file name with spaces and ünïcödé.flac",
          "日本語のとても長いファイル名の歌のタイトル.flac",
          "\U0001F600\U0001F389\U0001F3B5 emoji name.wav", "re\xCC\x81sume\xCC\x81 \xFF\xFE.wav"}) {
        zrenc::ProgressRow row{name, 0.537, 38.2, 125};
        for (size_t width = 10; width <= 160; width += 3) {
            for (bool unicode : {false, true}) {
                const std::string line = zrenc::FormatRow(row, width, unicode);
                EXPECT_LE(zrenc::TextWidth(line), width) << line;
                if (width >= 100) {
                    EXPECT_NE(line.find("53%"), std::string::npos) << line;
                    EXPECT_NE(line.find("38.2x"), std::string::npos) << line;
                    EXPECT_NE(line.find("2:05 left"), std::string::npos) << line;
                }
            }
        }
    }
}

} // namespace
