#include "support/TestSupport.h"

#include "foundation/ZrLog.h"
#include "tessary/ZrTools.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <mutex>
#include <numbers>
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

fs::path BuildDir() {
    return EnvPath("ZR_BUILD_DIR", fs::current_path());
}
fs::path LibDir() {
    return BuildDir() / "lib";
}

ZrString U(const fs::path& path) {
    return ZrString::FromUtf8(path.string());
}
ZrString U(const std::string& utf8) {
    return ZrString::FromUtf8(utf8);
}

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
    case 8:
        return "u8";
    case 16:
        return "s16le";
    case 24:
        return "s24le";
    default:
        return "s32le";
    }
}

std::vector<uint8_t> DecodeWithFfmpeg(const fs::path& path, const std::string& rawFormat,
                                      std::string* log) {
    return DecodeWithFfmpeg(path, rawFormat, {}, {}, log);
}

std::vector<uint8_t> DecodeWithFfmpeg(const fs::path& path, const std::string& rawFormat,
                                      const std::vector<std::string>& inputOptions,
                                      const std::vector<std::string>& outputOptions,
                                      std::string* log) {
    TempDir dir;
    const fs::path out = dir / "decoded.raw";
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-hide_banner", "-v", "error"};
    argv.insert(argv.end(), inputOptions.begin(), inputOptions.end());
    argv.insert(argv.end(), {"-i", path.string(), "-map", "0:a:0"});
    argv.insert(argv.end(), outputOptions.begin(), outputOptions.end());
    argv.insert(argv.end(), {"-c:a", "pcm_" + rawFormat, "-f", rawFormat, out.string()});
    const RunResult r = Run(argv);
    if (log)
        *log = r.Output;
    if (r.ExitCode != 0) {
        ADD_FAILURE() << "ffmpeg could not decode " << path << ":\n" << r.Output;
        return {};
    }
    return ReadFile(out);
}

std::map<std::string, std::string> ProbeAudioStream(const fs::path& path) {
    const RunResult r = Run({"ffprobe", "-v", "quiet", "-select_streams", "a:0", "-show_streams",
                             "-of", "default=noprint_wrappers=1", path.string()});
    std::map<std::string, std::string> fields;
    for (const std::string& line : Lines(r.ExitCode == 0 ? r.Output : ""))
        if (const size_t at = line.find('='); at != std::string::npos)
            fields.emplace(line.substr(0, at), line.substr(at + 1));
    return fields;
}

std::vector<uint8_t> WavData(const std::vector<uint8_t>& wav) {
    if (wav.size() < 12 || std::memcmp(wav.data(), "RIFF", 4) != 0) {
        ADD_FAILURE() << "not a RIFF file (" << wav.size() << " bytes)";
        return {};
    }
    for (size_t at = 12; at + 8 <= wav.size();) {
        const uint32_t size = Le32(wav.data() + at + 4);
        if (std::memcmp(wav.data() + at, "data", 4) == 0) {
            const size_t end = std::min<size_t>(wav.size(), at + 8 + size);
            return std::vector<uint8_t>(wav.begin() + static_cast<ptrdiff_t>(at + 8),
                                        wav.begin() + static_cast<ptrdiff_t>(end));
        }
        at += 8 + size + (size & 1);
    }
    ADD_FAILURE() << "no data chunk in a WAV file of " << wav.size() << " bytes";
    return {};
}

void WriteWav(const fs::path& file, const WAVEFORMATEX& format, const std::vector<uint8_t>& pcm) {
    const Shape s{format.wBitsPerSample,
                  format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT,
                  format.nChannels,
                  false,
                  0,
                  format.nSamplesPerSec};
    WriteFile(file, Riff({Fmt(s), Data(pcm)}));
}

std::vector<uint8_t> Pcm(const Shape& s, size_t frames, uint32_t seed) {
    return MakePcm(Signal::Music, s.channels, s.rate, s.bits, frames, seed, s.isFloat);
}

