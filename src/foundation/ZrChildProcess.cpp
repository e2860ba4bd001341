#include "foundation/ZrChildProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

int ZrSpawnProgram(std::vector<std::string>& arguments, const ZrSpawnOptions& options,
                   pid_t& process) {
    if (arguments.empty() || arguments[0].empty())
        return ENOENT;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (int error = ::posix_spawn_file_actions_init(&actions))
        return error;
    if (int error = ::posix_spawnattr_init(&attributes)) {
        ::posix_spawn_file_actions_destroy(&actions);
        return error;
    }
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    int error =
        options.standardInput >= 0
            ? ::posix_spawn_file_actions_adddup2(&actions, options.standardInput, STDIN_FILENO)
            : ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (!error)
        error =
            ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (!error)
        error = ::posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    // Whatever the host left open without close-on-exec stays ours.
    if (!error)
        error = ::posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    if (!error && !options.workingFolder.empty())
        error = ::posix_spawn_file_actions_addchdir_np(&actions, options.workingFolder.c_str());
    if (!error)
        error = ::posix_spawnattr_setsigmask(&attributes, &none);
    if (!error)
        error = ::posix_spawnattr_setsigdefault(&attributes, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (!error && options.ownProcessGroup) {
        error = ::posix_spawnattr_setpgroup(&attributes, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    if (!error)
        error = ::posix_spawnattr_setflags(&attributes, flags);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (!error)
        error = ::posix_spawnp(&process, argv[0], &actions, &attributes, argv.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    return error;
}

// Through the system calls: glibc 2.36's <sys/pidfd.h> cannot be included from C++.
int ZrOpenProcessDescriptor(pid_t process) {
    return static_cast<int>(::syscall(SYS_pidfd_open, process, 0u));
}

bool ZrChildHasEnded(pid_t process) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(process), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return errno != EINTR; // ECHILD: reaped behind our back, so gone as well
    return info.si_pid != 0;
}

void ZrKillChild(pid_t process, int processFd) {
    if (processFd < 0 || ::syscall(SYS_pidfd_send_signal, processFd, SIGKILL, nullptr, 0u) != 0)
        ::kill(process, SIGKILL);
}

int ZrReapChild(pid_t process) {
    int status = 0;
    pid_t reaped;
    while ((reaped = ::waitpid(process, &status, 0)) < 0 && errno == EINTR) {
    }
    return reaped == process ? status : -1;
}
