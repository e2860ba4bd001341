// What zrenc shows on a terminal: a live progress bar per running file, lines for finished
// files and errors, and the closing summary. Off a terminal (or with -q) only errors appear.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zrenc {

struct ProgressRow {
    std::string name;
    double fraction = 0.0;   // 0 to 1
    double speed = 0.0;      // audio seconds per second; 0 while unknown
    double secondsLeft = -1; // -1 while unknown
};

struct RunTotals {
    unsigned succeeded = 0;
    unsigned failed = 0;
    uint64_t bytesIn = 0;
    uint64_t bytesOut = 0;
    double audioSeconds = 0.0;
    double seconds = 0.0;
};

// A text as the terminal gets it: bytes of a name that are not UTF-8 as \xHH, control
// characters (which would move the cursor or fake lines) as "?".
std::string ForDisplay(const std::string& text);

// "0 B", "812 KiB", "12.3 MiB", "4.07 GiB".
std::string FormatBytes(uint64_t bytes);
// "0:07", "12:34", "1:02:03".
std::string FormatDuration(double seconds);
// Terminal columns of text (ZrTextWidth.h): wide characters take two, combining marks none.
size_t TextWidth(const std::string& utf8);
// At most `width` columns; the middle of a longer name gives way to "…" (or "~" in ASCII).
std::string FitName(const std::string& utf8, size_t width, bool unicode);
// One live line, at most `width` columns; the name takes `nameColumn` columns (at most 40) so
// that the bars of several rows line up.
std::string FormatRow(const ProgressRow& row, size_t width, bool unicode, size_t nameColumn = 0);
std::string FormatSummary(const RunTotals& totals);

class Display {
public:
    // `live`: draw progress bars and the summary (a terminal, no -q).
    Display(std::FILE* out, bool live);
    ~Display();
    bool Live() const { return m_live; }

    // Replaces the live rows.
    void Draw(const std::vector<ProgressRow>& rows);
    // A line above the live rows; shown only when live.
    void Note(const std::string& line);
    // An error line above the live rows; always shown.
    void Error(const std::string& line);
    // Removes the live rows.
    void Clear();

private:
    void Erase();
    void Redraw();
    size_t Width() const;

    std::FILE* m_out;
    bool m_live;
    bool m_unicode;
    std::vector<ProgressRow> m_rows;
    size_t m_drawn = 0; // lines of the live area on screen
};

} // namespace zrenc
