// Where the tools library keeps its files.
//
// With TESSARY_HOME set (tests, portable installs, several hosts side by side), every file of
// the host lives below that one folder:
//
//   $TESSARY_HOME/config/settings.ini    the host's own settings tree (OpenHostKey)
//   $TESSARY_HOME/machine/settings.ini   the machine-wide tree (OpenKey, HKEY_LOCAL_MACHINE)
//   $TESSARY_HOME/data/                  the data folder (product information, downloads)
//   $TESSARY_HOME/data/logs/zr.log       the log (zr.log.1 after rotation)
//   $TESSARY_HOME/data/translations/     <lang>.txt translation tables
//   $TESSARY_HOME/run/                   lock files of the named-lock service
//
// Without it the usual places of a desktop user apply:
//
//   $XDG_CONFIG_HOME/tessary/settings.ini        (default ~/.config/tessary/settings.ini)
//   $TESSARY_MACHINE_CONFIG/settings.ini         (default /etc/tessary/settings.ini)
//   $XDG_DATA_HOME/tessary/                      (default ~/.local/share/tessary/)
//   $XDG_RUNTIME_DIR/tessary/                    (default /tmp/tessary-<uid>/)
//
// A settings file is guarded by the lock file beside it (settings.ini.lock). The environment
// is read once per process, at the first call that needs a path; changing TESSARY_HOME later
// has no effect. Relative folders given in the environment are taken from the working folder
// at that moment.
#pragma once

#include <string>

struct ZrToolsPaths {
    std::string UserStoreFile;    // the host's settings tree
    std::string MachineStoreFile; // the machine-wide tree
    std::string DataFolder;       // no trailing separator
    std::string RunFolder;        // no trailing separator

    std::string LogFile() const { return DataFolder + "/logs/zr.log"; }
    std::string TranslationsFolder() const { return DataFolder + "/translations"; }

    // The paths of this process, computed on first use.
    static const ZrToolsPaths& Get();
    // The same rules over an explicit environment lookup; for tests of the rules themselves.
    static ZrToolsPaths Compute(const char* (*getEnv)(const char* name));
};
