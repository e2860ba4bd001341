#include "support/TestSupport.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zrtest {

namespace {

fs::path EnvPath(const char* name, const fs::path& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? fs::path(value) : fallback;
}

void PutSample(std::vector<uint8_t>& out, double x, uint16_t bits, bool isFloat) {
    if (x > 1.0)
        x = 1.0;
    if (x < -1.0)
        x = -1.0;
    if (isFloat) {
        const float f = static_cast<float>(x);
        uint8_t b[4];
        std::memcpy(b, &f, 4);
        out.insert(out.end(), b, b + 4);
        return;
    }
    const int64_t maxValue = (int64_t{1} << (bits - 1)) - 1;
    int64_t v = std::llround(x * static_cast<double>(maxValue));
    if (v < -maxValue - 1)
        v = -maxValue - 1;
    if (bits == 8) {
        out.push_back(static_cast<uint8_t>(v + 128));
        return;
    }
    for (int i = 0; i < bits / 8; ++i)
        out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
}

} // namespace

TempDir::TempDir() {
    std::string pattern = (EnvPath("TMPDIR", "/tmp") / "zrtest-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data()))
        throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
    m_path = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Tests may leave read-only folders behind; make them writable so they can go.
    for (auto it = fs::recursive_directory_iterator(m_path, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(m_path, ignored);
}

fs::path BuildDir() { return EnvPath("ZR_BUILD_DIR", fs::current_path()); }
fs::path SourceDir() { return EnvPath("ZR_SOURCE_DIR", fs::current_path()); }
fs::path LibDir() { return BuildDir() / "lib"; }

ZrString U(const fs::path& path) { return ZrString::FromUtf8(path.string()); }
ZrString U(const std::string& utf8) { return ZrString::FromUtf8(utf8); }

WAVEFORMATEX PcmFormat(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t tag) {
    WAVEFORMATEX f{};
    f.wFormatTag = tag;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<uint16_t>((bits + 7) / 8 * channels);
    f.nAvgBytesPerSec = f.nBlockAlign * rate;
    f.cbSize = 0;
    return f;
}

WAVEFORMATEXTENSIBLE ExtensibleFormat(uint16_t channels, uint32_t rate, uint16_t bits,
                                      uint16_t validBits, uint32_t mask, const ZrGuid& subFormat) {
    WAVEFORMATEXTENSIBLE f{};
    f.Format = PcmFormat(channels, rate, bits, WAVE_FORMAT_EXTENSIBLE);
    f.Format.cbSize = 22;
    f.Samples.wValidBitsPerSample = validBits;
    f.dwChannelMask = mask;
    f.SubFormat = subFormat;
    return f;
}

std::vector<uint8_t> MakePcm(Signal signal, uint16_t channels, uint32_t rate, uint16_t bits,
                             size_t frames, uint32_t seed, bool isFloat) {
    std::vector<uint8_t> out;
    out.reserve(frames * channels * ((bits + 7) / 8));
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    const double pi = 3.14159265358979323846;
    const double r = rate ? rate : 44100;
    for (size_t f = 0; f < frames; ++f) {
        const double t = static_cast<double>(f) / r;
        for (uint16_t c = 0; c < channels; ++c) {
            double x = 0.0;
            switch (signal) {
            case Signal::Silence:
                break;
            case Signal::Tone:
                x = 0.5 * std::sin(2 * pi * (440.0 + 110.0 * c) * t);
                break;
            case Signal::Noise:
                x = uniform(random);
                break;
            case Signal::FullScale:
                x = ((f + c) & 1) ? 1.0 : -1.0;
                break;
            case Signal::Music: {
                const double chord[] = {220.0, 277.18, 329.63, 440.0};
                for (double hz : chord)
                    x += 0.12 * std::sin(2 * pi * hz * (1.0 + 0.01 * c) * t);
                const double sweep = 100.0 + 4000.0 * std::fmod(t, 5.0) / 5.0;
                x += 0.1 * std::sin(2 * pi * sweep * t);
                x += 0.01 * uniform(random);
                break;
            }
            }
            PutSample(out, x, bits, isFloat);
        }
    }
    return out;
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const void* data, size_t bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(bytes));
}

RunResult Run(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    RunResult result;
    int pipeFds[2];
    if (argv.empty() || ::pipe2(pipeFds, O_CLOEXEC) != 0)
        return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e)
        envStrings.emplace_back(*e);
    for (const auto& e : env) {
        const std::string key = e.substr(0, e.find('=') + 1);
        std::erase_if(envStrings, [&](const std::string& s) { return s.rfind(key, 0) == 0; });
        envStrings.push_back(e);
    }
    std::vector<char*> envp;
    for (auto& e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid;
    const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        result.Output = "cannot start " + argv[0] + ": " + std::strerror(spawned);
        return result;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        result.Output.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool HaveProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && ::access((fs::path(dir) / name).c_str(), X_OK) == 0)
            return true;
    return false;
}

std::string RawFormatFor(uint16_t bits, bool isFloat) {
    if (isFloat)
        return bits == 64 ? "f64le" : "f32le";
    switch (bits) {
    case 8: return "u8";
    case 16: return "s16le";
    case 24: return "s24le";
    default: return "s32le";
    }
}

std::vector<uint8_t> DecodeWithFfmpeg(const fs::path& path, const std::string& rawFormat,
                                      std::string* log) {
    TempDir dir;
    const fs::path out = dir / "decoded.raw";
    const std::string codec = "pcm_" + rawFormat;
    const RunResult r = Run({"ffmpeg", "-nostdin", "-hide_banner", "-v", "error", "-i",
                             path.string(), "-map", "0:a:0", "-c:a", codec, "-f", rawFormat,
                             out.string()});
    if (log)
        *log = r.Output;
    if (r.ExitCode != 0) {
        ADD_FAILURE() << "ffmpeg could not decode " << path << ":\n" << r.Output;
        return {};
    }
    return ReadFile(out);
}

std::string FirstDifference(const std::vector<uint8_t>& expected,
                            const std::vector<uint8_t>& actual, size_t bytesPerSample) {
    if (expected == actual)
        return "";
    std::ostringstream s;
    if (expected.size() != actual.size())
        s << "sizes differ: expected " << expected.size() << " bytes, got " << actual.size()
          << "; ";
    const size_t n = std::min(expected.size(), actual.size());
    for (size_t i = 0; i < n; ++i) {
        if (expected[i] != actual[i]) {
            const size_t sample = i / (bytesPerSample ? bytesPerSample : 1);
            s << "first difference at byte " << i << " (sample " << sample << "): expected 0x"
              << std::hex << int(expected[i]) << ", got 0x" << int(actual[i]);
            return s.str();
        }
    }
    return s.str();
}

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t Be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

} // namespace zrtest
