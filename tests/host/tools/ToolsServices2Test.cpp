// The services of the real library that the external-program encoders and the dependency
// installer use: string search, main-thread messages, named locks, archive unpacker, file loader.
#include "ToolsTestSupport.h"
#include "foundation/ZrThread.h"
#include "foundation/ZrUtf.h"
#include "support/LoopbackServer.h"

#include <archive.h>
#include <archive_entry.h>
#include <chrono>
#include <cstring>
#include <future>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace zrtools_test;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(ToolsStrings, FindAndReplaceIgnoreCaseBeyondAscii) {
    IZrStringService* strings = Tools()->GetStringService();
    ASSERT_NE(strings, nullptr);
    struct FindCase {
        const char16_t* Text;
        const char16_t* What;
        int32_t Start, Expected;
    };
    const FindCase finds[] = {
        {u"C:\\Bin\\GOGO.EXE -b", u"gogo.exe", 0, 7},
        {u"ärger ÄRGER", u"äRGER", 1, 6},
        {u"STRASSE Straße", u"STRAßE", 0, 8},
        {u"5 \u212A", u"k", 0, 2}, // the Kelvin sign
        {u"x\U00010400y", u"\U00010428Y", 0, 1},
        {u"😀a😀A", u"😀a", 1, 3},
        {u"aaa", u"aa", 1, 1},
        {u"abc", u"", 0, -1},
        {u"abc", u"c", 4, -1},
        {u"abc", u"c", -1, -1},
        {u"", u"x", 0, -1},
    };
    for (const FindCase& c : finds)
        EXPECT_EQ(strings->Find(c.Text, c.What, c.Start), c.Expected) << Hex(c.Text);
    struct ReplaceCase {
        const char16_t *Text, *What, *With, *Expected;
    };
    const ReplaceCase replaces[] = {
        {u"lame.exe --preset LAME.EXE", u"Lame.Exe", u"lame", u"lame --preset lame"},
        {u"aaa", u"aa", u"b", u"ba"},
        {u"abc", u"", u"x", u"abc"},
        {u"Ünïcödé ÜNÏCÖDÉ", u"üNÏcöDÉ", u"-", u"- -"},
        {u"😀A😀a", u"😀a", u"", u""},
    };
    for (const ReplaceCase& c : replaces)
        EXPECT_EQ(Take(strings->ReplaceAll(c.Text, c.What, c.With)).Value, c.Expected)
            << Hex(c.Text);
}

struct Recorder : IMainThreadMessageManagerCallback {
    std::vector<std::pair<uint32_t, uintptr_t>> Got;
    bool OnMainThread = true;
    std::thread::id Pumper = std::this_thread::get_id();
    bool OnMainThreadMessage(uint32_t message, uintptr_t wParam, intptr_t) override {
        Got.emplace_back(message, wParam);
        OnMainThread = OnMainThread && std::this_thread::get_id() == Pumper;
        return true;
    }
};

bool Readable(int fd) {
    pollfd ready{fd, POLLIN, 0};
    return ::poll(&ready, 1, 0) == 1;
}

TEST(ToolsMainThreadMessages, DeliverInOrderOnThePumpingThreadAndForget) {
    IZrMainThreadMessages* messages = Tools()->GetMainThreadMessages();
    ASSERT_NE(messages, nullptr);
    messages->Pump();
    EXPECT_TRUE(messages->IsMainThread());
    std::thread([&] { EXPECT_FALSE(messages->IsMainThread()); }).join();

    Recorder target;
    constexpr uint32_t Threads = 4, Each = 250;
    std::vector<std::thread> posters;
    for (uint32_t t = 0; t < Threads; ++t)
        posters.emplace_back([&, t] {
            for (uintptr_t i = 0; i < Each; ++i)
                EXPECT_TRUE(messages->Post(&target, t, i, 0));
        });
    const Clock::time_point start = Clock::now();
    while (target.Got.size() < Threads * Each && MsSince(start) < 10000) {
        pollfd wake{messages->GetWakeDescriptor(), POLLIN, 0};
        ::poll(&wake, 1, 100);
        messages->Pump();
    }
    for (std::thread& t : posters)
        t.join();
    ASSERT_EQ(target.Got.size(), Threads * Each);
    EXPECT_TRUE(target.OnMainThread);
    std::vector<uintptr_t> next(Threads);
    for (const auto& [thread, sequence] : target.Got)
        EXPECT_EQ(sequence, next[thread]++) << "thread " << thread;
    EXPECT_FALSE(Readable(messages->GetWakeDescriptor()));

    Recorder kept, forgotten;
    messages->Post(&forgotten, 1, 1, 0);
    messages->Post(&kept, 2, 2, 0);
    messages->Post(&forgotten, 3, 3, 0);
    EXPECT_TRUE(Readable(messages->GetWakeDescriptor()));
    messages->Forget(&forgotten);
    EXPECT_EQ(messages->Pump(), 1u);
    EXPECT_TRUE(forgotten.Got.empty());
    EXPECT_EQ(kept.Got.size(), 1u);
}

