// Runs a program and reports its wall-clock time and peak resident memory:
//   zrenc_peakrss PROGRAM ARGS...
//   -> "seconds=1.234 cpu_seconds=1.100 peak_kib=5678 status=0" on stderr
// The program's own output passes through.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: zrenc_peakrss PROGRAM ARGS...\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("fork");
        return 2;
    }
    if (pid == 0) {
        ::execvp(argv[1], argv + 1);
        std::fprintf(stderr, "cannot run %s: %s\n", argv[1], std::strerror(errno));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("wait4");
            return 2;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    const auto cpu = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    std::fprintf(stderr, "seconds=%.3f cpu_seconds=%.3f peak_kib=%ld status=%d\n", seconds,
                 cpu(usage.ru_utime) + cpu(usage.ru_stime), usage.ru_maxrss, code);
    return code;
}
