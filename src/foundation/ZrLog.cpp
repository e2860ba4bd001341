#include "foundation/ZrLog.h"

#include "tessary/ZrTools.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <iterator>
#include <vector>

namespace {

std::atomic<ZrLoggerProvider> g_provider{nullptr};

IZrLogger* EnabledLogger(uint32_t category) noexcept {
    try {
        IZrLogger* logger = ZrCurrentLogger();
        return logger && logger->IsEnabled(category) ? logger : nullptr;
    } catch (...) {
        return nullptr;
    }
}

ZrString FormatArgs(const char* format, va_list args) {
    char small[512];
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    if (needed < 0) {
        va_end(again);
        return ZrString();
    }
    if (static_cast<size_t>(needed) < sizeof small) {
        va_end(again);
        return ZrString::FromUtf8(std::string_view(small, static_cast<size_t>(needed)));
    }
    std::vector<char> big(static_cast<size_t>(needed) + 1);
    std::vsnprintf(big.data(), big.size(), format, again);
    va_end(again);
    return ZrString::FromUtf8(std::string_view(big.data(), static_cast<size_t>(needed)));
}

// The host's logger is outside code: nothing it throws may reach the logging function.
void Write(IZrLogger* logger, uint32_t category, const char16_t* scope,
           const char16_t* text) noexcept {
    try {
        logger->Write(category, scope, text);
    } catch (...) {
        // The line is lost; the operation that logged it carries on.
    }
}

void Write(IZrLogger* logger, uint32_t category, const char16_t* scope, const char* text) noexcept {
    char16_t wide[64];
    size_t i = 0;
    for (; text[i] && i + 1 < std::size(wide); ++i)
        wide[i] = static_cast<unsigned char>(text[i]);
    wide[i] = 0;
    Write(logger, category, scope, wide);
}

} // namespace

void ZrSetLoggerProvider(ZrLoggerProvider provider) {
    g_provider.store(provider);
}

IZrLogger* ZrCurrentLogger() {
    const ZrLoggerProvider provider = g_provider.load(std::memory_order_relaxed);
    return provider ? provider() : nullptr;
}

ZrTraceScope::ZrTraceScope(const char16_t* name, uint32_t category, bool traced) noexcept
    : m_logger(traced ? EnabledLogger(category) : nullptr), m_name(name), m_category(category),
      m_traced(traced) {
    if (m_logger) {
        m_start = std::chrono::steady_clock::now();
        Write(m_logger, m_category, m_name, u"Start");
    }
}

ZrTraceScope::~ZrTraceScope() {
    if (!m_logger)
        return;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - m_start)
                             .count();
    char line[64];
    if (m_hasResult)
        std::snprintf(line, sizeof line, "Finish (result: %d) (%d ms)", m_result, int(elapsed));
    else
        std::snprintf(line, sizeof line, "Finish (%d ms)", int(elapsed));
    Write(m_logger, m_category, m_name, line);
}

IZrLogger* ZrTraceScope::LineLogger() const noexcept {
    if (m_logger || m_traced)
        return m_logger;
    return EnabledLogger(m_category);
}

void ZrTraceScope::Log(const ZrString& line) noexcept {
    if (IZrLogger* logger = LineLogger())
        Write(logger, m_category, m_name, line.c_str());
}

void ZrTraceScope::Log(const char* format, ...) noexcept {
    IZrLogger* logger = LineLogger();
    if (!logger)
        return;
    va_list args;
    va_start(args, format);
    try {
        const ZrString line = FormatArgs(format, args);
        Write(logger, m_category, m_name, line.c_str());
    } catch (...) {
        // Out of memory for the line: it is dropped.
    }
    va_end(args);
}

void ZrLogLine(const char16_t* scope, const ZrString& line, uint32_t category) noexcept {
    if (IZrLogger* logger = EnabledLogger(category))
        Write(logger, category, scope, line.c_str());
}
