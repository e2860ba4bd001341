// Finds the encoder programs, or fetches their package and unpacks it into the host's data
// folder, once per host, under a named lock shared by every process.
#pragma once

#include "foundation/ZrString.h"
#include "foundation/ZrThread.h"
#include "tessary/ZrToolsServices.h"

#include <atomic>
#include <cstdint>
#include <vector>

class DependencyInstaller {
public:
    // Dependency numbers the encoders ask for. The MP3 encoder asks for the row of the system
    // it runs on.
#if defined(__x86_64__)
    static constexpr int32_t Lame = 38;
#elif defined(__aarch64__)
    static constexpr int32_t Lame = 45;
#elif defined(__arm__)
    static constexpr int32_t Lame = 39;
#else
    static constexpr int32_t Lame = 33;
#endif
    static constexpr int32_t GoGo = 2;
    static constexpr int32_t OggEnc = 34;
    static constexpr int32_t MpcEnc = 35;
    static constexpr int32_t Count = 56;
    static constexpr int32_t LockTimeoutMs = 120000;

    struct Row {
        const char16_t* DisplayName;
        const char16_t* Package;
        const char16_t* Version;
        const char16_t* File; // empty: nothing to install on this system
        const char16_t* Archive;
    };

    // The program's full path; empty when it is neither installed nor installable. A program
    // found on PATH counts as installed. Numbers 34 and 35 give the bare program name.
    static ZrString GetInstalledFilename(int32_t dependency);
    // Why GetInstalledFilename gave nothing, in words a user can act on, e.g. "MP3 Encoder needs
    // the program lame: install the Debian package lame, or set a download address".
    static ZrString MissingReason(int32_t dependency);
    // The full path of the first executable file of that name in a folder of PATH; a name with
    // a slash is taken as a path. Empty when there is none.
    static ZrString FindOnPath(const ZrString& name);

    // The number after the 64-bit replacement, and its row (null outside the table).
    static int32_t Map64(int32_t dependency);
    static const Row* Lookup(int32_t dependency);

    // How long GetInstalledFilename waits for the named lock (tests shorten it).
    static void SetLockTimeout(int32_t ms);

private:
    static bool Install(int32_t dependency, const ZrString& version, const ZrString& folder,
                        ZrString& path);
};

// Fetches one package, into memory or into a file. On the host's main thread the transfer runs
// on this thread while the main thread shows the wait window and keeps pumping; on any other
// thread it runs on the caller's thread.
class DependencyDownloadThread final : public ZrThread, public IZrWaitMessageCallback {
public:
    DependencyDownloadThread() = default;
    ~DependencyDownloadThread() override;

    // With `memory` the package lands there, otherwise in the file `localPath`. True when the
    // whole package arrived and nobody cancelled.
    bool Download(const ZrString& address, const ZrString& localPath, std::vector<uint8_t>* memory,
                  const ZrString& status);

    // True also aborts the transfer.
    void SetStop(bool stop) override;
    void OnWaitCancelled() override { SetStop(true); }

    // Cancels every download of this process, as the user's cancel in the wait window does.
    static void CancelAll();

protected:
    bool Run() override;

private:
    bool m_result = false;
    std::atomic<int32_t> m_cancel{0};
    IZrFileLoader* m_loader = nullptr;
    ZrString m_address;
    ZrString m_localPath;
    std::vector<uint8_t>* m_memory = nullptr;
};
