#include "tools/ZrWaitWindow.h"

#include "foundation/ZrTextWidth.h"
#include "foundation/ZrUtf.h"
#include "tools/ZrNoDestroy.h"
#include "tools/ZrToolsFiles.h"

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int FrameMs = 100;
constexpr int EscapeMs = 40; // a lone Escape byte is the key when nothing follows this soon

// The terminal settings to put back if the process ends while the line is shown.
std::atomic<int> g_rawTerminal{-1};
termios g_savedSettings{};

void Restore(int tty) {
    ::tcsetattr(tty, TCSANOW, &g_savedSettings);
    ZrToolsFiles::WriteAll(tty, "\r\x1b[K\x1b[?25h");
}

void RestoreAtExit() {
    if (const int tty = g_rawTerminal.exchange(-1); tty >= 0)
        Restore(tty);
}

class RawMode {
public:
    explicit RawMode(int tty) {
        static const bool registered = std::atexit(&RestoreAtExit) == 0;
        if (!registered || ::tcgetattr(tty, &g_savedSettings) != 0)
            return;
        termios raw = g_savedSettings;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        if (::tcsetattr(tty, TCSANOW, &raw) == 0)
            g_rawTerminal.store(tty);
    }
    ~RawMode() { RestoreAtExit(); }
    bool Ok() const { return g_rawTerminal.load() >= 0; }
};

int Columns(int tty) {
    winsize size{};
    return ::ioctl(tty, TIOCGWINSZ, &size) == 0 && size.ws_col > 4 ? size.ws_col : 80;
}

} // namespace

struct ZrWaitWindow::Shown {
    int Tty = -1;
    int Stop = -1; // eventfd: Close
    std::string Status;
    IZrWaitMessageCallback* Cancel = nullptr;
    std::thread Thread;

    ~Shown() {
        if (Thread.joinable()) {
            const uint64_t one = 1;
            if (::write(Stop, &one, sizeof one) == sizeof one)
                Thread.join();
            else
                Thread.detach(); // cannot happen with a valid eventfd; never block Close
        }
        if (Stop >= 0)
            ::close(Stop);
        if (Tty >= 0)
            ::close(Tty);
    }

    // True when Close came during the wait.
    bool Stopped(int timeoutMs) {
        pollfd stop{Stop, POLLIN, 0};
        return ::poll(&stop, 1, timeoutMs) == 1;
    }

    // Whether the bytes read are a cancelling key; a lone Escape waits briefly for the rest of a
    // longer key's sequence.
    bool CancelKey(const char* bytes, ssize_t count) {
        for (ssize_t i = 0; i < count; ++i)
            if (bytes[i] == '\x03')
                return true;
        if (count != 1 || bytes[0] != '\x1b')
            return false;
        pollfd more{Tty, POLLIN, 0};
        return ::poll(&more, 1, EscapeMs) == 0;
    }

    void Run(uint32_t delayMs) {
        if (Stopped(static_cast<int>(delayMs)))
            return;
        const RawMode raw(Tty);
        if (!raw.Ok())
            return;
        static const char spinner[] = "|/-\\";
        bool cancelled = false;
        for (unsigned frame = 0;; ++frame) {
            const size_t room = static_cast<size_t>(Columns(Tty) - 3);
            ZrToolsFiles::WriteAll(Tty, std::string("\r\x1b[?25l") + spinner[frame % 4] + " " +
                                            Status.substr(0, ZrTextPrefixBytes(Status, room)) +
                                            "\x1b[K");
            pollfd ready[2] = {{Stop, POLLIN, 0}, {Tty, POLLIN, 0}};
            if (::poll(ready, 2, FrameMs) < 0 && errno != EINTR)
                return;
            if (ready[0].revents)
                return;
            if (ready[1].revents & (POLLERR | POLLHUP | POLLNVAL))
                return;
            if (ready[1].revents & POLLIN) {
                char bytes[64];
                const ssize_t count = ::read(Tty, bytes, sizeof bytes);
                if (!cancelled && count > 0 && CancelKey(bytes, count) && Cancel) {
                    cancelled = true;
                    Cancel->OnWaitCancelled();
                }
            }
        }
    }
};

ZrWaitWindow& ZrWaitWindow::Instance() {
    static ZrNoDestroy<ZrWaitWindow> window;
    return window.Value;
}

bool ZrWaitWindow::Show(const char16_t* status, uint32_t delayMs, uint32_t,
                        IZrWaitMessageCallback* cancel) {
    std::lock_guard guard(m_lock);
    m_shown.reset();
    if (!::isatty(STDERR_FILENO))
        return false;
    auto shown = std::make_unique<Shown>();
    shown->Tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    shown->Stop = ::eventfd(0, EFD_CLOEXEC);
    if (shown->Tty < 0 || shown->Stop < 0 || ::tcgetpgrp(shown->Tty) != ::getpgrp())
        return false;
    shown->Status = ZrUtf16ToUtf8(status ? status : u"");
    shown->Cancel = cancel;
    Shown* const window = shown.get();
    shown->Thread = std::thread([window, delayMs] { window->Run(delayMs); });
    m_shown = std::move(shown);
    return true;
}

void ZrWaitWindow::Close() {
    std::lock_guard guard(m_lock);
    m_shown.reset();
}