// A thread object pumps the host's messages while it waits and is forgotten when it goes.
TEST(ToolsMainThreadMessages, ThreadObjectsPumpAndAreForgotten) {
    struct Worker : ZrThread {
        int Messages = 0;
        bool OnMessage(uint32_t, uintptr_t, intptr_t) override { return ++Messages; }
    };
    IZrMainThreadMessages* messages = Tools()->GetMainThreadMessages();
    ZrSetMainThreadMessages(messages);
    messages->Pump();
    {
        Worker worker;
        std::thread([&] { messages->Post(&worker, 1, 0, 0); }).join();
        worker.WaitPumping(60);
        EXPECT_EQ(worker.Messages, 1);
        messages->Post(&worker, 1, 0, 0);
    }
    EXPECT_EQ(messages->Pump(), 0u) << "the destroyed thread object's message was dropped";
    ZrSetMainThreadMessages(nullptr);
}

TEST(ToolsWaitWindow, ShowsNothingWithoutATerminal) {
    EXPECT_EQ(Probe({"wait", "0", "150"}, Home()).Output, "hidden\nclosed\n");
}

TEST(ToolsWaitWindow, OnATerminalEscapeCancelsAndTheSettingsComeBack) {
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    Tools(); // TESSARY_HOME is set for the probe to inherit
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl(self.c_str(), self.c_str(), "--probe", "wait", "100", "5000", nullptr);
        ::_exit(127);
    }
    std::string screen;
    bool escaped = false;
    for (const Clock::time_point start = Clock::now(); MsSince(start) < 10000;) {
        pollfd ready{terminal, POLLIN, 0};
        if (::poll(&ready, 1, 100) == 1) {
            char bytes[256];
            const ssize_t got = ::read(terminal, bytes, sizeof bytes);
            if (got <= 0)
                break; // the probe has ended
            screen.append(bytes, static_cast<size_t>(got));
        }
        if (!escaped && screen.find("Downloading the encoder") != std::string::npos)
            escaped = ::write(terminal, "\x1b", 1) == 1;
    }
    termios settings{};
    ASSERT_EQ(::tcgetattr(terminal, &settings), 0);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(terminal);
    EXPECT_TRUE(escaped) << screen;
    EXPECT_NE(screen.find("Downloading the encoder\x1b[K"), std::string::npos) << screen;
    EXPECT_NE(screen.find("\r\x1b[K\x1b[?25h"), std::string::npos) << "cleared: " << screen;
    EXPECT_NE(screen.find("cancelled"), std::string::npos) << screen;
    EXPECT_EQ(settings.c_lflag & (ECHO | ICANON | ISIG), tcflag_t(ECHO | ICANON | ISIG));
}

TEST(ToolsNamedLocks, ExcludeThreadsAndProcessesWithTimeOut) {
    IZrNamedLocks* locks = Tools()->GetNamedLocks();
    ASSERT_NE(locks, nullptr);
    const std::u16string name = u"Vantor DS Filter Downloading Lock";
    ASSERT_TRUE(locks->Acquire(name.c_str(), 0, false));
    std::thread([&] {
        EXPECT_FALSE(locks->Acquire(name.c_str(), 0, false)) << "other thread";
    }).join();

    Clock::time_point start = Clock::now();
    EXPECT_EQ(Probe({"lock", Hex(name), "100"}, Home()).Output, "false\n");
    EXPECT_GE(MsSince(start), 100);

    start = Clock::now();
    auto waiter = std::async(std::launch::async, [&] {
        return Probe({"lock", Hex(name), "20000"}, Home()).Output;
    });
    std::this_thread::sleep_for(300ms);
    locks->Release(name.c_str());
    EXPECT_EQ(waiter.get(), "true\n");
    EXPECT_GE(MsSince(start), 300);
    EXPECT_TRUE(locks->Acquire(name.c_str(), 1000, true)) << "the probe's exit freed it";
    locks->Release(name.c_str());

    // Odd names stay inside the run folder, each with a file of its own.
    const std::u16string odd[] = {u"../../escape", u"a/b", u"a%2Fb", u"ü", u""};
    for (const std::u16string& n : odd)
        EXPECT_TRUE(locks->Acquire(n.c_str(), 0, false)) << Hex(n);
    for (const std::u16string& n : odd)
        locks->Release(n.c_str());
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(Home() / "run"))
        files += entry.is_regular_file();
    EXPECT_EQ(files, 1 + std::size(odd));
    EXPECT_FALSE(fs::exists(Home().parent_path() / "escape.lock"));
}

