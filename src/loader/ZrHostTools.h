// The host's own hold on the tools library (libZrTools.so): the settings store, the logger and
// the other services behind ZrTools. A host loads it once at start-up and keeps it for the life
// of the process; the plug-in libraries it loads find the same copy beside themselves.
#pragma once

#include "foundation/ZrString.h"
#include "frame/ZrHostLibraries.h"
#include "tessary/ZrTools.h"

#include <string>
#include <vector>

namespace ZrHostTools {

inline constexpr const char* LibraryName = "libZrTools.so";

// Loads the tools library and returns its interface (the same one on every later call). The
// folder named by $TESSARY_PROGRAM_DIR is tried first, then each of `folders` in order, then the
// system's search. Returns null and describes the failure in `error` when nothing loads.
ZrTools* Load(const std::vector<std::string>& folders, std::string* error);
// The provided or loaded interface; otherwise the one the plug-in library holds (GetTools), so
// that the loader works inside the plug-in too; null when there is none.
ZrTools* Get();
// Makes `tools` the interface that Get returns, for hosts and tests that bring their own
// store. Null goes back to the loaded library.
void Provide(ZrTools* tools);
// Ends the host's use of the tools library (its Uninitialize). The library stays loaded: the
// plug-in libraries the host loaded keep using it until the process ends.
void Unload();

// Store access through Get(); null keys when there is no tools interface.
ZrRegKeyPtr OpenHostKey(const ZrString& path, int32_t flag);
ZrRegKeyPtr OpenMachineKey(const ZrString& path);

} // namespace ZrHostTools
