#include "external/DependencyInstaller.h"

#include "foundation/ZrFileSystem.h"
#include "foundation/ZrLog.h"
#include "frame/ZrHostLibraries.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;

namespace {

using Row = DependencyInstaller::Row;

// The encoder rows are fixed; the host's other components have no build for this system, so
// their rows name the component and nothing to install.
constexpr Row Table[DependencyInstaller::Count] = {
    {u"Media Runtime", u"media_runtime", u"", u"", u""},
    {u"MP3 Encoder", u"mp3_encoder", u"2", u"lame.exe", u".zip"},
    {u"MP3 Encoder", u"mp3_encoder", u"2", u"gogo.exe", u".zip"},
    {u"MPC Encoder", u"mpc_encoder", u"1", u"mpcenc.exe", u".zip"},
    {u"OGG Encoder", u"ogg_encoder", u"2", u"oggenc2.exe", u".zip"},
    {u"Video Renderer", u"video_renderer", u"", u"", u""},
    {u"Video Renderer", u"video_renderer64", u"", u"", u""},
    {u"Video Decoders", u"video_decoders", u"", u"", u""},
    {u"Audio Decoders", u"audio_decoders", u"", u"", u""},
    {u"Source Filters", u"source_filters", u"", u"", u""},
    {u"Video Decoders", u"video_decoders64", u"", u"", u""},
    {u"Audio Decoders", u"audio_decoders64", u"", u"", u""},
    {u"Source Filters", u"source_filters64", u"", u"", u""},
    {u"Browser Engine", u"browser_engine", u"", u"", u""},
    {u"Browser Engine Resources", u"browser_resources", u"", u"", u""},
    {u"Subtitle Library", u"subtitle_library", u"", u"", u""},
    {u"Subtitle Library", u"subtitle_library64", u"", u"", u""},
    {u"Stream Downloader", u"stream_downloader", u"", u"", u""},
    {u"AAC External Encoder", u"aac_encoder", u"3", u"qaac.exe", u".zip"},
    {u"Disc Library", u"disc_library", u"", u"", u""},
    {u"Disc Library", u"disc_library64", u"", u"", u""},
    {u"Image Decoders", u"image_decoders", u"", u"", u""},
    {u"Image Decoders", u"image_decoders64", u"", u"", u""},
    {u"Web Runtime", u"web_runtime", u"", u"", u""},
    {u"Capture Filters", u"capture_filters", u"", u"", u""},
    {u"Capture Filters", u"capture_filters64", u"", u"", u""},
    {u"Network Source", u"network_source", u"", u"", u""},
    {u"Network Source", u"network_source64", u"", u"", u""},
    {u"MP3 Encoder", u"mac_mp3_encoder", u"3", u"lame", u".zip"},
    {u"Video Downloader", u"video_downloader", u"", u"", u""},
    {u"Media Runtime", u"media_runtime64", u"", u"", u""},
    {u"Subtitle Fonts", u"subtitle_fonts", u"", u"", u""},
    {u"Disc Menus", u"disc_menus", u"", u"", u""},
    {u"MP3 Encoder", u"linux_mp3_encoder", u"1", u"lame", u".zip"},
    {u"", u"", u"", u"oggenc", u""},
    {u"", u"", u"", u"mpcenc", u""},
    {u"Video Renderer", u"mac_video_renderer", u"", u"", u""},
    {u"Video Decoders", u"mac_video_decoders", u"", u"", u""},
    {u"MP3 Encoder", u"linux_mp3_encoder64", u"1", u"lame", u".zip"},
    {u"MP3 Encoder", u"linux_mp3_encoder_arm", u"1", u"lame", u".zip"},
    {u"Video Decoders", u"linux_video_decoders", u"", u"", u""},
    {u"Video Decoders", u"linux_video_decoders64", u"", u"", u""},
    {u"Stream Downloader", u"mac_stream_downloader", u"", u"", u""},
    {u"Stream Downloader", u"linux_stream_downloader", u"", u"", u""},
    {u"Browser Engine", u"browser_engine64", u"", u"", u""},
    {u"MP3 Encoder", u"linux_mp3_encoder_arm64", u"1", u"lame", u".zip"},
    {u"Video Decoders", u"linux_video_decoders_arm64", u"", u"", u""},
    {u"Stream Downloader", u"linux_stream_downloader_arm64", u"", u"", u""},
    {u"Subtitle Library", u"mac_subtitle_library", u"", u"", u""},
    {u"Disc Library", u"mac_disc_library", u"", u"", u""},
    {u"Image Decoders", u"mac_image_decoders", u"", u"", u""},
    {u"Web Runtime", u"web_runtime64", u"", u"", u""},
    {u"Capture Filters", u"mac_capture_filters", u"", u"", u""},
    {u"Network Source", u"mac_network_source", u"", u"", u""},
    {u"Video Downloader", u"video_downloader64", u"", u"", u""},
    {u"Media Runtime", u"linux_media_runtime", u"", u"", u""},
};

// The Debian packages that hold this system's encoder programs.
const char* DebianPackage(int32_t dependency) {
    switch (dependency) {
    case 33:
    case 38:
    case 39:
    case 45:
        return "lame";
    case DependencyInstaller::OggEnc:
        return "vorbis-tools";
    case DependencyInstaller::MpcEnc:
        return "musepack-tools";
    default:
        return nullptr;
    }
}

const char16_t* const LockName = u"Vantor DS Filter Downloading Lock";
std::atomic<int32_t> g_lockTimeoutMs{DependencyInstaller::LockTimeoutMs};

// Only the video renderer keeps entries of an older install and a settings file across one.
bool IsRenderer(const ZrString& package) {
    return package == u"video_renderer" || package == u"video_renderer64";
}

std::string Utf8(const char16_t* text) {
    return ZrString(text).ToUtf8();
}

fs::path PathOf(const ZrString& text) {
    return fs::path(text.ToUtf8());
}

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

ZrString ValueName(const Row& row) {
    return ZrString(row.Package) + u"_v" + row.Version;
}

ZrString KeyPath(const Row& row) {
    return ZrString(u"Dependencies\\") + row.Package;
}

ZrString DataFolder(ZrTools* tools) {
    IZrProductInfo* info = tools ? tools->GetProductInfo(true) : nullptr;
    return info ? ZrTakeSysString(info->GetDataFolder()) : ZrString();
}

// Removes everything in `folder` but the entries named in `keep`; a missing folder is empty.
bool DeleteContents(const fs::path& folder, const std::set<std::string>& keep) {
    std::error_code ec;
    if (!fs::exists(folder, ec))
        return !ec;
    bool ok = true;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (keep.count(it->path().filename().string()))
            continue;
        std::error_code removeError;
        fs::remove_all(it->path(), removeError);
        ok = ok && !removeError;
    }
    return ok && !ec;
}

