// The encoder pipe's own cost. Generated 16-bit stereo PCM goes
//   1. through CEncoderPipe into /bin/cat (whose output is /dev/null), in host-sized blocks;
//   2. from a file through `cat FILE` into /dev/null;
//   3. from the same file through `lame -V 4` into /dev/null;
// and the CPU time (ours and the children's, from getrusage) and throughput are compared.
//
//   bench_pipe [SECONDS] [BLOCK_BYTES]       defaults: 600 s, 131072 bytes (zrenc's block)
#include "external/EncoderPipe.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Cost {
    double wall = 0, self = 0, children = 0; // seconds
};

double CpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

template <typename F>
Cost Measure(F&& run) {
    const double self = CpuSeconds(RUSAGE_SELF), children = CpuSeconds(RUSAGE_CHILDREN);
    const auto start = std::chrono::steady_clock::now();
    if (!run()) {
        std::fprintf(stderr, "a run failed\n");
        std::exit(1);
    }
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    return {wall.count(), CpuSeconds(RUSAGE_SELF) - self, CpuSeconds(RUSAGE_CHILDREN) - children};
}

// Runs a program with its output on /dev/null and waits for it; true when it exited with 0.
bool RunQuietly(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t child = 0;
    const int error = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return error == 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// Two tones and a little noise: enough for lame to work as it does on music.
std::vector<uint8_t> MakeAudio(size_t frames) {
    std::vector<uint8_t> pcm(frames * 4);
    uint32_t noise = 12345;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / 44100;
        for (int channel = 0; channel < 2; ++channel) {
            noise = noise * 1664525u + 1013904223u;
            const double value = 8000 * std::sin(2 * M_PI * (channel ? 440 : 554.37) * t) +
                                 4000 * std::sin(2 * M_PI * 3 * t * t) +
                                 static_cast<int32_t>(noise >> 20) - 2048;
            const auto sample = static_cast<int16_t>(value);
            pcm[i * 4 + channel * 2] = static_cast<uint8_t>(sample & 0xff);
            pcm[i * 4 + channel * 2 + 1] = static_cast<uint8_t>((sample >> 8) & 0xff);
        }
    }
    return pcm;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 600;
    const size_t block = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 131072;
    if (seconds <= 0 || block == 0 || block % 4 || block > UINT32_MAX) {
        std::fprintf(stderr, "usage: bench_pipe [SECONDS] [BLOCK_BYTES, whole frames]\n");
        return 2;
    }
    const std::vector<uint8_t> pcm = MakeAudio(static_cast<size_t>(seconds * 44100));
    const double mb = pcm.size() / 1e6;

    const char* tmp = std::getenv("TMPDIR");
    std::string file = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench-pipe-XXXXXX";
    const int fd = ::mkstemp(file.data());
    if (fd < 0 || ::write(fd, pcm.data(), pcm.size()) != static_cast<ssize_t>(pcm.size()) ||
        ::close(fd) != 0) {
        std::fprintf(stderr, "cannot write %s\n", file.c_str());
        return 1;
    }

    const auto throughPipe = [&] {
        CEncoderPipe pipe;
        bool ok = pipe.Start(u"/bin/cat");
        for (size_t offset = 0; ok && offset < pcm.size(); offset += block)
            ok = pipe.Write(pcm.data() + offset,
                            static_cast<uint32_t>(std::min(block, pcm.size() - offset)));
        pipe.Close();
        return ok && pipe.ExitCode() == 0;
    };
    // Best of three for the short runs; the first of each warms the page cache.
    Cost piped, catted;
    for (int run = 0; run < 3; ++run) {
        const Cost p = Measure(throughPipe);
        if (run == 0 || p.self + p.children < piped.self + piped.children)
            piped = p;
        const Cost c = Measure([&] { return RunQuietly({"cat", file}); });
        if (run == 0 || c.children < catted.children)
            catted = c;
    }
    const Cost lame = Measure([&] {
        return RunQuietly({"lame", "--quiet", "-r", "-s", "44.1", "--bitwidth", "16", "--signed",
                           "--little-endian", "-m", "j", "-V", "4", file, "/dev/null"});
    });
    ::unlink(file.c_str());

    std::printf("audio: %.0f s of 16-bit stereo 44.1 kHz (%.1f MB), pipe writes of %zu bytes\n",
                seconds, mb, block);
    std::printf("CEncoderPipe -> /bin/cat: %.3f s wall (%.0f MB/s), CPU %.3f s ours + %.3f s cat\n",
                piped.wall, mb / piped.wall, piped.self, piped.children);
    std::printf("cat FILE >/dev/null:      %.3f s wall (%.0f MB/s), CPU %.3f s\n", catted.wall,
                mb / catted.wall, catted.children);
    std::printf("lame -V 4:                %.3f s wall, CPU %.3f s\n", lame.wall, lame.children);
    std::printf("CPU ratio pipe (ours + cat) / cat FILE: %.2f\n",
                (piped.self + piped.children) / catted.children);
    std::printf("throughput ratio pipe / cat FILE: %.2f\n", catted.wall / piped.wall);
    std::printf("pipe's own CPU / lame's CPU: %.2f %% (target < 2 %%)\n",
                100 * piped.self / lame.children);
    return 0;
}