// --- archive unpacker ---

struct Entry {
    std::string Name;
    char Kind; // f file, d folder, l symbolic link, h hard link
    std::string Data = "data";
    int Mode = 0644;
};

std::vector<uint8_t> MakeArchive(bool zip, const std::vector<Entry>& entries) {
    archive* a = archive_write_new();
    if (zip) {
        archive_write_set_format_zip(a);
    } else {
        archive_write_set_format_pax_restricted(a);
        archive_write_add_filter_xz(a);
        archive_write_set_filter_option(a, "xz", "compression-level", "0"); // a small dictionary
    }
    std::vector<uint8_t> buffer(1 << 20);
    size_t used = 0;
    EXPECT_EQ(archive_write_open_memory(a, buffer.data(), buffer.size(), &used), ARCHIVE_OK);
    for (const Entry& e : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.Name.c_str());
        archive_entry_set_perm(entry, e.Kind == 'd' ? 0755 : e.Mode);
        archive_entry_set_filetype(entry, e.Kind == 'd'   ? AE_IFDIR
                                          : e.Kind == 'l' ? AE_IFLNK
                                                          : AE_IFREG);
        if (e.Kind == 'l')
            archive_entry_set_symlink(entry, e.Data.c_str());
        if (e.Kind == 'h')
            archive_entry_set_hardlink(entry, e.Data.c_str());
        archive_entry_set_size(entry, e.Kind == 'f' ? la_int64_t(e.Data.size()) : 0);
        EXPECT_EQ(archive_write_header(a, entry), ARCHIVE_OK) << e.Name;
        if (e.Kind == 'f')
            archive_write_data(a, e.Data.data(), e.Data.size());
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
    buffer.resize(used);
    return buffer;
}

Text Unpack(const std::vector<uint8_t>& archive, const fs::path& folder, bool* ok) {
    ZrSysString error = nullptr;
    *ok = Tools()->GetArchiveUnpacker()->Unpack(archive.data(), archive.size(),
                                                ZrUtf8ToUtf16(folder.string()).c_str(), &error);
    return Take(error);
}

TEST(ToolsArchiveUnpacker, RefusesEntriesThatLeaveTheFolderAndWritesNothing) {
    const zrtest::TempDir base;
    const fs::path outside = base.Path() / "outside";
    fs::create_directories(outside);
    struct Case {
        std::vector<Entry> Hostile; // the last one is the one refused
        bool TarOnly = false;
    };
    const Case cases[] = {
        {{{"../x", 'f'}}},
        {{{"in/../../x", 'f'}}},
        {{{(outside / "abs").string(), 'f'}}},
        {{{"out", 'l', "../outside"}}},
        {{{"abs", 'l', outside.string()}}},
        {{{"c", 'l', "."}, {"b", 'l', "c/.."}}}, // ".." after a link leaves through it
        {{{"d", 'l', "sub"}, {"d/f", 'f'}}},
        {{{"h", 'h', "../outside/secret"}}, true},
    };
    int index = 0;
    for (const Case& c : cases) {
        for (bool zip : {true, false}) {
            if (zip && c.TarOnly)
                continue;
            std::vector<Entry> entries{{"first.txt", 'f'}};
            entries.insert(entries.end(), c.Hostile.begin(), c.Hostile.end());
            const fs::path target = base.Path() / ("t" + std::to_string(index++));
            bool ok = true;
            const Text error = Unpack(MakeArchive(zip, entries), target, &ok);
            const std::string what = c.Hostile.back().Name + (zip ? " (zip)" : " (tar.xz)");
            EXPECT_FALSE(ok) << what;
            EXPECT_CONTAINS(ZrUtf16ToUtf8(error.Value), "\"" + c.Hostile.back().Name + "\"")
                << what;
            EXPECT_FALSE(fs::exists(target / "first.txt")) << what << ": nothing is written";
        }
    }
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_FALSE(fs::exists(base.Path() / "x"));
}

