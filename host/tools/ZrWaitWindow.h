// The wait window on a terminal: after the delay, one status line with a spinner on the
// controlling terminal, redrawn every 100 ms until Close clears it. It is shown only when
// standard error is a terminal, /dev/tty opens and the process is in the terminal's foreground;
// otherwise Show returns false and nothing is shown or can be cancelled.
//
// A small thread of the window waits out the delay, draws and reads the keys: while the line is
// shown the terminal is in raw mode, so Escape and Ctrl-C reach the window instead of the
// process's signal handlers; either calls the cancel callback once, on that thread. The
// terminal's settings come back on Close, on a new Show and at process exit. The flags of Show
// are not used.
#pragma once

#include "tessary/ZrToolsServices.h"

#include <memory>
#include <mutex>
#include <thread>

class ZrWaitWindow final : public IZrWaitWindow {
public:
    static ZrWaitWindow& Instance();

    bool Show(const char16_t* status, uint32_t delayMs, uint32_t flags,
              IZrWaitMessageCallback* cancel) override;
    void Close() override;

private:
    struct Shown;
    std::mutex m_lock;
    std::unique_ptr<Shown> m_shown;
};
