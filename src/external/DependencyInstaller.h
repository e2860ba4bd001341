// Finds the encoder programs, or fetches their package and unpacks it into the host's data
// folder, once per host, under a named lock shared by every process.
#pragma once

#include <cstdint>

#include "foundation/ZrString.h"

class DependencyInstaller {
public:
    // Dependency numbers the encoders ask for.
    static constexpr int32_t Lame = 33; // the 64-bit Linux row of the MP3 encoder
    static constexpr int32_t GoGo = 2;
    static constexpr int32_t OggEnc = 34;
    static constexpr int32_t MpcEnc = 35;

    // The program's full path; empty when it is neither installed nor installable. A program
    // found on PATH counts as installed.
    static ZrString GetInstalledFilename(int32_t dependency);
    // Why GetInstalledFilename gave nothing, in words a user can act on, e.g. "MP3 Encoder needs
    // the program lame: install the Debian package lame, or set a download address".
    static ZrString MissingReason(int32_t dependency);

private:
    static bool Install(int32_t dependency, const ZrString& version, const ZrString& folder,
                        ZrString& path);
};
