// The host-library manager: one record per process that loads the host's service libraries into
// their slots, keeps their handles and interfaces, and releases them at shutdown. Guarded by one
// lock, created on first use. GetTools (frame/ZrHostLibraries.h) is its everyday entrance.
//
// Where a library is looked for: an absolute file name is loaded as it is. Otherwise the host's
// program directory + name, then that directory's "x64/" + name, then the bare name through the
// system's normal search order. The program directory is $TESSARY_PROGRAM_DIR when set, else
// the folder of this module (a portable install keeps "Portable.dat" there; it changes nothing
// here), found once per process.
#pragma once

#include "foundation/ZrString.h"

enum class ZrHostSlot {
    Tools,  // the tools library: the ZrTools interface
    Reader, // file objects (served inside this library on this platform)
    Image,  // image application
    Player, // format converter and processor (served inside this library on this platform)
    Television,
    Disc,
    WMFactory, // Windows Media factory
};
inline constexpr int ZrHostSlotCount = 7;

// The module handle handed to the tools library's Initialize and Uninitialize: set by the
// application object when the library attaches; null before (and in programs without one).
void ZrSetHostModule(void* module);

// Loads the slot's library once and calls its entry point; true when the slot holds a module
// afterwards. A slot without a library on this platform stays empty (false).
bool ZrLoadHostLibrary(ZrHostSlot slot);

// Uninitializes and unloads every loaded library; the slots are empty afterwards.
void ZrReleaseHostLibraries();

// The full path of the module this code is linked into (the plug-in library), "" when unknown.
ZrString ZrModuleFileName();
