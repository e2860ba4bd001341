#include "tools/ZrNamedLocks.h"

#include "foundation/ZrUtf.h"
#include "tools/ZrNoDestroy.h"
#include "tools/ZrToolsFiles.h"
#include "tools/ZrToolsLogger.h"
#include "tools/ZrToolsPaths.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto PollStep = std::chrono::milliseconds(10);
constexpr size_t LongestName = 160;

// The run folder may lie in /tmp, where anyone could have made it first: it must be our own
// folder, not a link, and closed to others.
bool UsableRunFolder(const std::string& folder, std::string* why) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        *why = ZrToolsFiles::ErrnoText(errno);
        return false;
    }
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) {
        *why = ZrToolsFiles::ErrnoText(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid() || (info.st_mode & 022) != 0) {
        *why = "not a private folder of this user";
        return false;
    }
    return true;
}

int OpenLockFile(const std::string& file) {
    const ZrToolsPaths& paths = ZrToolsPaths::Get();
    std::string why;
    if (!UsableRunFolder(paths.RunFolder, &why)) {
        ZrToolsLog("ZrNamedLocks::Acquire",
                   "Cannot use the lock folder \"" + paths.RunFolder + "\": " + why);
        return -1;
    }
    const std::string path = paths.RunFolder + "/" + file;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        ZrToolsLog("ZrNamedLocks::Acquire",
                   "Cannot open \"" + path + "\": " + ZrToolsFiles::ErrnoText(errno));
    return fd;
}

} // namespace

ZrNamedLocks& ZrNamedLocks::Instance() {
    static ZrNoDestroy<ZrNamedLocks> locks;
    return locks.Value;
}

std::string ZrNamedLocks::FileName(const char16_t* name) {
    const std::string utf8 = ZrUtf16ToUtf8(name ? name : u"");
    std::string file;
    for (unsigned char c : utf8) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || (c == '.' && !file.empty())) {
            file += static_cast<char>(c);
        } else {
            static const char digits[] = "0123456789ABCDEF";
            file += '%';
            file += digits[c >> 4];
            file += digits[c & 15];
        }
    }
    if (file.size() > LongestName) {
        char hash[24];
        std::snprintf(hash, sizeof hash, "~%016zx", std::hash<std::string>{}(file));
        file.resize(LongestName);
        file += hash;
    }
    return file + ".lock";
}

bool ZrNamedLocks::Acquire(const char16_t* name, int32_t timeoutMs, bool wait) {
    const std::string file = FileName(name);
    const int fd = OpenLockFile(file);
    if (fd < 0)
        return false;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            ZrToolsLog("ZrNamedLocks::Acquire",
                       "Cannot lock \"" + file + "\": " + ZrToolsFiles::ErrnoText(errno));
            ::close(fd);
            return false;
        }
        if (!wait || (timeoutMs >= 0 && Clock::now() >= deadline)) {
            ::close(fd);
            return false;
        }
        std::this_thread::sleep_for(PollStep);
    }
    std::lock_guard guard(m_lock);
    m_held[file].push_back(fd);
    return true;
}

void ZrNamedLocks::Release(const char16_t* name) {
    int fd = -1;
    {
        std::lock_guard guard(m_lock);
        const auto held = m_held.find(FileName(name));
        if (held == m_held.end())
            return;
        fd = held->second.front();
        held->second.erase(held->second.begin());
        if (held->second.empty())
            m_held.erase(held);
    }
    ::close(fd); // drops the flock
}