// The named lock of the host, held for the life of the object.
class NamedLock {
public:
    NamedLock(IZrNamedLocks* locks, int32_t timeoutMs) : m_locks(locks) {
        m_held = !m_locks || m_locks->Acquire(LockName, timeoutMs, true);
        if (!m_locks) {
            // Without the host's locks at least the threads of this process take turns.
            Fallback().lock();
        }
    }
    ~NamedLock() {
        if (!m_locks)
            Fallback().unlock();
        else if (m_held)
            m_locks->Release(LockName);
    }
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;
    bool Held() const { return m_held; }

private:
    static std::mutex& Fallback() {
        static std::mutex lock;
        return lock;
    }
    IZrNamedLocks* m_locks;
    bool m_held = false;
};

// Packages are small; a server that sends more is refused rather than filling memory.
constexpr size_t MaxPackageBytes = size_t(512) << 20;

class MemorySink final : public IZrDataSink {
public:
    explicit MemorySink(std::vector<uint8_t>& target) : m_target(target) {}
    bool Write(const void* data, size_t size) override {
        if (size > MaxPackageBytes - m_target.size())
            return false;
        const auto* bytes = static_cast<const uint8_t*>(data);
        m_target.insert(m_target.end(), bytes, bytes + size);
        return true;
    }

private:
    std::vector<uint8_t>& m_target;
};

