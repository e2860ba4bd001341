// The dependency installer against the real tools library on a private TESSARY_HOME, with
// packages served from 127.0.0.1 and file://. The package holds a copy of the machine's lame;
// PATH points at an empty folder so that the machine's own programs are not found.
#include "external/DependencyInstaller.h"
#include "frame/ZrHostLibraries.h"
#include "support/LoopbackServer.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <thread>

namespace {

using namespace zrtest;
const char16_t* const LockName = u"Vantor DS Filter Downloading Lock";

std::string Lame() {
    return DependencyInstaller::GetInstalledFilename(DependencyInstaller::Lame).ToUtf8();
}

class InstallerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The tools library reads its environment once per process.
        if (!std::getenv("TESSARY_HOME"))
            ::setenv("TESSARY_HOME", Home().Path().c_str(), 1);
        ::setenv("TESSARY_PROGRAM_DIR", LibDir().c_str(), 1);
        s_lame = DependencyInstaller::FindOnPath(u"lame").ToUtf8();
        ::setenv("PATH", Home().Path().c_str(), 1);
        DependencyInstaller::SetLockTimeout(300);
    }
    static void TearDownTestSuite() { ::setenv("PATH", s_path.c_str(), 1); }
    void SetUp() override {
        if (DependencyInstaller::Lame != 38 || s_lame.empty())
            GTEST_SKIP() << "needs x86-64 and a lame to package";
        ASSERT_NE(GetTools(true), nullptr) << "no libZrTools.so in " << LibDir();
        m_data = ZrTakeSysString(GetTools(true)->GetProductInfo(true)->GetDataFolder()).ToUtf8();
        ASSERT_TRUE(m_data.string().starts_with(fs::temp_directory_path().string()));
        ZrOpenHostKey(u"Dependencies", 1)->DeleteSubKey(u"linux_mp3_encoder64");
        fs::remove_all(m_data / "Plugins");
        SetBase("");
    }
    static const TempDir& Home() {
        static const TempDir home;
        return home;
    }
    static void SetBase(const std::string& base) {
        ZrOpenHostKey(u"Dependencies", 1)->SetString(u"DownloadBase", U(base));
    }
    static std::vector<uint8_t> Package(const std::string& extra = "") {
        std::vector<ZipEntry> entries{{"lame", ReadFile(s_lame), 0100755}};
        if (!extra.empty())
            entries.push_back({extra, {1, 2, 3}});
        return StoredZip(entries);
    }
    static std::string Recorded() {
        return ZrReadString(ZrOpenHostKey(u"Dependencies\\linux_mp3_encoder64", 0).get(),
                            u"linux_mp3_encoder64_v1", u"<none>")
            .ToUtf8();
    }
    std::string Installed() const {
        return (m_data / "Plugins" / "linux_mp3_encoder64" / "lame").string();
    }
    static std::string Log(const LogCapture& log) {
        std::string lines;
        for (const std::string& line : log.Lines())
            lines += line + "\n";
        return lines;
    }

    static inline std::string s_lame, s_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    fs::path m_data;
};

// From either source and either thread (this one is the host's main thread): installed into
// the data folder and recorded; found again without a transfer; installed again once deleted.
TEST_F(InstallerTest, InstallsOnceAndAgainWhenTheProgramIsGone) {
    LoopbackServer server(Package());
    const TempDir served;
    WriteFile(served / "linux_mp3_encoder64_v1.zip", Package());
    const struct {
        std::string base;
        bool otherThread;
        int requests;
    } cases[] = {{server.Url("/deps"), false, 2}, {"file://" + served.Path().string(), true, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.base);
        SetUp();
        SetBase(c.base);
        const int before = server.Requests();
        auto install = [&] {
            std::string path;
            c.otherThread ? std::thread([&] { path = Lame(); }).join() : void(path = Lame());
            return path;
        };
        LogCapture log;
        ASSERT_EQ(install(), Installed());
        EXPECT_EQ(zrtest::Run({Installed(), "--version"}).ExitCode, 0);
        EXPECT_EQ(Recorded() + "/lame", Installed());
        EXPECT_EQ(install(), Installed());
        EXPECT_CONTAINS(zrtest::Run({ZrencProgram(), "--dependencies"}).Output,
                        "lame    " + Installed() + " (downloaded)\n");
        fs::remove(Installed());
        EXPECT_EQ(install(), Installed());
        EXPECT_EQ(zrtest::Run({Installed(), "--version"}).ExitCode, 0);
        EXPECT_EQ(server.Requests() - before, c.requests);
        const std::string lines = Log(log);
        EXPECT_NE(lines.find("Download of package linux_mp3_encoder64 finished\n"),
                  lines.rfind("Download of package linux_mp3_encoder64 finished\n"));
    }
    EXPECT_EQ(server.LastPath(), "/deps/linux_mp3_encoder64_v1.zip");
    // Without a memory target the package lands in the file, whole.
    DependencyDownloadThread download;
    const fs::path file = served / "new" / "package.zip";
    EXPECT_TRUE(download.Download(U(server.Url()), U(file), nullptr, u""));
    EXPECT_EQ(ReadFile(file), Package());
}

