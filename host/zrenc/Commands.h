// The commands of zrenc after the command line is read: each returns the exit status.
#pragma once

#include "zrenc/Arguments.h"

namespace zrenc {

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;

// Loads the host's tools and the plug-in library, registers it when it never was, and runs
// the command. `programFolder` is the folder of the zrenc executable.
int RunCommand(const Options& options, const std::string& programFolder);

} // namespace zrenc
