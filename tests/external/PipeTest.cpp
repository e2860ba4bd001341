// The encoder pipe against a real child: argv exactly as split, descriptors, dead, stalled and
// deaf children, and a large copy compared byte for byte; the splitting rules in a table.
#include "external/EncoderPipe.h"
#include "foundation/ZrCommandLine.h"
#include "foundation/ZrUtf.h"
#include "support/TestSupport.h"

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

namespace {

using namespace zrtest;
using Args = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::u16string Quoted(const fs::path& path) {
    return ZrQuoteArgument(ZrUtf8ToUtf16(path.string()));
}

// The test child with `mode`, then `rest` as written.
ZrString ChildLine(const std::string& mode, const std::u16string& rest = u"") {
    return ZrString(Quoted(ZR_PIPE_CHILD) + u" " + ZrUtf8ToUtf16(mode) + u" " + rest);
}

Args Split(const std::string& fields) { // NUL-terminated fields, as the child writes argv
    Args out;
    for (size_t start = 0, end; (end = fields.find('\0', start)) != std::string::npos;
         start = end + 1)
        out.push_back(fields.substr(start, end - start));
    return out;
}

struct SplitCase {
    std::u16string line;
    Args expected;
};

TEST(CommandLine, SplitsByTheRuntimeRules) {
    const SplitCase cases[] = {
        {u"a b\tc", {"a", "b", "c"}},
        {u"  lead  trail  ", {"lead", "trail"}},
        {u"\"a b\" c", {"a b", "c"}},
        {u"a\\b c\\", {"a\\b", "c\\"}},
        {u"a\\\\\"b c\"", {"a\\b c"}},
        {u"a\\\\\\\"b", {"a\\\"b"}},
        {u"\"dir\\\\\" x", {"dir\\", "x"}},
        {u"a \"\" b \"\"", {"a", "", "b", ""}},
        {u"\"a\"\"b\" c", {"a\"b", "c"}},
        {u"x\"y z\"w", {"xy zw"}},
        {u"\"unterminated run", {"unterminated run"}},
        {u"a\nb $(rm -rf x);y", {"a\nb", "$(rm", "-rf", "x);y"}},
        {u"\u00e9t\u00e9 \U0001F600", {"\xc3\xa9t\xc3\xa9", "\xf0\x9f\x98\x80"}},
        {u"", {}},
        {std::u16string(u"a\0b c", 5), {"a"}},
    };
    for (const SplitCase& c : cases)
        EXPECT_EQ(ZrSplitCommandLine(c.line), c.expected) << ZrUtf16ToUtf8(c.line);
    EXPECT_EQ(ZrQuoteArgument(u"plain"), u"plain");
}

// Arguments that quoting must carry whole through the splitter to the child.
const std::u16string RoundTrip[] = {
    u"plain",
    u"",
    u"a b",
    u"tab\there",
    u"q\"uote",
    u"\"",
    u"tail\\",
    u"tail\\\\",
    u"in\\\"side\\",
    u"\\\\server\\share",
    u"new\nline",
    u"$(echo x);y",
    u"caf\u00e9 \U0001F3B5",
};

TEST(EncoderPipe, ArgumentsReachTheChildExactly) {
    TempDir dir;
    const fs::path file = dir / "argv";
    std::u16string rest = Quoted(file);
    Args expected;
    for (const std::u16string& argument : RoundTrip) {
        rest += u" " + ZrQuoteArgument(argument);
        expected.push_back(ZrUtf16ToUtf8(argument));
    }
    // Written by hand as a user would: backslashes before quotes, an unquoted newline.
    rest += u" \"C:\\dir\\\\\" a\\\\\\\"b x\ny;z";
    for (const char* argument : {"C:\\dir\\", "a\\\"b", "x\ny;z"})
        expected.push_back(argument);
    // Far longer than a Windows command-line buffer: only the system's limit applies.
    rest += u" " + std::u16string(5000, u'L');
    expected.push_back(std::string(5000, 'L'));

    CEncoderPipe pipe;
    ASSERT_TRUE(pipe.Start(ChildLine("argv", rest))) << pipe.StartError().ToUtf8();
    pipe.Close();
    EXPECT_EQ(pipe.ExitCode(), 0);
    EXPECT_EQ(Split(ReadText(file)), expected);
}

TEST(EncoderPipe, ChildInheritsOnlyThePipeAndDevNull) {
    TempDir dir;
    const int leaked = ::open("/dev/null", O_RDONLY); // without close-on-exec, on purpose
    ASSERT_GE(leaked, 0);
    CEncoderPipe pipe;
    ASSERT_TRUE(pipe.Start(ChildLine("fds", Quoted(dir / "fds"))));
    pipe.Close();
    ::close(leaked);
    const std::vector<std::string> fds = Lines(ReadText(dir / "fds"));
    ASSERT_EQ(fds.size(), 3u) << ReadText(dir / "fds");
    EXPECT_EQ(fds[0].rfind("0 -> socket:", 0), 0u) << fds[0];
    EXPECT_EQ(fds[1], "1 -> /dev/null");
    EXPECT_EQ(fds[2], "2 -> /dev/null");
}

struct DeadCase {
    const char* name;
    std::string mode;
    double minSeconds, maxSeconds; // of one 1 MiB write, which must fail
    int exitCode;
};

TEST(EncoderPipe, WriteFailsOnceTheChildHasEnded) {
    const std::vector<uint8_t> mib(1 << 20, 0x5a);
    const DeadCase cases[] = {
        {"exits at once", "exit", 0.0, 1.5, 2},
        {"stalls without reading, then exits", "stall 800", 0.7, 2.5, 0},
        // The writer stays blocked after the child's end: Stop's time-out interrupts it.
        {"leaves a process holding the pipe", "orphan", 0.45, 2.0, 0},
    };
    for (const DeadCase& c : cases) {
        SCOPED_TRACE(c.name);
        CEncoderPipe pipe;
        ASSERT_TRUE(pipe.Start(ChildLine(c.mode)));
        const Clock::time_point start = Clock::now();
        EXPECT_FALSE(pipe.Write(mib.data(), static_cast<uint32_t>(mib.size())));
        const double seconds = SecondsSince(start);
        EXPECT_GE(seconds, c.minSeconds);
        EXPECT_LE(seconds, c.maxSeconds);
        const pid_t process = pipe.ProcessId();
        pipe.Close();
        EXPECT_TRUE(ProcessGone(process));
        EXPECT_EQ(pipe.ExitCode(), c.exitCode);
        pipe.Close(); // harmless twice
        EXPECT_EQ(pipe.ExitCode(), c.exitCode);
        EXPECT_FALSE(pipe.Write(mib.data(), 1));
    }
}

TEST(EncoderPipe, ChildIgnoringEndOfInputIsKilledAndReaped) {
    const int32_t timeoutMs = Exhaustive() ? 10000 : 300;
    CEncoderPipe::SetCloseTimeout(timeoutMs);
    CEncoderPipe pipe;
    ASSERT_TRUE(pipe.Start(ChildLine("ignore-eof")));
    const std::vector<uint8_t> data(200000, 1);
    EXPECT_TRUE(pipe.Write(data.data(), static_cast<uint32_t>(data.size())));
    const pid_t process = pipe.ProcessId();
    const Clock::time_point start = Clock::now();
    pipe.Close();
    const double seconds = SecondsSince(start);
    CEncoderPipe::SetCloseTimeout(10000);
    EXPECT_GE(seconds, timeoutMs / 1000.0 - 0.05);
    EXPECT_LE(seconds, timeoutMs / 1000.0 + 1.5);
    EXPECT_TRUE(ProcessGone(process));
    EXPECT_EQ(pipe.ExitCode(), -1);
    EXPECT_EQ(pipe.ProcessId(), 0);
}

TEST(EncoderPipe, StartFailuresSayWhy) {
    const std::pair<ZrString, std::string> cases[] = {
        {u"\"/nonexistent/enc oder\" -V 4", "Cannot start \"/nonexistent/enc oder\": No such file"},
        {u"no-such-encoder-program-here -", "Cannot start \"no-such-encoder-program-here\": No "},
        {u"  \"\" x", "names no program"},
        {u"", "names no program"},
        {ZrString(u"/bin/true " + std::u16string(200000, u'x')), "Argument list too long"},
    };
    for (const auto& [line, reason] : cases) {
        CEncoderPipe pipe;
        EXPECT_FALSE(pipe.Start(line));
        EXPECT_CONTAINS(pipe.StartError().ToUtf8(), reason);
        EXPECT_EQ(pipe.ProcessId(), 0);
        pipe.Close(); // never started: nothing to do, twice
        pipe.Close();
        EXPECT_FALSE(pipe.Write("x", 1));
    }
}

TEST(EncoderPipe, CopiesTenMegabytesExactly) {
    if (!HaveProgram("tee"))
        GTEST_SKIP() << "tee is not installed";
    TempDir dir;
    std::vector<uint8_t> pcm(10 << 20);
    uint32_t noise = 1;
    for (uint8_t& byte : pcm)
        byte = static_cast<uint8_t>((noise = noise * 1664525u + 1013904223u) >> 24);
    CEncoderPipe pipe;
    // No slash: found on PATH.
    ASSERT_TRUE(pipe.Start(ZrString(u"tee " + Quoted(dir / "copy"))));
    const uint32_t blocks[] = {1, 4096, 65536 + 3, 300000, 17};
    bool ok = true;
    for (size_t offset = 0, i = 0; ok && offset < pcm.size(); ++i) {
        const uint32_t count = static_cast<uint32_t>(
            std::min<size_t>(blocks[i % std::size(blocks)], pcm.size() - offset));
        ok = pipe.Write(pcm.data() + offset, count);
        offset += count;
    }
    EXPECT_TRUE(ok);
    pipe.Close();
    EXPECT_EQ(pipe.ExitCode(), 0);
    // In one read: zrtest::ReadFile goes a character at a time, slow in a sanitizer build.
    std::vector<uint8_t> copy(fs::file_size(dir / "copy"));
    std::ifstream(dir / "copy", std::ios::binary)
        .read(reinterpret_cast<char*>(copy.data()), static_cast<std::streamsize>(copy.size()));
    EXPECT_TRUE(copy == pcm);
}

} // namespace
