#include "tools/ZrToolsPaths.h"

#include "tools/ZrNoDestroy.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace {

const char* SystemGetEnv(const char* name) {
    return std::getenv(name);
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string Absolute(const std::string& path) {
    if (path.empty() || path.front() == '/')
        return WithoutTrailingSlashes(path);
    std::vector<char> buffer(4096);
    if (!::getcwd(buffer.data(), buffer.size()))
        return WithoutTrailingSlashes(path);
    return WithoutTrailingSlashes(std::string(buffer.data()) + "/" + path);
}

std::string HomeFolder(const char* (*getEnv)(const char*)) {
    if (const char* home = getEnv("HOME"); home && *home)
        return WithoutTrailingSlashes(home);
    std::vector<char> buffer(16384);
    passwd entry;
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && *found->pw_dir)
        return WithoutTrailingSlashes(found->pw_dir);
    return "/tmp";
}

// An XDG base folder: the variable when it holds an absolute path (the XDG rules ignore
// relative ones), otherwise home + fallback.
std::string XdgFolder(const char* (*getEnv)(const char*), const char* variable,
                      const char* fallback) {
    if (const char* value = getEnv(variable); value && value[0] == '/')
        return WithoutTrailingSlashes(value);
    return HomeFolder(getEnv) + fallback;
}

} // namespace

ZrToolsPaths ZrToolsPaths::Compute(const char* (*getEnv)(const char*)) {
    ZrToolsPaths paths;
    if (const char* home = getEnv("TESSARY_HOME"); home && *home) {
        const std::string root = Absolute(home);
        paths.UserStoreFile = root + "/config/settings.ini";
        paths.MachineStoreFile = root + "/machine/settings.ini";
        paths.DataFolder = root + "/data";
        paths.RunFolder = root + "/run";
        return paths;
    }
    paths.UserStoreFile =
        XdgFolder(getEnv, "XDG_CONFIG_HOME", "/.config") + "/tessary/settings.ini";
    const char* machine = getEnv("TESSARY_MACHINE_CONFIG");
    paths.MachineStoreFile =
        (machine && *machine ? Absolute(machine) : std::string("/etc/tessary")) + "/settings.ini";
    paths.DataFolder = XdgFolder(getEnv, "XDG_DATA_HOME", "/.local/share") + "/tessary";
    if (const char* runtime = getEnv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/')
        paths.RunFolder = WithoutTrailingSlashes(runtime) + "/tessary";
    else
        paths.RunFolder = "/tmp/tessary-" + std::to_string(::getuid());
    return paths;
}

const ZrToolsPaths& ZrToolsPaths::Get() {
    static const ZrNoDestroy<ZrToolsPaths> paths(Compute(&SystemGetEnv));
    return paths.Value;
}