// Each failure returns an empty path, records nothing, leaves no program and logs its lines.
TEST_F(InstallerTest, FailuresInstallNothing) {
    LoopbackServer evil(Package("../../evil")), stalled(Package(), true);
    const std::string failed = "GetInstalledFilename: Failed installing dependency 38";
    const struct {
        std::string base;
        bool holdLock;
        std::vector<std::string> log;
    } cases[] = {
        {"", false, {"Install: Downloading package failed", failed}},
        {evil.Url(),
         false,
         {"Install: Unpacking files failed", "Install: Unpacking finished", failed}},
        {stalled.Url(), false, {"Install: Downloading package failed", failed}},
        {evil.Url(),
         true,
         {"GetInstalledFilename: Timed out waiting for a named lock. Checking for dependency 38"}},
    };
    IZrNamedLocks* locks = GetTools(true)->GetNamedLocks();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.log.front());
        SetUp();
        SetBase(c.base);
        LogCapture log;
        ASSERT_TRUE(!c.holdLock || locks->Acquire(LockName, 0, false));
        std::thread canceller([&] {
            while (c.base == stalled.Url() && stalled.Requests() == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (c.base == stalled.Url())
                DependencyDownloadThread::CancelAll();
        });
        EXPECT_EQ(Lame(), "");
        canceller.join();
        if (c.holdLock)
            locks->Release(LockName);
        for (const std::string& line : c.log)
            EXPECT_CONTAINS(Log(log), "DependencyInstaller::" + line + "\n");
        EXPECT_EQ(Recorded(), "<none>");
        EXPECT_FALSE(fs::exists(Installed()));
        EXPECT_FALSE(fs::exists(m_data / "evil"));
    }
    EXPECT_EQ(evil.Requests(), 1);
    SetBase("");
    EXPECT_EQ(DependencyInstaller::MissingReason(DependencyInstaller::Lame),
              u"MP3 Encoder needs the program lame: install the Debian package lame, or set a "
              u"download address");
}

// A program on PATH counts as installed; the Ogg and Musepack numbers give the bare name.
TEST_F(InstallerTest, ProgramsOnPathAndBareNames) {
    LoopbackServer server(Package());
    SetBase(server.Url());
    fs::copy_file(s_lame, Home() / "lame");
    EXPECT_EQ(Lame(), (Home() / "lame").string());
    fs::remove(Home() / "lame");
    EXPECT_EQ(DependencyInstaller::GetInstalledFilename(DependencyInstaller::OggEnc), u"oggenc");
    EXPECT_EQ(DependencyInstaller::GetInstalledFilename(DependencyInstaller::MpcEnc), u"mpcenc");
    EXPECT_EQ(server.Requests(), 0);
}

// Two processes at once: one downloads while the other waits on the lock and finds its record.
TEST_F(InstallerTest, TwoProcessesDownloadOnce) {
    LoopbackServer server(Package(), false, 300);
    SetBase(server.Url());
    const std::vector<std::string> child{fs::read_symlink("/proc/self/exe").string(),
                                         "--gtest_also_run_disabled_tests",
                                         "--gtest_filter=InstallerChild.DISABLED_Install"};
    RunResult results[2];
    std::thread first([&] { results[0] = zrtest::Run(child); });
    results[1] = zrtest::Run(child);
    first.join();
    for (const RunResult& result : results)
        EXPECT_CONTAINS(result.Output, "installed: " + Installed() + "\n");
    EXPECT_EQ(server.Requests(), 1);
}

TEST(InstallerChild, DISABLED_Install) {
    std::printf("installed: %s\n", Lame().c_str());
}

} // namespace
