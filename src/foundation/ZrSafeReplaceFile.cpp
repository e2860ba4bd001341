#include "foundation/ZrSafeReplaceFile.h"

#include "foundation/ZrFile.h"
#include "foundation/ZrFileSystem.h"
#include "foundation/ZrLog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ZrFileSystem {

namespace {

constexpr const char16_t* Scope = u"ZrFileSystem::SafeReplaceFile";

void Log(const char* text) {
    ZrLogLine(Scope, ZrString::FromUtf8(text));
}

// A new, unique, empty file next to `path` ("<path>.<tag>XXXXXX").
std::string SiblingName(const std::string& path, const char* tag) {
    std::string pattern = path + "." + tag + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return std::string();
    ::close(fd);
    return name.data();
}

bool CopyFileContents(const std::string& from, const std::string& to) {
    ZrFile source(ZrString::FromUtf8(from)), target(ZrString::FromUtf8(to));
    if (!source.Open(ZrFile::Mode::Read) || !target.Open(ZrFile::Mode::Write))
        return false;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const int64_t n = source.Read(buffer.data(), buffer.size());
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (!target.WriteAll(buffer.data(), static_cast<size_t>(n)))
            return false;
    }
    return target.Sync() && target.Close();
}

} // namespace

bool SafeReplaceFile(const ZrString& destination, const ZrString& replacement,
                     int64_t minimumSize) {
    const std::string target = destination.ToUtf8();
    std::string staged = replacement.ToUtf8();
    struct stat replacementInfo;
    if (::stat(staged.c_str(), &replacementInfo) != 0 || !S_ISREG(replacementInfo.st_mode) ||
        replacementInfo.st_size < minimumSize) {
        ::unlink(staged.c_str());
        return false;
    }

    struct stat targetInfo;
    const bool targetExists = ::lstat(target.c_str(), &targetInfo) == 0;
    if (targetExists && !S_ISREG(targetInfo.st_mode)) {
        Log("Error renaming original file");
        ::unlink(staged.c_str());
        return false;
    }

    // A rename only works within one file system: stage a copy beside the destination.
    struct stat folderInfo;
    const std::string folder = FolderOf(destination).ToUtf8();
    if (::stat(folder.c_str(), &folderInfo) == 0 && folderInfo.st_dev != replacementInfo.st_dev) {
        const std::string sibling = SiblingName(target, "new");
        if (sibling.empty() || !CopyFileContents(staged, sibling)) {
            if (!sibling.empty())
                ::unlink(sibling.c_str());
            Log("Error moving new file into place of original name");
            ::unlink(staged.c_str());
            return false;
        }
        ::unlink(staged.c_str());
        staged = sibling;
    }
    if (targetExists)
        ::chmod(staged.c_str(), targetInfo.st_mode & 07777);

    if (!targetExists) {
        if (::rename(staged.c_str(), target.c_str()) == 0)
            return true;
        Log("Error moving new file into place of original name");
        ::unlink(staged.c_str());
        return false;
    }

    // The backup is a second name of the original (or the original renamed where links are not
    // possible), so the destination name never goes missing when linking works.
    std::string backup = SiblingName(target, "bak");
    bool linked = false;
    if (!backup.empty()) {
        ::unlink(backup.c_str());
        linked = ::link(target.c_str(), backup.c_str()) == 0;
        if (!linked && ::rename(target.c_str(), backup.c_str()) != 0)
            backup.clear();
    }
    if (backup.empty()) {
        Log("Error renaming original file");
        ::unlink(staged.c_str());
        return false;
    }
    if (::rename(staged.c_str(), target.c_str()) != 0) {
        if (linked)
            ::unlink(backup.c_str());
        else
            ::rename(backup.c_str(), target.c_str());
        Log("Error moving new file into place of original name");
        ::unlink(staged.c_str());
        return false;
    }
    ::unlink(backup.c_str());
    return true;
}

} // namespace ZrFileSystem