class FileSink final : public IZrDataSink {
public:
    explicit FileSink(const std::string& path) : m_file(std::fopen(path.c_str(), "wb")) {}
    ~FileSink() { Close(); }
    bool IsOpen() const { return m_file != nullptr; }
    bool Write(const void* data, size_t size) override {
        return m_file && std::fwrite(data, 1, size, m_file) == size;
    }
    bool Close() {
        if (!m_file)
            return false;
        const bool ok = std::fflush(m_file) == 0 && ::fsync(::fileno(m_file)) == 0;
        return (std::fclose(std::exchange(m_file, nullptr)) == 0) && ok;
    }

private:
    std::FILE* m_file;
};

std::mutex g_downloadsLock;
std::set<DependencyDownloadThread*> g_downloads;

} // namespace

// ---- DependencyInstaller -------------------------------------------------------------------

int32_t DependencyInstaller::Map64(int32_t dependency) {
    if constexpr (sizeof(void*) == 8) {
        switch (dependency) {
        case 5:
            return 6;
        case 7:
            return 10;
        case 8:
            return 11;
        case 9:
            return 12;
        case 15:
            return 16;
        case 19:
            return 20;
        case 21:
            return 22;
        case 24:
            return 25;
        case 26:
            return 27;
        default:
            break;
        }
    }
    return dependency;
}

const DependencyInstaller::Row* DependencyInstaller::Lookup(int32_t dependency) {
    dependency = Map64(dependency);
    return dependency >= 0 && dependency < Count ? &Table[dependency] : nullptr;
}

void DependencyInstaller::SetLockTimeout(int32_t ms) {
    g_lockTimeoutMs = ms;
}

ZrString DependencyInstaller::FindOnPath(const ZrString& name) {
    if (name.IsEmpty())
        return {};
    const std::string program = name.ToUtf8();
    if (program.find('/') != std::string::npos)
        return IsExecutableFile(program) ? name : ZrString();
    const char* variable = std::getenv("PATH");
    const std::string path = variable ? variable : "/usr/local/bin:/usr/bin:/bin";
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find(':', start);
        if (end == std::string::npos)
            end = path.size();
        // An empty entry would mean the current folder, which no host should run programs from.
        if (end > start) {
            const std::string candidate = path.substr(start, end - start) + "/" + program;
            if (IsExecutableFile(candidate))
                return ZrString::FromUtf8(candidate);
        }
        start = end + 1;
    }
    return {};
}

ZrString DependencyInstaller::MissingReason(int32_t dependency) {
    dependency = Map64(dependency);
    const Row* row = Lookup(dependency);
    if (!row)
        return ZrString::Format("Dependency %d does not exist", dependency);
    const std::string file = Utf8(row->File);
    if (dependency == OggEnc || dependency == MpcEnc) {
        const char* display = dependency == OggEnc ? "OGG Encoder" : "MPC Encoder";
        return ZrString::Format("%s needs the program %s: install the Debian package %s", display,
                                file.c_str(), DebianPackage(dependency));
    }
    const std::string display = Utf8(row->DisplayName);
    const char* debian = DebianPackage(dependency);
    if (!debian)
        return ZrString::Format("%s needs the program %s, which has no build for this system",
                                display.c_str(),
                                file.empty() ? Utf8(row->Package).c_str() : file.c_str());
    ZrTools* tools = GetTools(true);
    IZrProductInfo* info = tools ? tools->GetProductInfo(true) : nullptr;
    const ZrString address =
        info ? ZrTakeSysString(info->GetDownloadAddress(row->Package, row->Version, row->Archive))
             : ZrString();
    if (address.IsEmpty())
        return ZrString::Format("%s needs the program %s: install the Debian package %s, or set "
                                "a download address",
                                display.c_str(), file.c_str(), debian);
    return ZrString::Format("%s needs the program %s: install the Debian package %s; fetching it "
                            "from %s failed (the host's log says why)",
                            display.c_str(), file.c_str(), debian, address.ToUtf8().c_str());
}

