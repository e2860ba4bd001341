#include "support/TerminalRun.h"

#include <cerrno>
#include <cstdlib>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zrtest {

RunResult RunOnTerminal(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    RunResult result;
    if (argv.empty())
        return result;
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    struct winsize size {};
    size.ws_col = 120;
    size.ws_row = 40;
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, &size);
    if (child < 0)
        return result;
    if (child == 0) {
        for (const std::string& e : env)
            ::putenv(const_cast<char*>(e.c_str()));
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) // EIO once the child's side is closed
            break;
        result.Output.append(buffer, static_cast<size_t>(n));
    }
    ::close(terminal);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace zrtest
