// Rules of the tools library that depend on the environment or on small texts: where files
// go and which translation table is read.
#include "tools/ZrToolsPaths.h"
#include "tools/ZrToolsTranslator.h"

#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <unistd.h>

namespace {

std::map<std::string, std::string> g_environment;

const char* FakeGetEnv(const char* name) {
    const auto found = g_environment.find(name);
    return found == g_environment.end() ? nullptr : found->second.c_str();
}

TEST(ToolsPaths, EnvironmentDecidesTheFolders) {
    const std::string desktop = "/home/ann/.config/tessary/settings.ini /etc/tessary/settings.ini "
                                "/home/ann/.local/share/tessary /tmp/tessary-" +
                                std::to_string(::getuid());
    // The environment as words "NAME=value"; the user store, machine store, data and run folders.
    const std::pair<std::string, std::string> cases[] = {
        {"HOME=/home/ann", desktop},
        {"HOME=/home/ann XDG_CONFIG_HOME=/cfg/ XDG_DATA_HOME=/data XDG_RUNTIME_DIR=/run/user/1000 "
         "TESSARY_MACHINE_CONFIG=/opt/etc",
         "/cfg/tessary/settings.ini /opt/etc/settings.ini /data/tessary /run/user/1000/tessary"},
        {"HOME=/home/ann XDG_CONFIG_HOME=cfg XDG_DATA_HOME=data", desktop}, // relative: ignored
        {"HOME=/home/ann TESSARY_HOME=/srv/host/ XDG_CONFIG_HOME=/cfg TESSARY_MACHINE_CONFIG=/opt",
         "/srv/host/config/settings.ini /srv/host/machine/settings.ini /srv/host/data "
         "/srv/host/run"},
    };
    for (const auto& [environment, expected] : cases) {
        g_environment.clear();
        std::istringstream words(environment);
        for (std::string w; words >> w;)
            g_environment[w.substr(0, w.find('='))] = w.substr(w.find('=') + 1);
        const ZrToolsPaths p = ZrToolsPaths::Compute(&FakeGetEnv);
        EXPECT_EQ(p.UserStoreFile + " " + p.MachineStoreFile + " " + p.DataFolder + " " +
                      p.RunFolder,
                  expected)
            << environment;
    }
    g_environment = {{"TESSARY_HOME", "relative/home"}};
    const ZrToolsPaths relative = ZrToolsPaths::Compute(&FakeGetEnv);
    EXPECT_EQ(relative.DataFolder.front(), '/') << "made absolute from the working folder";
    EXPECT_TRUE(relative.LogFile().ends_with("/relative/home/data/logs/zr.log"))
        << relative.LogFile();
}

TEST(ToolsTranslator, LanguageFilesFollowTheLocaleName) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"de_DE.UTF-8", {"de_DE.txt", "de.txt"}},
        {"fr", {"fr.txt"}},
        {"sr_RS@latin", {"sr_RS.txt", "sr.txt"}},
        {"C", {}},
        {"", {}},
        {"../../etc/passwd", {}},
    };
    for (const auto& [locale, expected] : cases)
        EXPECT_EQ(ZrToolsTranslator::LanguageFiles(locale), expected) << locale;
}

TEST(ToolsTranslator, TableLines) {
    const ZrToolsTranslator::Table table =
        ZrToolsTranslator::ParseTable("# comment\tnot a row\n"
                                      "Plain\tSchlicht\r\n"
                                      "Tab\\there\tTab\\tda\n"
                                      "Back\\\\slash\tRück\\\\strich\n"
                                      "\tno source\n"
                                      "no translation\n"
                                      "Twice\tfirst\n"
                                      "Twice\tsecond");
    const ZrToolsTranslator::Table expected{
        {u"Plain", u"Schlicht"},
        {u"Tab\there", u"Tab\tda"},
        {u"Back\\slash", u"Rück\\strich"},
        {u"Twice", u"second"},
    };
    EXPECT_EQ(table, expected);
}

} // namespace
