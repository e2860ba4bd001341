#include "external/EncoderPipe.h"

#include "foundation/ZrChildProcess.h"
#include "foundation/ZrCommandLine.h"
#include "foundation/ZrLog.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int BufferBytes = 65536;
constexpr int32_t WatchStepMs = 500;
constexpr int32_t WriterStopMs = 500;

// Closes the descriptor it holds unless released.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int Get() const { return m_fd; }
    int Release() { return std::exchange(m_fd, -1); }
    void Reset(int fd = -1) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

// Moves a descriptor above the standard ones: when our own 0-2 are closed, socketpair may return
// them, and duplicating a descriptor onto itself would leave it close-on-exec in the child.
bool KeepOffStandard(UniqueFd& fd) {
    if (fd.Get() > 2)
        return true;
    const int moved = ::fcntl(fd.Get(), F_DUPFD_CLOEXEC, 3);
    if (moved < 0)
        return false;
    fd.Reset(moved);
    return true;
}

} // namespace

std::atomic<int32_t> CEncoderPipe::s_closeTimeoutMs{10000};

CEncoderPipe::~CEncoderPipe() {
    Close();
}

bool CEncoderPipe::Start(const ZrString& commandLine) {
    m_startError.Empty();
    m_exitCode = -1;
    const auto fail = [this](const ZrString& reason) {
        m_startError = reason;
        ZrLogLine(u"CEncoderPipe::Start", reason);
        return false;
    };
    if (m_process > 0)
        return fail(u"The encoder program is already running");
    std::vector<std::string> arguments = ZrSplitCommandLine(commandLine.View());
    if (arguments.empty() || arguments[0].empty())
        return fail(u"The encoder's command line names no program");
    const char* program = arguments[0].c_str();

    // A stream socket rather than a pipe: a pipe wakes its writer for every page the reader
    // frees, and the encoder programs read 4 KB at a time, so the writer ran once per 4 KB (about
    // 8 % of the child's time on top of its own). A socket wakes the writer once a quarter of its
    // buffer is free, and the child reads it like a pipe.
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return fail(
            ZrString::Format("Cannot create a pipe for \"%s\": %s", program, std::strerror(errno)));
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);
    if (!KeepOffStandard(readEnd) || !KeepOffStandard(writeEnd))
        return fail(
            ZrString::Format("Cannot create a pipe for \"%s\": %s", program, std::strerror(errno)));
    // The child's input only: what it might write back would never be read.
    ::shutdown(writeEnd.Get(), SHUT_RD);
    // Bounds what a child that has ended seems to have taken (the kernel doubles it for its
    // bookkeeping); the writer wakes with a quarter of it free.
    ::setsockopt(writeEnd.Get(), SOL_SOCKET, SO_SNDBUF, &BufferBytes, sizeof BufferBytes);

    // Nothing of ours but the pipe's read end reaches the child.
    ZrSpawnOptions options;
    options.standardInput = readEnd.Get();
    pid_t process = 0;
    const int error = ZrSpawnProgram(arguments, options, process);
    if (error)
        return fail(ZrString::Format("Cannot start \"%s\": %s", program, std::strerror(error)));

    // Without our copy of the read end, a write into a child that has ended fails at once.
    readEnd.Reset();
    m_writeHandle = writeEnd.Release();
    m_process = process;
    m_processFd = ZrOpenProcessDescriptor(process);
    return true;
}

bool CEncoderPipe::Write(const void* buffer, uint32_t count) {
    if (m_writeHandle < 0)
        return false;
    if (count == 0)
        return true;
    CEncoderPipeWriteThread writer(m_writeHandle, buffer, count, m_processFd, m_process);
    return writer.Written();
}

void CEncoderPipe::Close() {
    if (m_writeHandle >= 0) {
        ::close(m_writeHandle);
        m_writeHandle = -1;
    }
    if (m_process <= 0)
        return;
    const int32_t timeoutMs = s_closeTimeoutMs.load();
    if (!WaitForChild(timeoutMs)) {
        ZrLogLine(u"CEncoderPipe::Close",
                  ZrString::Format("The encoder (pid %d) did not end within %d ms of the end of "
                                   "its input: killed",
                                   static_cast<int>(m_process), timeoutMs));
        ZrKillChild(m_process, m_processFd);
    }
    const int status = ZrReapChild(m_process);
    m_exitCode = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (m_processFd >= 0)
        ::close(m_processFd);
    m_processFd = -1;
    m_process = 0;
}

bool CEncoderPipe::WaitForChild(int32_t timeoutMs) const {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (m_processFd >= 0) {
            pollfd ended{m_processFd, POLLIN, 0};
            const int ready = ::poll(&ended, 1, static_cast<int>(std::max<int64_t>(left, 0)));
            if (ready > 0)
                return true;
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0)
                return ZrChildHasEnded(m_process);
            return false;
        }
        if (ZrChildHasEnded(m_process))
            return true;
        if (left <= 0)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int64_t>(left, 20)));
    }
}

// ---- CEncoderPipeWriteThread ------------------------------------------------------------------

CEncoderPipeWriteThread::CEncoderPipeWriteThread(int writeHandle, const void* buffer,
                                                 uint32_t count, int processFd, pid_t process)
    : m_writeHandle(writeHandle), m_buffer(buffer), m_count(count), m_processFd(processFd),
      m_process(process) {
    if (!Start(CurrentPriority()))
        return;
    // No overall time-out: a child that stalls but lives keeps the write waiting.
    while (IsRunning()) {
        const ZrWaitResult result = Wait(WatchStepMs, m_processFd);
        if (result == ZrWaitResult::Extra || result == ZrWaitResult::Failed)
            break;
        if (m_processFd < 0 && m_process > 0 && ZrChildHasEnded(m_process))
            break;
    }
    Stop(WriterStopMs);
}

CEncoderPipeWriteThread::~CEncoderPipeWriteThread() {
    Stop(WriterStopMs);
}

bool CEncoderPipeWriteThread::Run() {
    const auto* next = static_cast<const uint8_t*>(m_buffer);
    size_t left = m_count;
    while (left > 0) {
        // MSG_NOSIGNAL: a child that has gone gives EPIPE, never a SIGPIPE for the host.
        const ssize_t written = ::send(m_writeHandle, next, left, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written > 0) {
            next += written;
            left -= static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Writable again, or broken: the next send tells which.
            if (WaitForDescriptor(m_writeHandle, POLLOUT, -1) == ZrWaitResult::Extra)
                continue;
        }
        break;
    }
    m_written.store(left == 0);
    return true;
}
