#include "zrenc/Display.h"

#include "foundation/ZrTextWidth.h"
#include "foundation/ZrUtf.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace zrenc {

namespace {

std::string Printable(const std::string& text) {
    return ForDisplay(text);
}

std::string Printf(const char* format, double a) {
    char text[64];
    std::snprintf(text, sizeof text, format, a);
    return text;
}

} // namespace

std::string ForDisplay(const std::string& text) {
    std::string out = ZrEscapeInvalidUtf8(text);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return out;
}

std::string FormatBytes(uint64_t bytes) {
    static const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes);
    int unit = -1;
    while (value >= 1024.0 && unit < 3) {
        value /= 1024.0;
        ++unit;
    }
    const char* format = value < 10 ? "%.2f %s" : value < 100 ? "%.1f %s" : "%.0f %s";
    char text[32];
    std::snprintf(text, sizeof text, format, value, units[unit]);
    return text;
}

std::string FormatDuration(double seconds) {
    if (!(seconds >= 0))
        seconds = 0;
    const auto total = static_cast<long long>(std::llround(seconds));
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                      total % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    return text;
}

size_t TextWidth(const std::string& utf8) {
    return ZrTextColumns(utf8);
}

std::string FitName(const std::string& utf8, size_t width, bool unicode) {
    const std::string clean = Printable(utf8);
    const size_t length = TextWidth(clean);
    if (length <= width)
        return clean;
    if (width == 0)
        return {};
    const size_t head = (width - 1) / 2;
    const size_t tail = width - 1 - head;
    return clean.substr(0, ZrTextPrefixBytes(clean, head)) + (unicode ? "…" : "~") +
           clean.substr(ZrTextSuffixStart(clean, tail));
}

std::string FormatRow(const ProgressRow& row, size_t width, bool unicode, size_t nameColumn) {
    const double fraction = std::clamp(row.fraction, 0.0, 1.0);
    std::string tail = Printf("%3.0f%%", std::floor(fraction * 100));
    tail += row.speed > 0 ? Printf("  %6.1fx", row.speed) : "         ";
    tail += row.secondsLeft >= 0 ? "  " + FormatDuration(row.secondsLeft) + " left" : "";
    // name  [bar]  tail: the bar takes what is left, between 10 and 30 columns.
    const size_t tailWidth = TextWidth(tail);
    size_t nameWidth = std::min<size_t>(std::max(nameColumn, TextWidth(row.name)), 40);
    size_t barWidth = 0;
    if (width > nameWidth + tailWidth + 2 + 14)
        barWidth = std::min<size_t>(30, width - nameWidth - tailWidth - 6);
    if (barWidth < 10) {
        barWidth = 0;
        nameWidth = width > tailWidth + 2 ? std::min(nameWidth, width - tailWidth - 2) : 0;
    }
    std::string line = FitName(row.name, nameWidth, unicode);
    line.append(nameWidth - TextWidth(line) + 2, ' ');
    if (barWidth) {
        const auto filled = static_cast<size_t>(std::floor(fraction * barWidth));
        line += unicode ? "" : "[";
        for (size_t i = 0; i < barWidth; ++i)
            line += i < filled ? (unicode ? "█" : "#") : (unicode ? "░" : "-");
        line += unicode ? "  " : "]  ";
    }
    line += tail;
    return line.substr(0, ZrTextPrefixBytes(line, width));
}

std::string FormatSummary(const RunTotals& t) {
    std::string text =
        std::to_string(t.succeeded) + (t.succeeded == 1 ? " file" : " files") + " encoded";
    if (t.failed)
        text += ", " + std::to_string(t.failed) + " failed";
    text += " in " + FormatDuration(t.seconds);
    if (t.succeeded) {
        text += ": " + FormatBytes(t.bytesIn) + " in, " + FormatBytes(t.bytesOut) + " out";
        if (t.bytesIn)
            text += Printf(" (%.1f%%)", 100.0 * static_cast<double>(t.bytesOut) /
                                            static_cast<double>(t.bytesIn));
        if (t.seconds > 0 && t.audioSeconds > 0)
            text += Printf(", %.1fx real time", t.audioSeconds / t.seconds);
    }
    return text;
}

Display::Display(std::FILE* out, bool live) : m_out(out), m_live(live) {
    const char* codeset = nl_langinfo(CODESET);
    m_unicode = codeset && std::strcmp(codeset, "UTF-8") == 0;
}

Display::~Display() {
    Clear();
}

size_t Display::Width() const {
    winsize size{};
    if (::ioctl(fileno(m_out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col - 1; // the last column would wrap on some terminals
    return 79;
}

void Display::Erase() {
    if (!m_live || m_drawn == 0)
        return;
    std::fprintf(m_out, "\x1b[%zuF\x1b[J", m_drawn); // to the first live line, then clear below
    m_drawn = 0;
}

void Display::Redraw() {
    if (!m_live)
        return;
    const size_t width = Width();
    // One name column for all rows, so that the bars line up.
    size_t nameWidth = 0;
    for (const ProgressRow& row : m_rows)
        nameWidth = std::max(nameWidth, TextWidth(row.name));
    for (const ProgressRow& row : m_rows)
        std::fprintf(m_out, "%s\n", FormatRow(row, width, m_unicode, nameWidth).c_str());
    m_drawn = m_rows.size();
    std::fflush(m_out);
}

void Display::Draw(const std::vector<ProgressRow>& rows) {
    if (!m_live)
        return;
    Erase();
    m_rows = rows;
    Redraw();
}

// Lines above the live rows take their place; the next Draw brings the rows back, without the
// job that has just ended.
void Display::Note(const std::string& line) {
    if (!m_live)
        return;
    Erase();
    std::fprintf(m_out, "%s\n", Printable(line).c_str());
    std::fflush(m_out);
}

void Display::Error(const std::string& line) {
    Erase();
    std::fprintf(m_out, "%s\n", Printable(line).c_str());
    std::fflush(m_out);
}

void Display::Clear() {
    Erase();
    m_rows.clear();
    std::fflush(m_out);
}

} // namespace zrenc
