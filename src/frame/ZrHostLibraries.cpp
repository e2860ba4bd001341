#include "frame/ZrHostLibraries.h"

#include "foundation/ZrThread.h"
#include "frame/ZrHostLibraryManager.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>
#include <new>
#include <string>

namespace {

// What each slot loads. Only the tools library exists on this platform; the other slots keep
// their place (and their entry points) so that code asking for them finds an empty slot.
struct SlotInfo {
    const char* File;         // null: no such library on this platform
    const char* Entry;        // called right after loading
    const char* Uninitialize; // called before unloading, where the library has one
};

constexpr SlotInfo SlotTable[ZrHostSlotCount] = {
    {"libZrTools.so", "GetZrToolsDLL", nullptr},             // tools
    {nullptr, "ZrReaderInitialize", "ZrReaderUninitialize"}, // reader
    {nullptr, "GetZrImageAppDLL", nullptr},                  // image
    {nullptr, "GetZrPlayerDLL", nullptr},                    // player
    {nullptr, "GetZrTelevisionDLL", nullptr},                // television
    {nullptr, "ZrDiscInitialize", "ZrDiscUninitialize"},     // disc
    {nullptr, "CreateZrWMFactory", nullptr},                 // Windows Media factory
};

struct Slot {
    void* Module = nullptr;
    void* Interface = nullptr;
};

struct Manager {
    std::mutex Lock;
    Slot Slots[ZrHostSlotCount];
    std::atomic<ZrTools*> Tools{nullptr};
    std::atomic<void*> HostModule{nullptr};
    bool DirectoryKnown = false;
    std::string Directory;
};

// Created on first use and never destroyed: the library's shutdown may run after the static
// destructors of the process.
Manager& TheManager() {
    alignas(Manager) static unsigned char storage[sizeof(Manager)];
    static Manager* manager = new (storage) Manager();
    return *manager;
}

std::string ThisModulePath() {
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&ThisModulePath), &info) || !info.dli_fname ||
        !*info.dli_fname)
        return {};
    // dlopen keeps the name as the host gave it, which may be relative.
    char resolved[PATH_MAX];
    if (::realpath(info.dli_fname, resolved))
        return resolved;
    return info.dli_fname;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string ProgramDirectoryLocked(Manager& m) {
    if (!m.DirectoryKnown) {
        const char* fromEnvironment = std::getenv("TESSARY_PROGRAM_DIR");
        m.Directory = fromEnvironment && *fromEnvironment ? std::string(fromEnvironment)
                                                          : FolderOf(ThisModulePath());
        while (m.Directory.size() > 1 && m.Directory.back() == '/')
            m.Directory.pop_back();
        m.DirectoryKnown = true;
    }
    return m.Directory;
}

void* OpenLibrary(Manager& m, const char* file) {
    constexpr int flags = RTLD_NOW | RTLD_LOCAL;
    if (file[0] == '/')
        return ::dlopen(file, flags);
    const std::string directory = ProgramDirectoryLocked(m);
    if (!directory.empty()) {
        const std::string base = directory == "/" ? std::string() : directory;
        if (void* module = ::dlopen((base + "/" + file).c_str(), flags))
            return module;
        if (void* module = ::dlopen((base + "/x64/" + file).c_str(), flags))
            return module;
    }
    return ::dlopen(file, flags);
}

// The tools slot's entry: a library without GetZrToolsDLL, or one that does not serve our
// version, is no tools library and does not stay loaded.
bool AttachTools(Manager& m, Slot& slot, void* module, const char* entryName) {
    const auto entry = reinterpret_cast<ZrGetToolsFn>(::dlsym(module, entryName));
    ZrTools* tools = entry ? entry(ZrToolsVersion) : nullptr;
    if (!tools)
        return false;
    tools->Initialize(nullptr, m.HostModule.load());
    slot.Interface = tools;
    m.Tools.store(tools, std::memory_order_release);
    ZrSetMainThreadMessages(tools->GetMainThreadMessages());
    return true;
}

} // namespace

void ZrSetHostModule(void* module) {
    TheManager().HostModule.store(module);
}

bool ZrLoadHostLibrary(ZrHostSlot which) {
    Manager& m = TheManager();
    const int index = static_cast<int>(which);
    if (index < 0 || index >= ZrHostSlotCount)
        return false;
    std::lock_guard<std::mutex> guard(m.Lock);
    Slot& slot = m.Slots[index];
    if (slot.Module)
        return true;
    const SlotInfo& info = SlotTable[index];
    if (!info.File)
        return false;
    void* module = OpenLibrary(m, info.File);
    if (!module)
        return false;
    if (which == ZrHostSlot::Tools && !AttachTools(m, slot, module, info.Entry)) {
        ::dlclose(module);
        return false;
    }
    slot.Module = module;
    return true;
}

