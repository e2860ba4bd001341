#include "tools/ZrToolsFiles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ZrToolsFiles {

namespace {

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

bool SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL; // some file systems refuse
    ::close(fd);
    return synced;
}

} // namespace

std::string ErrnoText(int error) {
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not lie in `buffer`.
    return ::strerror_r(error, buffer, sizeof buffer);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool ReadAll(int fd, std::string& out, size_t limit) {
    out.clear();
    char buffer[65536];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (out.size() + static_cast<size_t>(n) > limit) {
            errno = EFBIG;
            return false;
        }
        out.append(buffer, static_cast<size_t>(n));
        offset += n;
    }
}

bool ReplaceFile(const std::string& givenPath, std::string_view data, unsigned mode, int* keptFd,
                 std::string* error) {
    // A symbolic link (settings kept with the user's other dotfiles) stays a link: the file it
    // points at is the one replaced.
    std::string path = givenPath;
    struct stat link;
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (char* target = ::realpath(path.c_str(), nullptr)) {
            path = target;
            std::free(target);
        }
    }
    const std::string folder = FolderOf(path);
    const size_t slash = path.find_last_of('/');
    std::string pattern =
        folder + "/." + path.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    auto fail = [&](const char* step, int fd) {
        const int saved = errno;
        if (error)
            *error = std::string(step) + " " + Quoted(path) + ": " + ErrnoText(saved);
        if (fd >= 0) {
            ::close(fd);
            ::unlink(name.data());
        }
        errno = saved;
        return false;
    };
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return fail("cannot create a temporary file beside", -1);
    struct stat existing;
    if (::stat(path.c_str(), &existing) == 0)
        mode = existing.st_mode & 07777;
    if (!WriteAll(fd, data))
        return fail("cannot write", fd);
    if (::fchmod(fd, mode) != 0)
        return fail("cannot set the permissions of", fd);
    if (::fsync(fd) != 0)
        return fail("cannot flush", fd);
    if (::rename(name.data(), path.c_str()) != 0)
        return fail("cannot replace", fd);
    // The rename is the commit; a folder that cannot be flushed only weakens durability.
    SyncFolder(folder);
    if (keptFd)
        *keptFd = fd;
    else
        ::close(fd);
    return true;
}

} // namespace ZrToolsFiles
