#include "foundation/ZrLog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "tessary/ZrTools.h"

namespace {

std::atomic<ZrLoggerProvider> g_provider{nullptr};

IZrLogger* EnabledLogger(uint32_t category) {
    IZrLogger* logger = ZrCurrentLogger();
    return logger && logger->IsEnabled(category) ? logger : nullptr;
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

} // namespace

void ZrSetLoggerProvider(ZrLoggerProvider provider) { g_provider.store(provider); }

IZrLogger* ZrCurrentLogger() {
    const ZrLoggerProvider provider = g_provider.load(std::memory_order_relaxed);
    return provider ? provider() : nullptr;
}

ZrTraceScope::ZrTraceScope(const char16_t* name, uint32_t category, bool enabled)
    : m_logger(enabled ? EnabledLogger(category) : nullptr), m_name(name), m_category(category) {
    if (m_logger) {
        m_start = std::chrono::steady_clock::now();
        m_logger->Write(m_category, m_name, u"Start");
    }
}

ZrTraceScope::~ZrTraceScope() {
    if (!m_logger)
        return;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - m_start)
                             .count();
    const ZrString line =
        m_hasResult ? ZrString::Format("Finish (result: %d) (%d ms)", m_result, int(elapsed))
                    : ZrString::Format("Finish (%d ms)", int(elapsed));
    m_logger->Write(m_category, m_name, line.c_str());
}

void ZrTraceScope::Log(const ZrString& line) {
    if (m_logger)
        m_logger->Write(m_category, m_name, line.c_str());
}

void ZrTraceScope::Log(const char* format, ...) {
    if (!m_logger)
        return;
    va_list args;
    va_start(args, format);
    const ZrString line = FormatArgs(format, args);
    va_end(args);
    m_logger->Write(m_category, m_name, line.c_str());
}

void ZrLogLine(const char16_t* scope, const ZrString& line, uint32_t category) {
    if (IZrLogger* logger = EnabledLogger(category))
        logger->Write(category, scope, line.c_str());
}
