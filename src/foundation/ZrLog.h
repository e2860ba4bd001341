// Trace scopes of the host's log.
//
// A traced function opens a ZrTraceScope; it writes "Start" on entry and "Finish (%d ms)" on
// exit, or "Finish (result: %d) (%d ms)" once SetResult was called. Lines of the function are
// written with Log under the scope's name. Without a host logger nothing is written and the
// scope costs a pointer test.
#pragma once

#include <chrono>
#include <cstdint>

#include "foundation/ZrString.h"

class IZrLogger;

// Where the log goes: the plug-in frame installs a provider that asks the host's tools library
// for its logger; a module without one logs nothing.
using ZrLoggerProvider = IZrLogger* (*)();
void ZrSetLoggerProvider(ZrLoggerProvider provider);
IZrLogger* ZrCurrentLogger();

class ZrTraceScope {
public:
    // `enabled` false makes a silent scope (as for per-buffer operations).
    explicit ZrTraceScope(const char16_t* name, uint32_t category = 512, bool enabled = true);
    ZrTraceScope(const ZrTraceScope&) = delete;
    ZrTraceScope& operator=(const ZrTraceScope&) = delete;
    ~ZrTraceScope();

    bool Enabled() const noexcept { return m_logger != nullptr; }
    void Log(const ZrString& line);
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void SetResult(int result) {
        m_result = result;
        m_hasResult = true;
    }

private:
    IZrLogger* m_logger;
    const char16_t* m_name;
    uint32_t m_category;
    std::chrono::steady_clock::time_point m_start;
    int m_result = 0;
    bool m_hasResult = false;
};

// One line outside any scope.
void ZrLogLine(const char16_t* scope, const ZrString& line, uint32_t category = 512);
