// Runs an encoder program with its standard input on a pipe and feeds it audio. The "pipe" is a
// Unix stream socket pair: the child reads it as it would a pipe, and it wakes the writer far
// less often (see Start).
//
// The program is started directly from an argument vector (the command line is split by the
// Windows rules, see ZrSplitCommandLine), never through a shell. A first token without a slash
// is looked up on PATH. The child gets the pipe as standard input, /dev/null as standard output
// and error, and no other descriptor of ours; our own standard input is never touched. There is
// no limit of our own on the length of a command line: the system's (ARG_MAX) is the only one.
//
// Every write runs on a short-lived thread while the caller watches the child, so a child that
// dies or stalls can never hang the encoding thread, and a dead child gives a failed write, never
// a SIGPIPE. A child that ignores the end of its input is killed 10 s after Close and reaped.
#pragma once

#include "foundation/ZrString.h"
#include "foundation/ZrThread.h"

#include <atomic>
#include <cstdint>
#include <sys/types.h>

class CEncoderPipe {
public:
    CEncoderPipe() = default;
    CEncoderPipe(const CEncoderPipe&) = delete;
    CEncoderPipe& operator=(const CEncoderPipe&) = delete;
    virtual ~CEncoderPipe();

    // `commandLine`: the program (first token, quoted when it has blanks) and its arguments.
    // True when the child runs; otherwise StartError says why.
    bool Start(const ZrString& commandLine);
    // True only when every byte reached the child's input.
    bool Write(const void* buffer, uint32_t count);
    // Ends the child's input and waits for it (killing it after 10 s). Safe to call twice and
    // on a pipe that never started.
    void Close();

    // Why the last Start failed ("Cannot start "lame": No such file or directory"); empty after
    // a successful one.
    const ZrString& StartError() const { return m_startError; }
    // The running child's process id; 0 when none.
    pid_t ProcessId() const { return m_process; }
    // The child's exit code as Close found it; -1 when it was killed, ended by a signal or was
    // never started.
    int ExitCode() const { return m_exitCode; }

    // Tests only: how long Close waits for the child before killing it (10000 ms).
    static void SetCloseTimeout(int32_t ms) { s_closeTimeoutMs.store(ms); }

private:
    // True once the child has ended (without reaping it), waiting up to `timeoutMs`.
    bool WaitForChild(int32_t timeoutMs) const;

    static std::atomic<int32_t> s_closeTimeoutMs;

    int m_writeHandle = -1; // close-on-exec; written with MSG_DONTWAIT
    pid_t m_process = 0;
    int m_processFd = -1; // pidfd of the child: readable once it has ended; -1 when unavailable
    int m_exitCode = -1;
    ZrString m_startError;
};

// One write of a whole buffer into the pipe on its own thread; the constructor does it all: it
// starts the thread, watches the child in 500 ms steps while the thread writes, and stops the
// thread (500 ms) once it has written or the child has ended.
class CEncoderPipeWriteThread : public ZrThread {
public:
    // `processFd`: the child's pidfd, or -1 to watch `process` by polling.
    CEncoderPipeWriteThread(int writeHandle, const void* buffer, uint32_t count, int processFd,
                            pid_t process = 0);
    ~CEncoderPipeWriteThread() override;

    bool Written() const { return m_written; }

protected:
    bool Run() override;

private:
    int m_writeHandle;
    const void* m_buffer;
    uint32_t m_count;
    int m_processFd;
    pid_t m_process;
    std::atomic<bool> m_written{false};
};
