// One tree of the host's settings store, kept in one text file (format: ZrStoreFormat.h).
//
// Reading never locks: the file is only ever replaced whole (ZrToolsFiles::ReplaceFile), so a
// reader sees an old or a new version. The parsed tree is cached and read again when the file
// changed (device, inode, size, modification or change time), so a long-lived process sees what
// other processes wrote. The cache keeps the file it parsed open: an inode in use cannot be
// handed to the next version, so a replaced file is always noticed.
//
// Changing takes the lock file beside the store (flock on "<file>.lock"), reads the current
// file under that lock, applies the change and replaces the file before unlocking; two
// processes writing at the same moment therefore both keep their values.
//
// A file with unreadable lines is read without them (each logged once per version of the
// file). Before the first change replaces such a file, its bytes are kept as "<file>.bak" (or
// "<file>.bak.2" ... when that exists); when no copy can be made the change fails instead.
// A file that exists but cannot be read at all is never replaced.
#pragma once

#include "tools/ZrStoreFormat.h"

#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>

class ZrSettingsStore {
public:
    // `treeName` appears in the file's banner and in log lines ("host", "machine").
    ZrSettingsStore(std::string path, std::string treeName, unsigned fileMode);
    ~ZrSettingsStore();
    ZrSettingsStore(const ZrSettingsStore&) = delete;
    ZrSettingsStore& operator=(const ZrSettingsStore&) = delete;

    // Runs `read` on the current tree.
    template <typename Reader>
    auto Read(Reader&& read) {
        std::lock_guard<std::mutex> guard(m_lock);
        Refresh();
        return read(static_cast<const ZrStoreNode&>(m_tree));
    }

    // Applies `change` to the file's current tree; `change` returns whether it changed
    // anything, and only then is the file replaced. False when the store could not be written
    // (the reason is logged).
    bool Change(const std::function<bool(ZrStoreNode&)>& change);

    const std::string& Path() const noexcept { return m_path; }

private:
    struct Identity {
        dev_t Device = 0;
        ino_t Inode = 0;
        off_t Size = -1;
        timespec Modified{};
        timespec Changed{};
        bool operator==(const Identity& other) const;
    };

    void Refresh();
    void Load();
    bool KeepCorruptCopy(std::string* error);
    void ForgetFile();
    bool Fail(const std::string& error);
    void CloseCache();

    const std::string m_path;
    const std::string m_treeName;
    const unsigned m_fileMode;
    std::mutex m_lock;
    ZrStoreNode m_tree;
    Identity m_identity;        // of the file behind m_fd
    int m_fd = -1;              // the parsed file, kept open (see above)
    bool m_hasProblems = false; // the parsed file had unreadable lines
    int m_readError = 0;        // errno when the existing file could not be read
};
