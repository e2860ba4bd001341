#include "loader/ZrHostTools.h"

#include <cstdlib>
#include <dlfcn.h>
#include <mutex>

namespace ZrHostTools {

namespace {

struct State {
    std::mutex Lock;
    void* Module = nullptr;
    ZrTools* Loaded = nullptr;
    ZrTools* Provided = nullptr;
};

State& Shared() {
    static State state;
    return state;
}

std::string JoinPath(const std::string& folder, const char* name) {
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

} // namespace

ZrTools* Load(const std::vector<std::string>& folders, std::string* error) {
    State& state = Shared();
    std::lock_guard lock(state.Lock);
    if (state.Loaded)
        return state.Loaded;
    if (state.Module) { // loaded before and unloaded since: the same interface again
        auto entry = reinterpret_cast<ZrGetToolsFn>(::dlsym(state.Module, "GetZrToolsDLL"));
        state.Loaded = entry ? entry(ZrToolsVersion) : nullptr;
        if (state.Loaded)
            state.Loaded->Initialize(nullptr, nullptr);
        return state.Loaded;
    }

    std::vector<std::string> candidates;
    if (const char* dir = std::getenv("TESSARY_PROGRAM_DIR"); dir && *dir)
        candidates.push_back(JoinPath(dir, LibraryName));
    for (const std::string& folder : folders)
        candidates.push_back(JoinPath(folder, LibraryName));
    candidates.push_back(LibraryName); // the system's search order

    std::string reasons;
    for (const std::string& candidate : candidates) {
        void* module = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            if (const char* why = ::dlerror(); why && reasons.empty())
                reasons = why;
            continue;
        }
        auto entry = reinterpret_cast<ZrGetToolsFn>(::dlsym(module, "GetZrToolsDLL"));
        ZrTools* tools = entry ? entry(ZrToolsVersion) : nullptr;
        if (!tools) {
            reasons =
                candidate + " has no tools interface for version " + std::to_string(ZrToolsVersion);
            ::dlclose(module);
            continue;
        }
        tools->Initialize(nullptr, nullptr);
        state.Module = module;
        state.Loaded = tools;
        return tools;
    }
    if (error)
        *error = reasons.empty() ? std::string("cannot load ") + LibraryName : reasons;
    return nullptr;
}

ZrTools* Get() {
    State& state = Shared();
    std::lock_guard lock(state.Lock);
    if (state.Provided)
        return state.Provided;
    return state.Loaded ? state.Loaded : GetTools(false);
}

void Provide(ZrTools* tools) {
    State& state = Shared();
    std::lock_guard lock(state.Lock);
    state.Provided = tools;
}

void Unload() {
    State& state = Shared();
    std::lock_guard lock(state.Lock);
    if (state.Loaded)
        state.Loaded->Uninitialize(nullptr);
    state.Loaded = nullptr;
}

ZrRegKeyPtr OpenHostKey(const ZrString& path, int32_t flag) {
    ZrTools* tools = Get();
    return ZrRegKeyPtr(tools ? tools->OpenHostKey(path.c_str(), flag) : nullptr);
}

ZrRegKeyPtr OpenMachineKey(const ZrString& path) {
    ZrTools* tools = Get();
    return ZrRegKeyPtr(tools ? tools->OpenKey(ZR_HKEY_LOCAL_MACHINE, path.c_str()) : nullptr);
}

} // namespace ZrHostTools
