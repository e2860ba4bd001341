// Encodes one generated raw PCM file with CFlacEncoder (through IZrEncoder, in 64 KiB buffers
// as a host delivers them) and with the flac program at the same level, alternately, and
// prints the best times and the ratios.
//
//   zr_flac_bench WORKDIR [SECONDS=600] [RUNS=3] [LEVEL=6]
#include "foundation/ZrString.h"
#include "frame/ZrEncoderFactory.h"
#include "frame/ZrHostLibraries.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kRate = 44100;
constexpr uint16_t kChannels = 2;
constexpr size_t kBufferBytes = 64 * 1024;

struct Measure {
    double Wall = 0; // seconds
    double Cpu = 0;  // user + system seconds
};

double Seconds(const timeval& t) {
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

double CpuOfSelf() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

// Notes of a slow melody with harmonics, panned apart, over a little noise: compresses about
// as well as recorded music, unlike a pure tone or white noise.
void Generate(const fs::path& path, uint32_t seconds) {
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!out) {
        std::perror(path.c_str());
        std::exit(1);
    }
    const double scale[] = {220.0, 246.94, 261.63, 293.66, 329.63, 349.23, 392.0, 440.0};
    const double pi = 3.14159265358979323846;
    uint32_t random = 12345;
    std::vector<int16_t> block;
    const uint64_t frames = uint64_t{kRate} * seconds;
    for (uint64_t f = 0; f < frames; ++f) {
        const double t = double(f) / kRate;
        const auto note = static_cast<uint64_t>(t * 2.0);
        const double since = t - double(note) / 2.0;
        const double hz = scale[(note * 5 + note / 8) % 8];
        const double envelope = std::exp(-3.0 * since);
        double left = 0, right = 0;
        for (int h = 1; h <= 4; ++h) {
            const double v = envelope / h * std::sin(2 * pi * hz * h * t);
            left += v * (h % 2 ? 0.7 : 0.3);
            right += v * (h % 2 ? 0.3 : 0.7);
        }
        const double bass = 0.3 * std::sin(2 * pi * scale[note / 4 % 8] / 4 * t);
        random = random * 1664525u + 1013904223u;
        const double noise = (double(random >> 8) / double(1 << 24) - 0.5) * 0.004;
        block.push_back(static_cast<int16_t>(std::lrint((left * 0.35 + bass + noise) * 32000)));
        block.push_back(static_cast<int16_t>(std::lrint((right * 0.35 + bass - noise) * 32000)));
        if (block.size() >= 65536 || f + 1 == frames) {
            std::fwrite(block.data(), sizeof(int16_t), block.size(), out.get());
            block.clear();
        }
    }
}

Measure EncodeOurs(const fs::path& input, const fs::path& output, int level) {
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = CpuOfSelf();

    std::unique_ptr<IZrEncoder> encoder(CreateFlacEncoder(nullptr));
    const ZrString settings = ZrString::Format("Quality=%d", level);
    encoder->SetProperty(u"Settings", settings.c_str());
    encoder->SetProperty(u"Add Output Extension", u"0");
    encoder->SetProperty(u"Destination Filename", ZrString::FromUtf8(output.string()).c_str());
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = kChannels;
    format.nSamplesPerSec = kRate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 2 * kChannels;
    format.nAvgBytesPerSec = format.nBlockAlign * kRate;
    const int fd = ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !encoder->StartBufferBased(&format, int64_t(fs::file_size(input)))) {
        std::fprintf(stderr, "cannot start: %s\n",
                     ZrTakeSysString(encoder->GetProperty(u"Last Error")).ToUtf8().c_str());
        std::exit(1);
    }
    std::vector<uint8_t> buffer(kBufferBytes);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got <= 0)
            break;
        if (!encoder->EncodeBuffer(buffer.data(), uint64_t(got))) {
            std::fprintf(stderr, "encode failed: %s\n",
                         ZrTakeSysString(encoder->GetProperty(u"Last Error")).ToUtf8().c_str());
            std::exit(1);
        }
    }
    ::close(fd);
    encoder->FinishBufferBased();
    encoder.reset();

    Measure m;
    m.Cpu = CpuOfSelf() - cpuStart;
    m.Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return m;
}

