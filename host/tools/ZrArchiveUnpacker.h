// The archive unpacker on libarchive: zip and tar archives, plain or compressed, from memory.
//
// Every entry is checked before anything is written, so a refused archive leaves the folder as
// it was. Refused: absolute names, names with "..", names that pass through a symbolic link of
// the archive, symbolic links whose target (followed through the archive's other links) leaves
// the folder, hard links to names that would be refused, and devices, pipes and sockets. The
// writer then works on absolute names below the folder's real path (the process's working
// folder is never changed) and refuses on its own to write through any symbolic link or "..".
// Modes are kept less the umask, without set-id bits; file times are kept.
#pragma once

#include "tessary/ZrToolsServices.h"

class ZrArchiveUnpacker final : public IZrArchiveUnpacker {
public:
    static ZrArchiveUnpacker& Instance();

    bool Unpack(const void* data, size_t size, const char16_t* folder,
                ZrSysString* errorText) override;
};
