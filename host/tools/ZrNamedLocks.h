// Named locks shared by every thread and process of the host: an exclusive flock on a lock file
// named after the lock, in the run folder (ZrToolsPaths.h). Each Acquire opens the file anew,
// so two threads of one process exclude each other as two processes do. Release gives up the
// oldest hold of this process on the name, whichever thread took it. A lock whose holder dies
// is free at once: the kernel drops the flock with the descriptor.
#pragma once

#include "tessary/ZrToolsServices.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

class ZrNamedLocks final : public IZrNamedLocks {
public:
    static ZrNamedLocks& Instance();

    bool Acquire(const char16_t* name, int32_t timeoutMs, bool wait) override;
    void Release(const char16_t* name) override;

    // The lock file of `name`: bytes other than letters, digits, '-', '_' and '.' are written
    // as %XX, so that different names never share a file; very long names end in a hash.
    static std::string FileName(const char16_t* name);

private:
    std::mutex m_lock;
    std::map<std::string, std::vector<int>> m_held; // descriptors by file name
};
