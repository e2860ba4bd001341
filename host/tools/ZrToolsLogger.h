// The host's log (ZrTools::GetLogger).
//
// One line per call: local time with milliseconds, thread id, category, scope and text:
//   2026-12-05 23:10:01.123 [tid 1234] [512] CFlacEncoder::StartBufferBased: Start
// Lines of a multi-line text after the first are indented by a tab.
//
// TESSARY_LOG (read once, at the first use; any case) chooses where lines go:
//   unset or "file"   appended to <data folder>/logs/zr.log; at 8 MiB the file becomes
//                     zr.log.1 (replacing the previous one) and a new zr.log starts
//   "stderr"          standard error
//   "off", "none", "0" nowhere
// When the log file cannot be opened nothing is logged. Every line is one write() to a file
// opened for appending, so lines of several threads and processes never mix.
#pragma once

#include "tessary/ZrTools.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

// The category of the tools library's own lines (store warnings and the like).
inline constexpr uint32_t ZrLogCategoryTools = 1;

class ZrToolsLogger final : public IZrLogger {
public:
    static ZrToolsLogger& Instance();

    bool IsEnabled(uint32_t category) override;
    void Write(uint32_t category, const char16_t* scope, const char16_t* text) override;
    void WriteUtf8(uint32_t category, std::string_view scope, std::string_view text);

    // The line as written, with its final newline.
    static std::string FormatLine(const timespec& now, long threadId, uint32_t category,
                                  std::string_view scope, std::string_view text);

    static constexpr uint64_t RotateBytes = 8u << 20;

    ZrToolsLogger() = default;
    ~ZrToolsLogger() = default;

private:
    enum class Mode { Unknown, File, Stderr, Off };

    Mode CurrentMode();
    void Start();
    bool OpenFile();
    void RotateIfNeeded();

    std::atomic<Mode> m_mode{Mode::Unknown};
    std::mutex m_lock;
    std::string m_path;
    int m_fd = -1;
    uint64_t m_size = 0;
};

// A line of the tools library itself, under `scope`.
void ZrToolsLog(std::string_view scope, std::string_view text);
