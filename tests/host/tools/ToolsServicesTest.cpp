// The other services of the real library: entry point, product information, translator and
// log, including environments that make them fail.
#include "ToolsTestSupport.h"
#include "foundation/ZrString.h"
#include "foundation/ZrUtf.h"

#include <climits>
#include <cstdio>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace zrtools_test;

namespace {

struct LogLine {
    std::string ThreadId, Category, Rest;
};

// "2026-12-05 23:10:01.123 [tid 1234] [512] Scope: text" (std::regex trips GCC's warnings
// under the sanitizers, so the shape is checked by hand).
bool ParseLogLine(const std::string& line, LogLine* parsed = nullptr) {
    unsigned date[7], tid = 0, category = 0;
    int end = -1;
    if (std::sscanf(line.c_str(), "%4u-%2u-%2u %2u:%2u:%2u.%3u [tid %u] [%u] %n", &date[0],
                    &date[1], &date[2], &date[3], &date[4], &date[5], &date[6], &tid, &category,
                    &end) != 9 ||
        end < 0 || line.compare(19, 1, ".") != 0 || line.compare(23, 6, " [tid ") != 0)
        return false;
    if (parsed)
        *parsed = {std::to_string(tid), std::to_string(category), line.substr(end)};
    return true;
}

TEST(ToolsEntry, ServesOnlyItsVersionAndOneObject) {
    auto* library = ::dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr);
    auto entry = reinterpret_cast<ZrGetToolsFn>(::dlsym(library, "GetZrToolsDLL"));
    ASSERT_NE(entry, nullptr);
    for (int32_t other : {0, 200047, 200049, INT32_MIN})
        EXPECT_EQ(entry(other), nullptr) << other;
    EXPECT_EQ(entry(ZrToolsVersion), Tools());
    // Unbalanced calls are harmless.
    Tools()->Uninitialize(nullptr);
    EXPECT_NE(Tools()->GetLogger(0), nullptr) << "still serving";
    EXPECT_EQ(::dlsym(library, "_ZN14ZrToolsService8InstanceEv"), nullptr) << "only the entry";
    ::dlclose(library);
}

TEST(ToolsProductInfo, LoadCreatesTheDataFolderAndDownloadAddressesComeFromTheStore) {
    const zrtest::TempDir home;
    const zrtest::RunResult run = Probe({"load"}, home.Path());
    EXPECT_EQ(run.Output,
              "before: null\nok " + Hex(ZrUtf8ToUtf16((home.Path() / "data").string())) + "\n")
        << "made only when asked with create";
    EXPECT_TRUE(fs::is_directory(home.Path() / "data"));

    IZrProductInfo* info = Tools()->GetProductInfo(true);
    ASSERT_NE(info, nullptr);
    EXPECT_FALSE(Take(info->GetDownloadAddress(u"mp3_encoder", u"2", u".zip")).Present)
        << "no base address by default";
    ASSERT_TRUE(HostKey(u"Dependencies")->SetString(u"DownloadBase", u"https://example.org/d/"));
    EXPECT_EQ(Take(info->GetDownloadAddress(u"odd name/ü", u"1.0", u"tar.xz")).Value,
              u"https://example.org/d/odd%20name%2F%C3%BC_v1.0.tar.xz");
    EXPECT_FALSE(Take(info->GetDownloadAddress(nullptr, u"2", u".zip")).Present);
    ASSERT_TRUE(HostKey(u"Dependencies")->DeleteValue(u"DownloadBase"));
}

TEST(ToolsTranslator, TranslatesListedTextsAndLeavesOthers) {
    IZrTranslator* translator = Tools()->GetTranslator(1);
    ASSERT_NE(translator, nullptr);
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"Adding required components...", u"Fehlende Komponenten werden installiert..."},
        {u"Line one\nLine two", u"Zeile eins\nZeile zwei"},
        {u"critical error", u"critical error"}, // exact texts only
        {u"", u""},
    };
    for (const auto& [source, expected] : cases) {
        ZrString text(source);
        const ZrString shared = text; // the translation must not change other copies
        translator->Translate(text);
        EXPECT_EQ(text, expected) << ZrUtf16ToUtf8(source);
        EXPECT_EQ(shared, source);
    }
}

// Several threads at once: every line whole, with its thread, category, scope and text; a
// multi-line text continues on indented lines.
TEST(ToolsLogger, WritesWholeTimedLinesFromSeveralThreads) {
    constexpr int Threads = 4, LinesEach = 300;
    IZrLogger* logger = Tools()->GetLogger(0);
    ASSERT_TRUE(logger->IsEnabled(ZrLogCategoryEncoder));
    std::vector<std::thread> threads;
    std::vector<std::string> ids(Threads);
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back([&, t] {
            ids[t] = std::to_string(::gettid());
            const std::u16string scope = u"Thread " + std::u16string(1, char16_t(u'0' + t));
            const std::u16string text(200, char16_t(u'a' + t));
            for (int i = 0; i < LinesEach; ++i)
                logger->Write(512, scope.c_str(), text.c_str());
        });
    for (std::thread& thread : threads)
        thread.join();
    logger->Write(7, u"Üñï", u"first\r\nsecond\nthird\n");
    const std::vector<std::string> lines = Lines(ReadText(Home() / "data/logs/zr.log"));
    ASSERT_GE(lines.size(), 3u);
    int counts[Threads] = {};
    for (const std::string& text : lines) {
        LogLine line;
        if (text.starts_with('\t'))
            continue; // a multi-line entry goes on
        ASSERT_TRUE(ParseLogLine(text, &line)) << text;
        if (line.Rest.starts_with("Thread ")) {
            const int t = line.Rest[7] - '0';
            ASSERT_TRUE(t >= 0 && t < Threads) << text;
            EXPECT_EQ(line.ThreadId, ids[t]);
            EXPECT_EQ(line.Category, "512");
            EXPECT_EQ(line.Rest,
                      "Thread " + std::to_string(t) + ": " + std::string(200, char('a' + t)));
            ++counts[t];
        }
    }
    for (int t = 0; t < Threads; ++t)
        EXPECT_EQ(counts[t], LinesEach) << t;
    LogLine last;
    ASSERT_TRUE(ParseLogLine(lines[lines.size() - 3], &last)) << lines[lines.size() - 3];
    EXPECT_EQ(last.ThreadId, std::to_string(::gettid()));
    EXPECT_EQ(last.Category, "7");
    EXPECT_EQ(last.Rest, "Üñï: first");
    EXPECT_EQ(lines.back(), "\tthird");
}

