// One tree of the host's settings store, kept in one text file (format: ZrStoreFormat.h).
//
// Reading never locks: the file is only ever replaced whole (ZrToolsFiles::ReplaceFile), so a
// reader sees an old or a new version. The parsed tree is cached and read again when the file
// changed (device, inode, size, modification or change time), so a long-lived process sees what
// other processes wrote. The cache keeps the file it parsed open: an inode in use cannot be
// handed to the next version, so a replaced file is always noticed.
//
// Changes come in batches: Stage collects an edit for its owner (a key object) and applies it
// at once to what this process reads; Commit writes the owner's edits in one go. Committing
// takes the lock file beside the store (flock on "<file>.lock"), reads the current file under
// that lock, applies only the owner's edits and replaces the file before unlocking; two
// processes writing at the same moment therefore both keep their values. Edits are kept as
// functions of the tree because they run again on every newer version of the file.
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
#include <utility>
#include <vector>

class ZrSettingsStore {
public:
    // `treeName` appears in the file's banner and in log lines ("host", "machine").
    ZrSettingsStore(std::string path, std::string treeName, unsigned fileMode);
    ~ZrSettingsStore();
    ZrSettingsStore(const ZrSettingsStore&) = delete;
    ZrSettingsStore& operator=(const ZrSettingsStore&) = delete;

    // Returns whether it changed the tree.
    using Edit = std::function<bool(ZrStoreNode&)>;

    // Runs `read` on the current tree with this process's staged edits applied.
    template <typename Reader>
    auto Read(Reader&& read) {
        std::lock_guard<std::mutex> guard(m_lock);
        Refresh();
        return read(static_cast<const ZrStoreNode&>(View()));
    }

    // Applies `edit` to what this process reads and, when it changed anything, keeps it for
    // Commit(owner); `changed` receives what it returned. False, with the reason logged, when
    // the store cannot be written: nothing is staged then.
    bool Stage(const void* owner, Edit edit, bool* changed = nullptr);
    // Writes the edits staged by `owner` and forgets them, whether or not they could be
    // written. False when the store could not be written (the reason is logged).
    bool Commit(const void* owner);

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
    const ZrStoreNode& View();
    bool CheckWritable();
    bool KeepCorruptCopy(std::string* error);
    void ForgetFile();
    bool Fail(const std::string& error);
    void CloseCache();

    const std::string m_path;
    const std::string m_treeName;
    const unsigned m_fileMode;
    std::mutex m_lock;
    ZrStoreNode m_tree;                                 // as the file holds it
    std::vector<std::pair<const void*, Edit>> m_staged; // in the order they were made
    ZrStoreNode m_view;         // m_tree with m_staged applied, when m_staged is not empty
    bool m_viewStale = false;   // m_view must be made again from m_tree
    Identity m_identity;        // of the file behind m_fd
    int m_fd = -1;              // the parsed file, kept open (see above)
    bool m_hasProblems = false; // the parsed file had unreadable lines
    int m_readError = 0;        // errno when the existing file could not be read
};
