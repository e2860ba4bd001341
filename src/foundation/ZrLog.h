// Trace scopes of the host's log.
//
// A traced function opens a ZrTraceScope; it writes "Start" on entry and "Finish (%d ms)" on
// exit, or "Finish (result: %d) (%d ms)" once SetResult was called. Lines of the function are
// written with Log under the scope's name. Without a host logger nothing is written and the
// scope costs a pointer test. Logging never throws: a line that cannot be written is dropped.
#pragma once

#include "foundation/ZrString.h"

#include <chrono>
#include <cstdint>

class IZrLogger;

// Where the log goes: the plug-in frame installs a provider that asks the host's tools library
// for its logger; a module without one logs nothing.
using ZrLoggerProvider = IZrLogger* (*)();
void ZrSetLoggerProvider(ZrLoggerProvider provider);
IZrLogger* ZrCurrentLogger();

class ZrTraceScope {
public:
    // `traced` false writes neither "Start" nor "Finish" (as for per-buffer operations); lines
    // logged through the scope, failures above all, are still written.
    explicit ZrTraceScope(const char16_t* name, uint32_t category = 512,
                          bool traced = true) noexcept;
    ZrTraceScope(const ZrTraceScope&) = delete;
    ZrTraceScope& operator=(const ZrTraceScope&) = delete;
    ~ZrTraceScope();

    const char16_t* Name() const noexcept { return m_name; }
    void Log(const ZrString& line) noexcept;
    void Log(const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));
    void SetResult(int result) noexcept {
        m_result = result;
        m_hasResult = true;
    }

private:
    IZrLogger* LineLogger() const noexcept;

    IZrLogger* m_logger; // set for a traced scope with an enabled logger
    const char16_t* m_name;
    uint32_t m_category;
    bool m_traced;
    std::chrono::steady_clock::time_point m_start;
    int m_result = 0;
    bool m_hasResult = false;
};

// One line outside any scope.
void ZrLogLine(const char16_t* scope, const ZrString& line, uint32_t category = 512) noexcept;
