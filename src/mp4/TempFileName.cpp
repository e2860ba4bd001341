#include "mp4/TempFileName.h"

#include "foundation/ZrFileSystem.h"
#include "frame/ZrHostLibraries.h"

#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

ZrString HostTempFolder() {
    if (GetTools(false)) {
        ZrRegKeyPtr key = ZrOpenHostKey(ZrString(), 0);
        const ZrString folder = ZrReadString(key.get(), u"File Location - Temp Location");
        if (!folder.IsEmpty() && ZrFileSystem::DirectoryExists(folder))
            return folder;
    }
    return ZrFileSystem::TempFolder();
}

ZrString CreateUniqueTempFile(const ZrString& folder, const ZrString& stem,
                              const ZrString& extension) {
    const std::string suffix = extension.IsEmpty() ? std::string() : "." + extension.ToUtf8();
    const std::string pattern = ZrFileSystem::Join(folder, stem).ToUtf8() + "XXXXXX" + suffix;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemps(name.data(), static_cast<int>(suffix.size()));
    if (fd < 0)
        return ZrString();
    ::close(fd);
    return ZrString::FromUtf8(name.data());
}
