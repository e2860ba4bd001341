// The dependency installer against the real tools library on a private TESSARY_HOME, with
// packages served by a loopback HTTP server of the test's own and through file:// addresses.
// The package holds a copy of the machine's lame; PATH points at an empty folder so that the
// machine's own programs are not found.
#include "external/DependencyInstaller.h"
#include "frame/ZrHostLibraries.h"
#include "support/TestSupport.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using zrtest::TempDir;

const char16_t* const Key = u"Dependencies\\linux_mp3_encoder64";
const char16_t* const Value = u"linux_mp3_encoder64_v1";
const char* const PackageFile = "linux_mp3_encoder64_v1.zip";

// Serves one body to every GET on 127.0.0.1 and counts the requests. A stalling server sends
// the headers and a little of the body, then nothing until it is destroyed.
class LoopbackServer {
public:
    LoopbackServer(std::vector<uint8_t> body, bool stall = false, int delayMs = 0)
        : m_body(std::move(body)), m_stall(stall), m_delayMs(delayMs) {
        m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_socket, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_socket, 8) != 0 ||
            ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            ADD_FAILURE() << "cannot listen on 127.0.0.1";
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~LoopbackServer() {
        m_stop = true;
        m_thread.join();
        ::close(m_socket);
    }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/deps"; }
    int Requests() const { return m_requests; }
    std::string LastPath() const { return m_requests ? m_path : ""; }

private:
    bool Ready(int fd) const {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 20) > 0 && !m_stop;
    }
    void Serve() {
        while (!m_stop) {
            if (!Ready(m_socket))
                continue;
            const int client = ::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC);
            std::string request;
            char buffer[1024];
            while (client >= 0 && request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                request.append(buffer, size_t(n));
            }
            m_path = request.substr(4, request.find(' ', 4) - 4);
            ++m_requests;
            std::this_thread::sleep_for(std::chrono::milliseconds(m_delayMs));
            const std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " +
                                     std::to_string(m_body.size() * (m_stall ? 2 : 1)) + "\r\n\r\n";
            ::send(client, head.data(), head.size(), MSG_NOSIGNAL);
            ::send(client, m_body.data(), m_stall ? 100 : m_body.size(), MSG_NOSIGNAL);
            while (m_stall && !m_stop)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ::close(client);
        }
    }

    std::vector<uint8_t> m_body;
    bool m_stall;
    int m_delayMs;
    int m_socket = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_requests{0};
    std::string m_path;
    std::thread m_thread;
};

class InstallerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The tools library reads its environment once per process.
        if (!std::getenv("TESSARY_HOME"))
            ::setenv("TESSARY_HOME", Home().Path().c_str(), 1);
        ::setenv("TESSARY_PROGRAM_DIR", zrtest::LibDir().c_str(), 1);
        s_lame = DependencyInstaller::FindOnPath(u"lame").ToUtf8();
        ::setenv("PATH", Home().Path().c_str(), 1);
        DependencyInstaller::SetLockTimeout(300);
    }
    static void TearDownTestSuite() { ::setenv("PATH", s_path.c_str(), 1); }
    static inline std::string s_lame, s_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    void SetUp() override {
        if (DependencyInstaller::Lame != 38 || s_lame.empty())
            GTEST_SKIP() << "needs x86-64 and a lame to package";
        ASSERT_NE(GetTools(true), nullptr) << "libZrTools.so in " << zrtest::LibDir();
        m_data = fs::path(
            ZrTakeSysString(GetTools(true)->GetProductInfo(true)->GetDataFolder()).ToUtf8());
        ASSERT_TRUE(fs::path(m_data).string().starts_with(fs::temp_directory_path().string()));
        ZrOpenHostKey(u"Dependencies", 1)->DeleteSubKey(u"linux_mp3_encoder64");
        SetBase("");
        fs::remove_all(m_data / "Plugins");
    }
    static const TempDir& Home() {
        static const TempDir home;
        return home;
    }
    static void SetBase(const std::string& base) {
        ZrOpenHostKey(u"Dependencies", 1)->SetString(u"DownloadBase", zrtest::U(base));
    }
    // A stored zip of a working lame (mode 0755) and of `extra` entries (mode 0644).
    static std::vector<uint8_t> Package(const std::vector<std::string>& extra = {}) {
        std::vector<std::pair<std::string, std::vector<uint8_t>>> entries{
            {"lame", zrtest::ReadFile(s_lame)}};
        for (const std::string& name : extra)
            entries.push_back({name, std::vector<uint8_t>(name.begin(), name.end())});
        std::vector<uint8_t> zip, directory;
        using zrtest::PutLe;
        auto header = [](std::vector<uint8_t>& out, uint32_t signature, bool central,
                         const std::string& name, const std::vector<uint8_t>& data, size_t at) {
            PutLe(out, signature, 4);
            if (central)
                PutLe(out, 0x0314, 2); // made on Unix: the mode is in the external attributes
            PutLe(out, 20, 2);
            PutLe(out, 0, 8); // flags, stored, time, date
            PutLe(out, Crc32(data), 4);
            PutLe(out, data.size(), 4);
            PutLe(out, data.size(), 4);
            PutLe(out, name.size(), 2);
            PutLe(out, 0, 2);
            if (central) {
                PutLe(out, 0, 6); // comment length, disk, internal attributes
                PutLe(out, uint64_t(name == "lame" ? 0100755 : 0100644) << 16, 4);
                PutLe(out, at, 4);
            }
            out.insert(out.end(), name.begin(), name.end());
        };
        for (const auto& [name, data] : entries) {
            header(directory, 0x02014b50, true, name, data, zip.size());
            header(zip, 0x04034b50, false, name, data, 0);
            zip.insert(zip.end(), data.begin(), data.end());
        }
        const size_t at = zip.size();
        zip.insert(zip.end(), directory.begin(), directory.end());
        PutLe(zip, 0x06054b50, 4);
        PutLe(zip, 0, 4);
        PutLe(zip, entries.size() * 0x10001, 4);
        PutLe(zip, directory.size(), 4);
        PutLe(zip, at, 4);
        PutLe(zip, 0, 2);
        return zip;
    }
    static uint32_t Crc32(const std::vector<uint8_t>& data) {
        uint32_t crc = 0xFFFFFFFF;
        for (const uint8_t byte : data) {
            crc ^= byte;
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
        }
        return ~crc;
    }
    static std::string Recorded() {
        return ZrReadString(ZrOpenHostKey(Key, 0).get(), Value, u"<none>").ToUtf8();
    }
    fs::path Installed() const { return m_data / "Plugins" / "linux_mp3_encoder64" / "lame"; }

    fs::path m_data;
};

// Each source installs the package into the data folder, from this thread (the host's main
// thread) or another; a second call finds it without a transfer, a deleted program is installed
// again.
TEST_F(InstallerTest, InstallsOnceAndAgainWhenTheProgramIsGone) {
    LoopbackServer server(Package());
    const fs::path served = m_data / "served";
    fs::create_directories(served);
    zrtest::WriteFile(served / PackageFile, Package());
    const struct {
        const char* what;
        std::string base;
        bool otherThread;
    } cases[] = {
        {"http", server.Base(), false},
        {"file", "file://" + served.string(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        SetBase(c.base);
        const int before = server.Requests();
        auto install = [&] {
            std::string path;
            auto call = [&] {
                path =
                    DependencyInstaller::GetInstalledFilename(DependencyInstaller::Lame).ToUtf8();
            };
            c.otherThread ? std::thread(call).join() : call();
            return path;
        };
        zrtest::LogCapture log;
        ASSERT_EQ(install(), Installed().string());
        EXPECT_EQ(zrtest::Run({Installed().string(), "--version"}).ExitCode, 0);
        EXPECT_EQ(Recorded(), Installed().parent_path().string());
        EXPECT_EQ(install(), Installed().string());
        fs::remove(Installed());
        EXPECT_EQ(install(), Installed().string());
        EXPECT_EQ(zrtest::Run({Installed().string(), "--version"}).ExitCode, 0);
        const int transfers = c.base.starts_with("http") ? 2 : 0;
        EXPECT_EQ(server.Requests() - before, transfers);
        const auto lines = log.Lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(),
                             "DependencyInstaller::Install: Download of package "
                             "linux_mp3_encoder64 finished"),
                  2);
    }
    EXPECT_EQ(server.LastPath(), std::string("/deps/") + PackageFile);
}

