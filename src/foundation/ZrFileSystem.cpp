#include "foundation/ZrFileSystem.h"

#include "foundation/ZrLog.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace ZrFileSystem {

namespace {

std::string ErrnoText(int error) {
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not lie in `buffer`.
    return ::strerror_r(error, buffer, sizeof buffer);
}

} // namespace

bool MakeDirectoryTree(const ZrString& filePath) {
    const ZrString folder = FolderOf(filePath);
    if (MakeDirectories(folder.ToUtf8()))
        return true;
    ZrLogLine(u"ZrFileSystem::MakeDirectoryTree",
              ZrString::Format("Failed! Path=%s", filePath.ToUtf8().c_str()));
    return false;
}

bool MakeDirectories(const std::string& folder, std::string* error) {
    if (folder.empty())
        return true;
    struct stat info;
    if (::stat(folder.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return true;
        if (error)
            *error = "\"" + folder + "\" exists and is not a folder";
        return false;
    }
    for (size_t at = folder.find('/', 1);; at = folder.find('/', at + 1)) {
        const std::string part = folder.substr(0, at);
        if (!part.empty() && ::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
            if (error)
                *error = "cannot create \"" + part + "\": " + ErrnoText(errno);
            return false;
        }
        if (at == std::string::npos)
            break;
    }
    if (::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return true;
    if (error)
        *error = "cannot create \"" + folder + "\": " + ErrnoText(errno ? errno : ENOTDIR);
    return false;
}

bool DirectoryExists(const ZrString& path) {
    struct stat info;
    return ::stat(path.ToUtf8().c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool DeleteFile(const ZrString& path) {
    return ::unlink(path.ToUtf8().c_str()) == 0;
}

int64_t FreeSpace(const ZrString& path) {
    struct statvfs info;
    std::string p = path.ToUtf8();
    if (::statvfs(p.c_str(), &info) != 0 && ::statvfs(FolderOf(path).ToUtf8().c_str(), &info) != 0)
        return -1;
    return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

ZrString FolderOf(const ZrString& path) {
    const int64_t slash = path.ReverseFind(u'/');
    if (slash < 0)
        return ZrString(u".");
    if (slash == 0)
        return ZrString(u"/");
    return path.Left(static_cast<size_t>(slash));
}

ZrString Join(const ZrString& folder, const ZrString& name) {
    if (folder.IsEmpty())
        return name;
    if (folder.EndsWith(u"/"))
        return folder + name;
    return folder + u"/" + name;
}

ZrString TempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return ZrString::FromUtf8(tmp && *tmp ? tmp : "/tmp");
}

} // namespace ZrFileSystem