Piece Fmt(const Shape& s) {
    const uint16_t align = static_cast<uint16_t>(s.channels * s.bits / 8);
    const uint16_t tag = s.isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
    std::vector<uint8_t> f;
    PutLe(f, s.extensible ? WAVE_FORMAT_EXTENSIBLE : tag, 2);
    PutLe(f, s.channels, 2);
    PutLe(f, s.rate, 4);
    PutLe(f, s.rate * align, 4);
    PutLe(f, align, 2);
    PutLe(f, s.bits, 2);
    if (s.extensible) {
        PutLe(f, 22, 2);
        PutLe(f, s.validBits ? s.validBits : s.bits, 2);
        PutLe(f, s.mask ? s.mask : s.channels == 6 ? 0x3F : 0, 4);
        PutLe(f, tag, 4); // the sub-format GUID: the tag, then the common tail
        f.insert(f.end(), {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
    }
    return {"fmt ", f, {}};
}

Piece Data(const std::vector<uint8_t>& pcm, std::optional<uint32_t> declared) {
    return {"data", pcm, declared};
}

std::vector<uint8_t> Riff(const std::vector<Piece>& pieces) {
    std::vector<uint8_t> out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    for (const Piece& p : pieces) {
        out.insert(out.end(), p.id.begin(), p.id.end());
        PutLe(out, p.declared.value_or(static_cast<uint32_t>(p.body.size())), 4);
        out.insert(out.end(), p.body.begin(), p.body.end());
        if (p.body.size() & 1)
            out.push_back(0);
    }
    const auto riffSize = static_cast<uint32_t>(out.size() - 8);
    for (int i = 0; i < 4; ++i)
        out[4 + i] = static_cast<uint8_t>(riffSize >> (8 * i));
    return out;
}

std::vector<uint8_t> MakeWav(const fs::path& path, const Shape& s, size_t frames, uint32_t seed) {
    const std::vector<uint8_t> pcm = Pcm(s, frames, seed);
    WriteFile(path, Riff({Fmt(s), Data(pcm)}));
    return pcm;
}

std::vector<std::string> FilesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (!it->is_directory())
            names.push_back(fs::relative(it->path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadText(const fs::path& path) {
    std::error_code error;
    if (!fs::exists(path, error))
        return {};
    const std::vector<uint8_t> bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

namespace {

// Runs `argv` with "{out}" replaced by a WAV file's name and returns that file's PCM.
// `complained` says whether the run failed even when the program's exit code says otherwise.
std::vector<uint8_t> DecodeToWav(std::vector<std::string> argv,
                                 bool (*complained)(const RunResult&) = nullptr) {
    TempDir dir;
    const std::string out = (dir / "decoded.wav").string();
    for (auto& a : argv)
        if (a == "{out}")
            a = out;
    const RunResult r = Run(argv);
    if (r.ExitCode != 0 || (complained && complained(r)) || !fs::exists(out)) {
        std::string command;
        for (const auto& a : argv)
            command += a + " ";
        ADD_FAILURE() << command << "failed:\n" << r.Output;
        return {};
    }
    return WavData(ReadFile(out));
}

} // namespace

std::vector<uint8_t> DecodeWithFlac(const fs::path& file, const std::vector<std::string>& extra) {
    std::vector<std::string> argv{"flac", "-d", "-s", "-f"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.insert(argv.end(), {"-o", "{out}", file.string()});
    return DecodeToWav(argv);
}

std::vector<uint8_t> DecodeWithWvunpack(const fs::path& file,
                                        const std::vector<std::string>& extra) {
    std::vector<std::string> argv{"wvunpack", "-q", "-y"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.insert(argv.end(), {file.string(), "-o", "{out}"});
    return DecodeToWav(argv);
}

std::vector<uint8_t> DecodeWithSox(const fs::path& file) {
    return DecodeToWav({"sox", "-V1", file.string(), "-t", "wav", "{out}"});
}

bool HaveJmac() {
    return HaveProgram("jmac") && HaveProgram("java");
}

namespace {

// JMAC exits 0 whatever happens; its complaints are Java exceptions on its output.
bool JmacComplained(const RunResult& r) {
    return r.ExitCode != 0 || r.Output.find("Exception") != std::string::npos ||
           r.Output.find("rror") != std::string::npos;
}

} // namespace

std::vector<uint8_t> DecodeWithJmac(const fs::path& file, bool verifyMd5) {
    if (verifyMd5) {
        const RunResult verify = Run({"jmac", "v", file.string()});
        if (JmacComplained(verify)) {
            ADD_FAILURE() << "jmac v " << file << ":\n" << verify.Output;
            return {};
        }
    }
    return DecodeToWav({"jmac", "d", file.string(), "{out}"}, JmacComplained);
}

double DominantFrequency(const std::vector<int32_t>& interleaved, unsigned channels,
                         unsigned channel, uint32_t rate) {
    const size_t frames = channels ? interleaved.size() / channels : 0;
    const size_t length = std::min<size_t>(frames, 8192);
    if (length < 64 || channel >= channels || rate == 0)
        return 0.0;
    const double pi = 3.14159265358979323846;
    // Goertzel: the power of one frequency in windowed samples.
    auto power = [&](const std::vector<double>& x, double hz) {
        const double k = 2 * std::cos(2 * pi * hz / rate);
        double s1 = 0, s2 = 0;
        for (double v : x) {
            const double s0 = v + k * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        return s1 * s1 + s2 * s2 - k * s1 * s2;
    };
    auto windowed = [&](size_t n) {
        std::vector<double> x(n);
        const size_t first = (frames - n) / 2;
        for (size_t i = 0; i < n; ++i) {
            const double v = interleaved[(first + i) * channels + channel];
            x[i] = v * (0.5 - 0.5 * std::cos(2 * pi * static_cast<double>(i) / (n - 1)));
        }
        return x;
    };
    auto best = [&](const std::vector<double>& x, double from, double to, double step) {
        double at = from, most = -1.0;
        for (double hz = std::max(from, 1.0); hz <= to; hz += step)
            if (const double p = power(x, hz); p > most) {
                most = p;
                at = hz;
            }
        return at;
    };
    // A short window finds the peak's neighbourhood (its main lobe spans about 4 x 21 Hz at
    // 44.1 kHz), the long one places it.
    const double coarse = best(windowed(std::min<size_t>(length, 2048)), 20.0, rate / 2.0, 8.0);
    return best(windowed(length), coarse - 16.0, coarse + 16.0, 0.25);
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

testing::AssertionResult SamePcm(const std::vector<uint8_t>& expected,
                                 const std::vector<uint8_t>& actual, size_t bytesPerSample) {
    const std::string difference = FirstDifference(expected, actual, bytesPerSample);
    if (difference.empty())
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << difference;
}

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
uint64_t Le64(const uint8_t* p) {
    return uint64_t{Le32(p)} | (uint64_t{Le32(p + 4)} << 32);
}
uint16_t Be16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
uint32_t Be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

uint64_t Be64(const uint8_t* p) {
    return (uint64_t{Be32(p)} << 32) | Be32(p + 4);
}

void PutLe(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

std::vector<int32_t> Samples(const std::vector<uint8_t>& pcm, uint16_t bits) {
    const size_t width = (bits + 7u) / 8u;
    std::vector<int32_t> out(pcm.size() / width);
    for (size_t i = 0; i < out.size(); ++i) {
        const uint8_t* p = pcm.data() + i * width;
        if (width == 1) {
            out[i] = int32_t{p[0]} - 128;
            continue;
        }
        uint32_t v = 0;
        for (size_t b = 0; b < width; ++b)
            v |= uint32_t{p[b]} << (8 * b);
        const int shift = static_cast<int>(32 - 8 * width);
        out[i] = static_cast<int32_t>(v << shift) >> shift;
    }
    return out;
}

bool Exhaustive() {
    const char* value = std::getenv("ZR_EXHAUSTIVE");
    return value && std::strcmp(value, "1") == 0;
}

std::string Property(IZrEncoder& encoder, const char16_t* name) {
    ZrSysString text = encoder.GetProperty(name);
    const std::string utf8 = ZrString(text, SysStringLen(text)).ToUtf8();
    SysFreeString(text);
    return utf8;
}

bool SetProperty(IZrEncoder& encoder, const char16_t* name, const std::string& utf8) {
    return encoder.SetProperty(name, ZrString::FromUtf8(utf8).c_str());
}

std::string EncodeResult::FailedStep() const {
    if (!Started)
        return "start";
    if (!Encoded)
        return "encode";
    return Finished ? "" : "finish";
}

EncodeResult Encode(IZrEncoder& encoder, const fs::path& destination, const EncodeJob& job) {
    EncodeResult result;
    if (job.Settings)
        SetProperty(encoder, u"Settings", *job.Settings);
    encoder.SetProperty(u"Add Output Extension", job.AddExtension ? u"1" : u"0");
    encoder.SetProperty(u"Destination Filename", U(destination).c_str());
    const int64_t expected =
        job.ExpectedBytes ? *job.ExpectedBytes : static_cast<int64_t>(job.Pcm.size());
    result.Started = encoder.StartBufferBased(job.Format, expected);
    if (result.Started) {
        const size_t frameBytes =
            job.Format && job.Format->nBlockAlign ? job.Format->nBlockAlign : 1;
        const size_t step =
            job.BlockBytes ? job.BlockBytes : std::max<size_t>(1, 65536 / frameBytes) * frameBytes;
        std::vector<uint8_t> block;
        result.Encoded = true;
        for (size_t at = 0; at < job.Pcm.size() && result.Encoded; at += step) {
            const size_t n = std::min(step, job.Pcm.size() - at);
            block.assign(job.Pcm.begin() + static_cast<ptrdiff_t>(at),
                         job.Pcm.begin() + static_cast<ptrdiff_t>(at + n));
            result.Encoded = encoder.EncodeBuffer(block.data(), n);
        }
        if (result.Encoded)
            result.Finished = encoder.FinishBufferBased();
    }
    result.LastError = Property(encoder, u"Last Error");
    return result;
}

EncodeResult Encode(EncoderCreator create, const fs::path& destination, const EncodeJob& job) {
    std::unique_ptr<IZrEncoder> encoder(create(nullptr));
    return Encode(*encoder, destination, job);
}

namespace {

class CapturingLogger final : public IZrLogger {
public:
    bool IsEnabled(uint32_t) override { return true; }
    void Write(uint32_t, const char16_t* scope, const char16_t* text) override {
        std::string line = ZrString(text).ToUtf8();
        if (line.starts_with("Finish (") && line.ends_with(" ms)"))
            line = line.find("(result: ") == 7 ? line.substr(0, line.find(") (") + 1) : "Finish";
        std::lock_guard<std::mutex> lock(Mutex);
        Lines.push_back(ZrString(scope).ToUtf8() + ": " + line);
    }
    std::mutex Mutex;
    std::vector<std::string> Lines;
};

CapturingLogger g_capturingLogger;

} // namespace

LogCapture::LogCapture() {
    Clear();
    ZrSetLoggerProvider([]() -> IZrLogger* { return &g_capturingLogger; });
}

LogCapture::~LogCapture() {
    ZrSetLoggerProvider(nullptr);
}

std::vector<std::string> LogCapture::Lines() const {
    std::lock_guard<std::mutex> lock(g_capturingLogger.Mutex);
    return g_capturingLogger.Lines;
}

std::vector<std::string> LogCapture::Errors() const {
    std::vector<std::string> errors;
    for (const std::string& line : Lines()) {
        const size_t at = line.find("ERROR - ");
        if (at != std::string::npos)
            errors.push_back(line.substr(at + 8));
    }
    return errors;
}

void LogCapture::Clear() {
    std::lock_guard<std::mutex> lock(g_capturingLogger.Mutex);
    g_capturingLogger.Lines.clear();
}

RunResult RunZrencAt(const fs::path& home, const std::vector<std::string>& args,
                     const std::vector<std::string>& env) {
    fs::create_directories(home / "tmp");
    std::vector<std::string> argv{ZrencProgram().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> all{"TESSARY_HOME=" + (home / "home").string(),
                                 "TMPDIR=" + (home / "tmp").string()};
    all.insert(all.end(), env.begin(), env.end());
    return Run(argv, all);
}

// ---- tslim-rest ----

PathPrefix::PathPrefix(const fs::path& folder)
    : m_old(std::getenv("PATH") ? std::getenv("PATH") : "") {
    ::setenv("PATH", (folder.string() + ":" + m_old).c_str(), 1);
}

PathPrefix::~PathPrefix() {
    ::setenv("PATH", m_old.c_str(), 1);
}

void WriteScript(const fs::path& file, const std::string& body) {
    fs::create_directories(file.parent_path());
    const std::string script = "#!/bin/sh\n" + body + "\n";
    WriteFile(file, script.data(), script.size());
    fs::permissions(file, fs::perms::owner_all);
}

bool ProcessGone(int process) {
    return ::kill(process, 0) != 0 && errno == ESRCH;
}

} // namespace zrtest