// Each failure returns an empty path, records nothing, leaves no program and logs its lines.
TEST_F(InstallerTest, FailuresInstallNothing) {
    LoopbackServer evil(Package({"../../evil"})), stalled(Package(), true);
    const struct {
        const char* what;
        std::string base;
        bool holdLock;
        std::vector<std::string> log;
    } cases[] = {
        {"no download address", "", false, {"Install: Downloading package failed"}},
        {"an entry escaping the folder",
         evil.Base(),
         false,
         {"Install: Unpacking files failed", "Install: Unpacking finished"}},
        {"cancelled download", stalled.Base(), false, {"Install: Downloading package failed"}},
        {"lock held elsewhere",
         evil.Base(),
         true,
         {"GetInstalledFilename: Timed out waiting for a named lock. Checking for dependency 38"}},
    };
    IZrNamedLocks* locks = GetTools(true)->GetNamedLocks();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        SetBase(c.base);
        zrtest::LogCapture log;
        if (c.holdLock) {
            ASSERT_TRUE(locks->Acquire(u"Vantor DS Filter Downloading Lock", 0, false));
        }
        std::thread canceller;
        if (c.base == stalled.Base())
            canceller = std::thread([&] {
                while (stalled.Requests() == 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                DependencyDownloadThread::CancelAll();
            });
        EXPECT_EQ(DependencyInstaller::GetInstalledFilename(DependencyInstaller::Lame), u"");
        if (canceller.joinable())
            canceller.join();
        if (c.holdLock)
            locks->Release(u"Vantor DS Filter Downloading Lock");
        std::vector<std::string> expected = c.log;
        if (!c.holdLock)
            expected.push_back("GetInstalledFilename: Failed installing dependency 38");
        std::string lines;
        for (const std::string& line : log.Lines())
            lines += line + "\n";
        for (const std::string& line : expected)
            EXPECT_CONTAINS(lines, "DependencyInstaller::" + line + "\n");
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
    SetBase(server.Base());
    const fs::path lame = Home().Path() / "lame";
    fs::copy_file(s_lame, lame);
    EXPECT_EQ(DependencyInstaller::GetInstalledFilename(DependencyInstaller::Lame),
              zrtest::U(lame));
    fs::remove(lame);
    EXPECT_EQ(DependencyInstaller::GetInstalledFilename(DependencyInstaller::OggEnc), u"oggenc");
    EXPECT_EQ(DependencyInstaller::GetInstalledFilename(DependencyInstaller::MpcEnc), u"mpcenc");
    EXPECT_EQ(server.Requests(), 0);
}

// Two processes at once: one downloads while the other waits on the lock and finds its record.
TEST_F(InstallerTest, TwoProcessesDownloadOnce) {
    LoopbackServer server(Package(), false, 300);
    SetBase(server.Base());
    const std::vector<std::string> child{fs::read_symlink("/proc/self/exe").string(),
                                         "--gtest_also_run_disabled_tests",
                                         "--gtest_filter=InstallerChild.DISABLED_Install"};
    zrtest::RunResult results[2];
    std::thread first([&] { results[0] = zrtest::Run(child); });
    results[1] = zrtest::Run(child);
    first.join();
    for (const auto& result : results)
        EXPECT_CONTAINS(result.Output, "installed: " + Installed().string() + "\n");
    EXPECT_EQ(server.Requests(), 1);
}

TEST(InstallerChild, DISABLED_Install) {
    std::printf(
        "installed: %s\n",
        DependencyInstaller::GetInstalledFilename(DependencyInstaller::Lame).ToUtf8().c_str());
}

} // namespace
