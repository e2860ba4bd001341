// zrenc --options driven for real in a terminal: tmux runs it, keys are sent to it, and what
// the window stored is read back from the settings store. The drawn dialog is printed so that
// a reader of the test log can see it.
#include "support/TestSupport.h"

#include <chrono>
#include <iostream>
#include <thread>

namespace {

using namespace zrtest;

class TerminalSession {
public:
    // Each session has a server of its own: a server that is still shutting down must never be
    // asked to start the next one.
    TerminalSession(const TempDir& dir, const std::string& command)
        : m_socket((dir / ("tmux-" + std::to_string(++s_sessions) + ".sock")).string()) {
        const RunResult r =
            Run({"tmux", "-S", m_socket, "new-session", "-d", "-x", "100", "-y", "30", command});
        m_started = r.ExitCode == 0;
        if (!m_started)
            ADD_FAILURE() << "tmux could not start: " << r.Output;
    }
    ~TerminalSession() { Run({"tmux", "-S", m_socket, "kill-server"}); }

    // The visible screen without its empty lines at the bottom.
    std::string Screen() const {
        std::string screen = Run({"tmux", "-S", m_socket, "capture-pane", "-p"}).Output;
        while (!screen.empty() && (screen.back() == '\n' || screen.back() == ' '))
            screen.pop_back();
        return screen + "\n";
    }
    void Keys(const std::string& keys) const { Run({"tmux", "-S", m_socket, "send-keys", keys}); }

    // The screen once it shows `text`, or what it shows after the time-out.
    std::string WaitFor(const std::string& text, int seconds = 30) const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        std::string screen;
        while (std::chrono::steady_clock::now() < until) {
            screen = Screen();
            if (screen.find(text) != std::string::npos)
                return screen;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ADD_FAILURE() << "the terminal never showed \"" << text << "\"; it shows:\n" << screen;
        return screen;
    }
    bool Started() const { return m_started; }

private:
    static inline int s_sessions = 0;
    std::string m_socket;
    bool m_started = false;
};

std::string Command(const TempDir& home, const std::string& args) {
    return "env TESSARY_HOME='" + home.Path().string() + "' TESSARY_PROGRAM_DIR='" +
           LibDir().string() + "' '" + ZrencProgram().string() + "' " + args +
           "; echo EXIT=$?; sleep 60";
}

TEST(ZrencOptionsTerminal, OkStoresTheChoiceAndEscapeStoresNothing) {
    if (!HaveProgram("tmux"))
        GTEST_SKIP() << "tmux is not installed";
    TempDir home;
    // The FLAC window closed with Escape still answers true, so zrenc saves its unchanged
    // settings as a host does: the defaults.
    {
        TerminalSession term(home, Command(home, "--options flac"));
        ASSERT_TRUE(term.Started());
        std::cout << "The window as drawn:\n" << term.WaitFor("[ Cancel ]") << std::endl;
        term.Keys("Escape");
        EXPECT_CONTAINS(term.WaitFor("EXIT="), "EXIT=0");
    }
    const std::string before = ReadText(home / "config" / "settings.ini");
    EXPECT_CONTAINS(before, "Settings = \"Quality=6|Verify=0|Ogg=0|AddPB=1|AddST=1\"");
    for (const bool ok : {false, true}) {
        TerminalSession term(home, Command(home, "--options wav"));
        ASSERT_TRUE(term.Started());
        const std::string first = term.WaitFor("[ Cancel ]");
        EXPECT_CONTAINS(first, "[x] Write tags to WAVE/AIFF files");
        term.Keys("Space");
        term.WaitFor("[ ] Write tags");
        if (ok) {
            term.Keys("Tab");
            term.WaitFor("[>OK<]");
            term.Keys("Enter");
        } else
            term.Keys("Escape");
        EXPECT_CONTAINS(term.WaitFor("EXIT="), "EXIT=0");
        const std::string store = ReadText(home / "config" / "settings.ini");
        EXPECT_EQ(
            store.find("[Plugins\\Input\\WAV]\nDoNotWriteTagsToFiles = 1") != std::string::npos, ok)
            << store;
        if (!ok) {
            EXPECT_EQ(store, before);
        }
    }
}

} // namespace