TEST(ToolsLogger, EnvironmentChoosesWhereLinesGo) {
    const std::tuple<const char*, bool, bool> cases[] = {
        {"TESSARY_LOG=stderr", true, false},
        {"TESSARY_LOG=file", false, true},
        {"TESSARY_LOG=off", false, false},
    };
    for (const auto& [setting, toStderr, toFile] : cases) {
        SCOPED_TRACE(setting);
        const zrtest::TempDir home;
        const zrtest::RunResult run =
            Probe({"log", "512", "Scope", "Start"}, home.Path(), {setting});
        ASSERT_EQ(run.ExitCode, 0) << run.Output;
        const std::vector<std::string> lines = Lines(run.Output);
        ASSERT_EQ(lines.size(), toStderr ? 2u : 1u) << run.Output;
        EXPECT_EQ(lines[0], toStderr || toFile ? "enabled" : "disabled");
        LogLine line;
        EXPECT_TRUE(!toStderr || (ParseLogLine(lines[1], &line) && line.Rest == "Scope: Start"));
        const std::string file = ReadText(home.Path() / "data/logs/zr.log");
        EXPECT_EQ(file.find("Scope: Start") != std::string::npos, toFile);
    }
}

TEST(ToolsLogger, RotatesAtEightMebibytes) {
    const zrtest::TempDir home;
    // 8000 characters of text plus about 60 of prefix: 1100 lines pass 8 MiB once.
    const zrtest::RunResult run = Probe({"logmany", "1100", "8000"}, home.Path());
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    const fs::path logs = home.Path() / "data" / "logs";
    ASSERT_TRUE(fs::exists(logs / "zr.log.1"));
    EXPECT_GE(fs::file_size(logs / "zr.log.1"), 8u << 20);
    EXPECT_LT(fs::file_size(logs / "zr.log.1"), (8u << 20) + 8100) << "at most a line more";
    EXPECT_GT(fs::file_size(logs / "zr.log"), 0u);
    EXPECT_LT(fs::file_size(logs / "zr.log"), 2u << 20);
    for (const char* name : {"zr.log.1", "zr.log"})
        for (const std::string& line : Lines(ReadText(logs / name)))
            ASSERT_TRUE(ParseLogLine(line)) << name << ": " << line.substr(0, 80);
}

// Homes where nothing can be written; root can write anywhere else, so a file stands in for
// a folder.
TEST(ToolsFailures, UnwritableHomeGivesReasonsAndNoCrash) {
    const zrtest::TempDir scratch;
    const fs::path fileHome = scratch / "a file";
    zrtest::WriteFile(fileHome, "x", 1);
    std::vector<fs::path> homes{fileHome, fileHome / "below"};
    if (::geteuid() != 0) {
        homes.push_back(scratch / "read-only");
        fs::create_directory(homes.back());
        ::chmod(homes.back().c_str(), 0500);
    }
    for (const fs::path& home : homes) {
        SCOPED_TRACE(home);
        const std::vector<std::string> lines = Lines(Probe({"load"}, home).Output);
        ASSERT_EQ(lines.size(), 2u);
        ASSERT_TRUE(lines[1].starts_with("fail ")) << lines[1];
        const std::string reason = ZrUtf16ToUtf8(FromHex(lines[1].substr(5)));
        EXPECT_TRUE(reason.starts_with("Cannot create the data folder \"" +
                                       (home / "data").string() + "\": "))
            << reason;
        // Writes fail, reads find nothing, and without a log file
        // nothing is logged.
        const zrtest::RunResult rest =
            Probe({"set", "Plugins\\X", "Value", "int:1", "--", "get", "Plugins\\X", "Value", "--",
                   "log", "512", "Scope", "text"},
                  home);
        EXPECT_EQ(rest.ExitCode, 0) << rest.Output;
        EXPECT_EQ(rest.Output, "false\nabsent\ndisabled\n");
    }
}

TEST(ToolsFailures, UnreadableStoreIsNeverReplaced) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    const zrtest::TempDir home;
    fs::create_directories(home / "config");
    const std::string text = "[Plugins\\X]\nValue = 1\n";
    zrtest::WriteFile(home / "config/settings.ini", text.data(), text.size());
    ::chmod((home / "config/settings.ini").c_str(), 0);
    EXPECT_EQ(Probe({"get", "Plugins\\X", "Value"}, home.Path()).Output, "absent\n");
    EXPECT_EQ(Probe({"set", "Plugins\\X", "Other", "int:2"}, home.Path()).Output, "false\n");
    ::chmod((home / "config/settings.ini").c_str(), 0600);
    EXPECT_EQ(ReadText(home / "config/settings.ini"), text);
}

} // namespace
