// The terminal side: raw mode, the alternate screen, reading keys, drawing the dialog.
#include "ui/ZrTerminalDialog.h"
#include "ui/ZrUIServiceImpl.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

int TerminalColumns(int fd) {
    struct winsize size {};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

// Raw input and the alternate screen for the life of the object; everything restored after.
class TerminalSession {
public:
    TerminalSession(int in, int out) : m_in(in), m_out(out) {
        if (::tcgetattr(m_in, &m_saved) != 0)
            return;
        termios raw = m_saved;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
        raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        m_ok = ::tcsetattr(m_in, TCSAFLUSH, &raw) == 0;
        WriteAll(m_out, "\x1b[?1049h\x1b[?25l");
    }
    ~TerminalSession() {
        WriteAll(m_out, "\x1b[?25h\x1b[?1049l");
        if (m_ok)
            ::tcsetattr(m_in, TCSAFLUSH, &m_saved);
    }
    bool Ok() const { return m_ok; }

    void Draw(const std::vector<std::string>& lines) {
        std::string frame = "\x1b[H\x1b[2J";
        for (const auto& line : lines)
            frame += "  " + line + "\r\n";
        WriteAll(m_out, frame);
    }

    // The next key; false when input ended or failed.
    bool ReadKey(ZrKeyEvent& event) {
        for (;;) {
            if (m_decoder.Next(event, false))
                return true;
            struct pollfd p {
                m_in, POLLIN, 0
            };
            // A lone Escape byte is the Escape key when nothing follows it quickly.
            const int ready = ::poll(&p, 1, m_awaitingEscape ? 40 : -1);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready == 0) {
                m_awaitingEscape = false;
                if (m_decoder.Next(event, true))
                    return true;
                continue;
            }
            char buffer[64];
            const ssize_t n = ::read(m_in, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            m_decoder.Feed(buffer, static_cast<size_t>(n));
            m_awaitingEscape = buffer[n - 1] == '\x1b';
        }
    }

private:
    int m_in, m_out;
    termios m_saved{};
    bool m_ok = false;
    bool m_awaitingEscape = false;
    ZrKeyDecoder m_decoder;
};

class TerminalRenderer final : public IZrFormRenderer {
public:
    int32_t RunForm(IZrForm& form) override {
        TerminalSession session(STDIN_FILENO, STDOUT_FILENO);
        ZrTerminalDialog dialog(form, TerminalColumns(STDOUT_FILENO));
        if (!session.Ok()) {
            form.OnCancelPressed();
            return ZrModalCancel;
        }
        ZrKeyEvent key;
        for (;;) {
            session.Draw(dialog.Render());
            if (!session.ReadKey(key)) {
                form.OnCancelPressed();
                return ZrModalCancel;
            }
            switch (dialog.Handle(key)) {
            case ZrTerminalDialog::Outcome::Ok:
                return ZrModalOk;
            case ZrTerminalDialog::Outcome::Cancel:
                return ZrModalCancel;
            case ZrTerminalDialog::Outcome::Open:
                break;
            }
        }
    }

    int32_t ShowMessage(const std::string& title, const std::string& text,
                        int32_t buttons) override {
        TerminalSession session(STDIN_FILENO, STDOUT_FILENO);
        ZrTerminalMessage message(title, text, buttons, TerminalColumns(STDOUT_FILENO) - 4);
        if (!session.Ok())
            return ZrModalCancel;
        ZrKeyEvent key;
        for (;;) {
            session.Draw(message.Render());
            if (!session.ReadKey(key))
                return ZrModalCancel;
            switch (message.Handle(key)) {
            case ZrTerminalDialog::Outcome::Ok:
                return ZrModalOk;
            case ZrTerminalDialog::Outcome::Cancel:
                return ZrModalCancel;
            case ZrTerminalDialog::Outcome::Open:
                break;
            }
        }
    }
};

} // namespace

std::unique_ptr<IZrFormRenderer> CreateTerminalRenderer() {
    const char* ui = std::getenv("TESSARY_UI");
    if (ui && std::strcmp(ui, "none") == 0)
        return nullptr;
    if (!::isatty(STDIN_FILENO) || !::isatty(STDOUT_FILENO))
        return nullptr;
    return std::make_unique<TerminalRenderer>();
}
