// A child for the pipe tests.
//   pipe_child argv FILE ARGS...  writes ARGS to FILE, each followed by a NUL
//   pipe_child fds FILE           writes "fd -> target" for each open descriptor to FILE
//   pipe_child ignore-eof         reads its input to the end, then waits for a signal
//   pipe_child stall MS           sleeps MS without reading its input, then exits
//   pipe_child orphan             exits at once, leaving a process that holds its input 3 s
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if ((mode == "argv" || mode == "fds") && argc > 2) {
        std::string text;
        if (mode == "argv") {
            for (int i = 3; i < argc; ++i)
                text.append(argv[i], std::strlen(argv[i]) + 1);
        } else if (DIR* folder = ::opendir("/proc/self/fd")) {
            while (const dirent* entry = ::readdir(folder)) {
                if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == ::dirfd(folder))
                    continue;
                char target[512] = {};
                const std::string link = std::string("/proc/self/fd/") + entry->d_name;
                if (::readlink(link.c_str(), target, sizeof target - 1) < 0)
                    continue;
                text += std::string(entry->d_name) + " -> " + target + "\n";
            }
            ::closedir(folder);
        }
        FILE* out = std::fopen(argv[2], "wb");
        if (!out)
            return 1;
        std::fwrite(text.data(), 1, text.size(), out);
        return std::fclose(out) == 0 ? 0 : 1;
    }
    if (mode == "ignore-eof") {
        char buffer[65536];
        while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
        }
        for (;;)
            ::pause();
    }
    if (mode == "orphan") {
        if (::fork() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(3000));
        return 0;
    }
    if (mode == "stall" && argc > 2) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
        return 0;
    }
    return 2;
}
