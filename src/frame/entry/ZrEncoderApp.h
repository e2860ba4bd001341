// The plug-in library's application object: start-up when the library is loaded, shutdown when
// it is unloaded. One static instance per process (ZrEncoderApp::Instance).
#pragma once

#include "foundation/ZrString.h"

#include <atomic>
#include <cstdint>
#include <vector>

class ZrApp {
public:
    virtual ~ZrApp() = default;
    virtual bool InitInstance() { return true; }
    virtual bool ExitInstance() { return true; }
    // Start-up hook: loads the host's product information.
    virtual bool LoadProductInfo() { return true; }
};

// The attach counter of a dynamic library: the first attach initialises, the last detach
// shuts down.
class ZrDllApp : public ZrApp {
public:
    enum class Reason { ProcessAttach, ProcessDetach };

    // Returns false when the first attach failed to initialise; the library must then refuse
    // to work.
    virtual bool DllEntry(void* module, Reason reason);

    void* Module() const { return m_module; }
    const std::vector<ZrString>& Arguments() const { return m_arguments; }

private:
    std::atomic<int32_t> m_attachCount{0};
    void* m_module = nullptr;
    std::vector<ZrString> m_arguments; // the process command line
};

class ZrEncoderApp final : public ZrDllApp {
public:
    static ZrEncoderApp& Instance();

    bool InitInstance() override;
    bool ExitInstance() override;
    bool LoadProductInfo() override;

    // False when start-up failed: no encoder is created and registration does nothing.
    bool IsReady() const { return m_ready.load(std::memory_order_acquire); }
    void SetReady(bool ready) { m_ready.store(ready, std::memory_order_release); }

    // The "Critical Error" text for a failure reason, as shown when start-up fails.
    static ZrString CriticalErrorText(const ZrString& modulePath, const ZrString& reason);

private:
    std::atomic<bool> m_ready{false};
};