void ZrReleaseHostLibraries() {
    Manager& m = TheManager();
    std::lock_guard<std::mutex> guard(m.Lock);
    for (int index = 0; index < ZrHostSlotCount; ++index) {
        Slot& slot = m.Slots[index];
        if (!slot.Module)
            continue;
        if (index == static_cast<int>(ZrHostSlot::Tools)) {
            m.Tools.store(nullptr);
            ZrSetMainThreadMessages(nullptr);
            static_cast<ZrTools*>(slot.Interface)->Uninitialize(m.HostModule.load());
        } else if (const char* name = SlotTable[index].Uninitialize) {
            if (auto uninitialize = reinterpret_cast<void (*)()>(::dlsym(slot.Module, name)))
                uninitialize();
        }
        ::dlclose(slot.Module);
        slot = Slot{};
    }
}

ZrString ZrModuleFileName() {
    return ZrString::FromUtf8(ThisModulePath());
}

ZrTools* GetTools(bool load) {
    Manager& m = TheManager();
    if (ZrTools* tools = m.Tools.load(std::memory_order_acquire); tools || !load)
        return tools;
    ZrLoadHostLibrary(ZrHostSlot::Tools);
    return m.Tools.load(std::memory_order_acquire);
}

ZrString ZrTranslate(const ZrString& text) {
    ZrString out(text);
    if (ZrTools* tools = GetTools(false))
        if (IZrTranslator* translator = tools->GetTranslator(1))
            translator->Translate(out);
    return out;
}

ZrRegKeyPtr ZrOpenHostKey(const ZrString& path, int32_t flag) {
    ZrTools* tools = GetTools(true);
    return ZrRegKeyPtr(tools ? tools->OpenHostKey(path.c_str(), flag) : nullptr);
}

int32_t ZrReadInt(IZrRegKey* key, const char16_t* name, int32_t fallback) {
    int32_t value = fallback;
    if (key && key->GetInt(name, &value))
        return value;
    return fallback;
}

ZrString ZrReadString(IZrRegKey* key, const char16_t* name, const ZrString& fallback) {
    if (!key)
        return fallback;
    ZrSysString text = key->GetString(name);
    if (!text)
        return fallback;
    return ZrTakeSysString(text);
}

ZrString ZrTakeSysString(ZrSysString text) {
    ZrString out(text, SysStringLen(text));
    SysFreeString(text);
    return out;
}

namespace {

char16_t FoldCase(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

int32_t FindFolded(std::u16string_view text, std::u16string_view what, size_t start) {
    if (what.empty() || start > text.size())
        return -1;
    for (size_t at = start; at + what.size() <= text.size(); ++at) {
        size_t i = 0;
        while (i < what.size() && FoldCase(text[at + i]) == FoldCase(what[i]))
            ++i;
        if (i == what.size())
            return static_cast<int32_t>(at);
    }
    return -1;
}

} // namespace

int32_t ZrFindNoCase(const ZrString& text, const ZrString& what, int32_t start) {
    if (start < 0)
        return -1;
    if (ZrTools* tools = GetTools(false))
        if (IZrStringService* service = tools->GetStringService())
            return service->Find(text, what, start);
    return FindFolded(text.View(), what.View(), static_cast<size_t>(start));
}

ZrString ZrReplaceNoCase(const ZrString& text, const ZrString& what, const ZrString& with) {
    if (ZrTools* tools = GetTools(false))
        if (IZrStringService* service = tools->GetStringService())
            if (ZrSysString replaced = service->ReplaceAll(text, what, with))
                return ZrTakeSysString(replaced);
    std::u16string out;
    size_t from = 0;
    for (int32_t at; (at = FindFolded(text.View(), what.View(), from)) >= 0;) {
        out.append(text.View().substr(from, static_cast<size_t>(at) - from)).append(with.View());
        from = static_cast<size_t>(at) + what.Length();
    }
    out.append(text.View().substr(from));
    return ZrString(out.data(), out.size());
}

bool ZrPostMainThreadMessage(IMainThreadMessageManagerCallback* target, uint32_t message,
                             uintptr_t wParam, intptr_t lParam) {
    if (ZrTools* tools = GetTools(false))
        if (IZrMainThreadMessages* messages = tools->GetMainThreadMessages())
            return messages->Post(target, message, wParam, lParam);
    return false;
}