ZrString DependencyInstaller::GetInstalledFilename(int32_t dependency) {
    ZrTraceScope scope(u"DependencyInstaller::GetInstalledFilename");
    dependency = Map64(dependency);
    const Row* row = Lookup(dependency);
    if (!row) {
        scope.Log("Dependency %d does not exist", dependency);
        return {};
    }
    if (dependency == OggEnc || dependency == MpcEnc)
        return row->File;
    if (ZrString found = FindOnPath(row->File); !found.IsEmpty())
        return found;
    if (!*row->File) {
        scope.Log("Dependency '%s' (%d) has no build for this system", Utf8(row->Package).c_str(),
                  dependency);
        return {};
    }
    ZrTools* tools = GetTools(true);
    if (!tools)
        return {};

    const NamedLock lock(tools->GetNamedLocks(), g_lockTimeoutMs.load());
    if (!lock.Held()) {
        scope.Log("Timed out waiting for a named lock. Checking for dependency %d", dependency);
        return {};
    }
    const ZrString keyPath = KeyPath(*row);
    const ZrString valueName = ValueName(*row);
    ZrString folder = ZrReadString(ZrOpenHostKey(keyPath, 0).get(), valueName);
    if (!folder.IsEmpty()) {
        const ZrString path = ZrFileSystem::Join(folder, row->File);
        if (IsExecutableFile(path.ToUtf8()))
            return path;
    }

    scope.Log("Dependency '%s' (%d) is missing, installing", Utf8(row->Package).c_str(),
              dependency);
    const ZrString data = DataFolder(tools);
    if (data.IsEmpty())
        scope.Log("The host has no data folder");
    folder = ZrFileSystem::Join(ZrFileSystem::Join(data, u"Plugins"), row->Package);
    ZrString path;
    if (!data.IsEmpty() && Install(dependency, row->Version, folder, path)) {
        // Written (the key released) before the lock goes, so that the next holder finds it.
        if (ZrRegKeyPtr key = ZrOpenHostKey(keyPath, 1))
            key->SetString(valueName, folder);
    } else {
        scope.Log("Failed installing dependency %d", dependency);
        path.Empty();
        // A stale record of an older install would otherwise point at what the failure left.
        if (ZrRegKeyPtr key = ZrOpenHostKey(keyPath, 0))
            key->DeleteValue(valueName);
    }
    return path;
}

bool DependencyInstaller::Install(int32_t dependency, const ZrString& version,
                                  const ZrString& folder, ZrString& path) {
    ZrTraceScope scope(u"DependencyInstaller::Install");
    const Row& row = *Lookup(dependency);
    ZrTools* tools = GetTools(true);
    IZrProductInfo* info = tools ? tools->GetProductInfo(true) : nullptr;
    const ZrString address =
        info ? ZrTakeSysString(info->GetDownloadAddress(row.Package, version, row.Archive))
             : ZrString();
    const ZrString status =
        ZrString::Format("%s %s", ZrTranslate(u"Adding required components...").ToUtf8().c_str(),
                         ZrTranslate(row.DisplayName).ToUtf8().c_str());

    std::vector<uint8_t> package;
    bool downloaded = false;
    if (address.IsEmpty()) {
        scope.Log("No download address for package %s", Utf8(row.Package).c_str());
    } else {
        const ZrString archive =
            ZrFileSystem::Join(ZrFileSystem::Join(DataFolder(tools), u"Plugins"),
                               ZrString(row.Package) + u"_v" + version + row.Archive);
        DependencyDownloadThread download;
        downloaded = download.Download(address, archive, &package, status);
    }
    if (!downloaded) {
        scope.Log("Downloading package failed");
        return false;
    }
    scope.Log("Download of package %s finished", Utf8(row.Package).c_str());

    const fs::path target = PathOf(folder);
    const bool renderer = IsRenderer(row.Package);
    const std::set<std::string> keep =
        renderer ? std::set<std::string>{"3dlut", "bin"} : std::set<std::string>{};
    if (!DeleteContents(target, keep))
        scope.Log("Deleting old files failed");
    std::error_code ec;
    if (renderer && fs::exists(target / "settings.bin", ec) &&
        !fs::copy_file(target / "settings.bin", target / "settings_temp.bin",
                       fs::copy_options::overwrite_existing, ec))
        scope.Log("Moving preserved files failed");

    std::string makeError;
    ZrSysString unpackError = nullptr;
    IZrArchiveUnpacker* unpacker = tools->GetArchiveUnpacker();
    bool unpacked = ZrFileSystem::MakeDirectories(target.string(), &makeError);
    if (!unpacked)
        scope.Log("%s", makeError.c_str());
    else if (!unpacker)
        scope.Log("The host offers no archive unpacker");
    unpacked = unpacked && unpacker &&
               unpacker->Unpack(package.data(), package.size(), folder, &unpackError);
    const ZrString unpackReason = unpackError ? ZrTakeSysString(unpackError) : ZrString();
    if (!unpacked) {
        scope.Log("Unpacking files failed");
        if (!unpackReason.IsEmpty())
            scope.Log(unpackReason);
        // What a refused or broken package left must not pass for an install.
        DeleteContents(target, keep);
    }

    if (renderer && fs::exists(target / "settings_temp.bin", ec)) {
        const bool restored = fs::copy_file(target / "settings_temp.bin", target / "settings.bin",
                                            fs::copy_options::overwrite_existing, ec) &&
                              fs::remove(target / "settings_temp.bin", ec);
        if (!restored)
            scope.Log("Restoring preserved files failed");
    }
    scope.Log("Unpacking finished");

    if (unpacked)
        path = ZrFileSystem::Join(folder, row.File);
    return unpacked;
}