TEST(ToolsArchiveUnpacker, UnpacksNestedFoldersWithModesAndLinks) {
    for (bool zip : {true, false}) {
        const zrtest::TempDir base;
        std::vector<Entry> entries{
            {"./top/", 'd'},
            {"top/a/b/c.txt", 'f', "hello"},
            {"top/bin/tool", 'f', "#!/bin/sh\n", 0755},
            {"top/link", 'l', "a/b/c.txt"},
        };
        if (!zip)
            entries.push_back({"top/hard", 'h', "top/a/b/c.txt"});
        bool ok = false;
        const Text error = Unpack(MakeArchive(zip, entries), base.Path() / "new" / "dir", &ok);
        ASSERT_TRUE(ok) << ZrUtf16ToUtf8(error.Value);
        const fs::path top = base.Path() / "new" / "dir" / "top";
        EXPECT_EQ(zrtest::ReadText(top / "a" / "b" / "c.txt"), "hello");
        EXPECT_EQ(zrtest::ReadText(top / "link"), "hello");
        EXPECT_TRUE(fs::is_symlink(top / "link"));
        const fs::perms exec =
            fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
        EXPECT_NE(fs::status(top / "bin" / "tool").permissions() & fs::perms::owner_exec,
                  fs::perms::none);
        EXPECT_EQ(fs::status(top / "a" / "b" / "c.txt").permissions() & exec, fs::perms::none);
        EXPECT_EQ(zrtest::ReadText(top / "hard"), zip ? "" : "hello"); // tar only
    }
    bool ok = true;
    const Text error = Unpack({'n', 'o', 't'}, fs::temp_directory_path() / "never", &ok);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(error.Value.empty());
}

// --- file loader ---

struct Collect : IZrDataSink {
    std::string Data;
    bool Write(const void* data, size_t size) override {
        Data.append(static_cast<const char*>(data), size);
        return true;
    }
};

TEST(ToolsFileLoader, LoadsFileAndHttpAndExplainsFailures) {
    const std::string body = "the body\n";
    zrtest::LoopbackServer server({body.begin(), body.end()});
    server.Answer("/moved", "302 Found\r\nLocation: /ok");
    server.Answer("/nothing", "404 Not Found");
    const zrtest::TempDir folder;
    zrtest::WriteFile(folder.Path() / "local.bin", "local\0data", 10);
    const struct {
        std::string Address;
        std::string Expected; // the data, or a part of the failure's reason
        bool Ok;
    } cases[] = {
        {"file://" + (folder.Path() / "local.bin").string(), std::string("local\0data", 10), true},
        {"file://" + (folder.Path() / "missing").string(), "missing", false},
        {server.Url("/ok"), body, true},
        {server.Url("/moved"), body, true},
        {server.Url("/nothing"), "HTTP status 404", false},
        {"ftp://127.0.0.1:9/x", "ftp://127.0.0.1:9/x", false},
        {"", "no address", false},
    };
    for (const auto& c : cases) {
        Collect sink;
        ZrSysString error = nullptr;
        const bool ok = Tools()->GetFileLoader()->Load(ZrUtf8ToUtf16(c.Address).c_str(), &sink,
                                                       nullptr, &error);
        const std::string reason = ZrUtf16ToUtf8(Take(error).Value);
        EXPECT_EQ(ok, c.Ok) << c.Address << ": " << reason;
        EXPECT_CONTAINS(c.Ok ? sink.Data : reason, c.Expected);
        EXPECT_TRUE(!c.Ok || sink.Data == c.Expected) << c.Address;
    }
}

TEST(ToolsFileLoader, AbortStopsAStalledTransferAtOnce) {
    zrtest::LoopbackServer stalled(std::vector<uint8_t>(1000, 'x'), true);
    std::atomic<int32_t> abort{0};
    Clock::time_point aborted;
    std::thread canceller([&] {
        std::this_thread::sleep_for(300ms);
        aborted = Clock::now();
        abort = 1;
    });
    Collect sink;
    ZrSysString error = nullptr;
    EXPECT_FALSE(Tools()->GetFileLoader()->Load(ZrUtf8ToUtf16(stalled.Url("/slow")).c_str(), &sink,
                                                &abort, &error));
    const long long late = MsSince(aborted);
    canceller.join();
    EXPECT_LT(late, 100);
    EXPECT_FALSE(sink.Data.empty()) << "it was under way";
    EXPECT_CONTAINS(ZrUtf16ToUtf8(Take(error).Value), "cancelled");
}

} // namespace