// Runs a program without a shell; its wall time and the CPU time the kernel charged to it.
Measure RunProgram(std::vector<std::string> argv) {
    std::vector<char*> args;
    for (std::string& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", args[0]);
        std::exit(1);
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", args[0]);
        std::exit(1);
    }
    Measure m;
    m.Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.Cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    return m;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s WORKDIR [SECONDS=600] [RUNS=3] [LEVEL=6]\n", argv[0]);
        return 2;
    }
    const fs::path dir = argv[1];
    const uint32_t seconds = argc > 2 ? uint32_t(std::atoi(argv[2])) : 600;
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    const int level = argc > 4 ? std::atoi(argv[4]) : 6;
    fs::create_directories(dir);
    const fs::path input = dir / "input.raw";
    const fs::path ours = dir / "ours.flac";
    const fs::path theirs = dir / "flac.flac";
    const uint64_t inputBytes = uint64_t{kRate} * kChannels * 2 * seconds;
    if (!fs::exists(input) || fs::file_size(input) != inputBytes)
        Generate(input, seconds);

    const std::string levelFlag = "-" + std::to_string(level);
    const std::vector<std::string> flacCommand = {"flac",
                                                  levelFlag,
                                                  "-s",
                                                  "-f",
                                                  "--force-raw-format",
                                                  "--endian=little",
                                                  "--sign=signed",
                                                  "--channels=2",
                                                  "--bps=16",
                                                  "--sample-rate=44100",
                                                  "-o",
                                                  theirs.string(),
                                                  input.string()};

    Measure bestOurs{1e9, 1e9}, bestTheirs{1e9, 1e9};
    // Each pair runs back to back under about the same load; the median of their ratios is
    // steadier than a ratio of minimums when neighbours come and go.
    std::vector<double> pairRatios;
    for (int run = 0; run < runs; ++run) {
        const Measure a = EncodeOurs(input, ours, level);
        const Measure b = RunProgram(flacCommand);
        std::printf("run %d: ours %.3f s wall %.3f s cpu | flac %.3f s wall %.3f s cpu\n", run + 1,
                    a.Wall, a.Cpu, b.Wall, b.Cpu);
        pairRatios.push_back(b.Cpu / a.Cpu);
        bestOurs = {std::min(bestOurs.Wall, a.Wall), std::min(bestOurs.Cpu, a.Cpu)};
        bestTheirs = {std::min(bestTheirs.Wall, b.Wall), std::min(bestTheirs.Cpu, b.Cpu)};
    }
    RunProgram({"flac", "-t", "-s", "-w", ours.string()});

    const double oursSize = double(fs::file_size(ours));
    const double theirSize = double(fs::file_size(theirs));
    std::printf("input: %u s stereo 16-bit 44100 Hz, %.1f MB, level %d, best of %d\n", seconds,
                double(inputBytes) / 1e6, level, runs);
    std::printf("ours: %.3f s cpu, %.3f s wall, %.0f bytes\n", bestOurs.Cpu, bestOurs.Wall,
                oursSize);
    std::printf("flac: %.3f s cpu, %.3f s wall, %.0f bytes\n", bestTheirs.Cpu, bestTheirs.Wall,
                theirSize);
    std::printf("speed ratio (flac time / our time): %.3f cpu, %.3f wall (target >= 0.95)\n",
                bestTheirs.Cpu / bestOurs.Cpu, bestTheirs.Wall / bestOurs.Wall);
    std::sort(pairRatios.begin(), pairRatios.end());
    const size_t mid = pairRatios.size() / 2;
    const double median =
        pairRatios.size() % 2 ? pairRatios[mid] : (pairRatios[mid - 1] + pairRatios[mid]) / 2;
    std::printf("speed ratio, median of the %d paired runs: %.3f cpu\n", runs, median);
    std::printf("size ratio (ours / flac): %.4f (target within 0.995 .. 1.005)\n",
                oursSize / theirSize);
    return 0;
}