// ---- DependencyDownloadThread --------------------------------------------------------------

DependencyDownloadThread::~DependencyDownloadThread() {
    Stop();
}

void DependencyDownloadThread::CancelAll() {
    std::lock_guard<std::mutex> guard(g_downloadsLock);
    for (DependencyDownloadThread* download : g_downloads)
        download->SetStop(true);
}

void DependencyDownloadThread::SetStop(bool stop) {
    // The loader polls the flag; the first request is the one that aborts.
    if (stop)
        m_cancel.store(1);
    ZrThread::SetStop(stop);
}

bool DependencyDownloadThread::Download(const ZrString& address, const ZrString& localPath,
                                        std::vector<uint8_t>* memory, const ZrString& status) {
    m_address = address;
    m_localPath = localPath;
    m_memory = memory;
    m_result = false;
    ZrTools* tools = GetTools(true);
    m_loader = tools ? tools->GetFileLoader() : nullptr;
    if (!m_loader) {
        ZrLogLine(u"DependencyDownloadThread::Download", u"The host offers no file loader");
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(g_downloadsLock);
        g_downloads.insert(this);
    }
    IZrMainThreadMessages* messages = tools->GetMainThreadMessages();
    if (!messages || !messages->IsMainThread()) {
        Run();
    } else {
        IZrWaitWindow* wait = tools->GetWaitWindow();
        if (wait)
            wait->Show(status, 500, 0, this);
        if (Start()) {
            while (IsRunning() && !IsStopRequested())
                WaitPumping(20);
            Stop();
        }
        if (wait)
            wait->Close();
    }
    {
        std::lock_guard<std::mutex> guard(g_downloadsLock);
        g_downloads.erase(this);
    }
    return m_result;
}

bool DependencyDownloadThread::Run() {
    ZrSysString error = nullptr;
    bool ok = false;
    if (m_memory) {
        m_memory->clear();
        MemorySink sink(*m_memory);
        ok = m_loader->Load(m_address, &sink, &m_cancel, &error);
    } else {
        // The package reaches its name only when it is whole.
        const std::string target = m_localPath.ToUtf8();
        const std::string partial = target + ".part";
        FileSink sink(partial);
        ok = sink.IsOpen() && m_loader->Load(m_address, &sink, &m_cancel, &error);
        ok = sink.Close() && ok && std::rename(partial.c_str(), target.c_str()) == 0;
        if (!ok)
            std::remove(partial.c_str());
        std::error_code ec;
        ok = ok && fs::exists(target, ec);
    }
    if (error)
        ZrLogLine(u"DependencyDownloadThread::Run", ZrTakeSysString(error));
    m_result = ok && !IsStopRequested() && m_cancel.load() == 0;
    return m_result;
}
