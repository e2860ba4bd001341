#include "zrenc/DependencyCommand.h"

#include "external/DependencyInstaller.h"
#include "foundation/ZrFileSystem.h"
#include "zrenc/Commands.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace zrenc {

namespace {

std::string State(int32_t dependency) {
    const DependencyInstaller::Row& row = *DependencyInstaller::Lookup(dependency);
    if (const ZrString found = DependencyInstaller::FindOnPath(row.File); !found.IsEmpty())
        return found.ToUtf8() + " (on PATH)";
    if (const ZrString folder = DependencyInstaller::RecordedFolder(dependency);
        !folder.IsEmpty()) {
        const std::string path = ZrFileSystem::Join(folder, row.File).ToUtf8();
        if (::access(path.c_str(), X_OK) == 0)
            return path + " (downloaded)";
        return "missing: recorded in " + folder.ToUtf8() +
               ", but the program is gone; the next encode fetches it again";
    }
    return "missing: " + DependencyInstaller::MissingReason(dependency).ToUtf8();
}

} // namespace

int ListDependencies() {
    for (const int32_t dependency :
         {DependencyInstaller::Lame, DependencyInstaller::OggEnc, DependencyInstaller::MpcEnc}) {
        const std::string program =
            ZrString(DependencyInstaller::Lookup(dependency)->File).ToUtf8();
        std::printf("%-7s %s\n", program.c_str(), State(dependency).c_str());
    }
    return ExitOk;
}

} // namespace zrenc
