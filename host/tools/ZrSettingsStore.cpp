#include "tools/ZrSettingsStore.h"

#include "foundation/ZrFileSystem.h"
#include "tools/ZrToolsFiles.h"
#include "tools/ZrToolsLogger.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t MaxFileBytes = 64u << 20;
constexpr size_t ProblemsLogged = 10;
constexpr std::string_view LogScope = "ZrSettingsStore";

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

std::string Banner(const std::string& treeName) {
    return "; Tessary settings, " + treeName +
           " tree. A [key path] line starts a key; its values follow as\n"
           "; Name = 123 (an integer) or Name = \"text\" (a text; \\\\ \\\" \\n \\r \\t \\xHH "
           "\\uHHHH are escapes).\n";
}

// The descriptor of the lock file; closing it releases the lock.
class LockFile {
public:
    explicit LockFile(const std::string& path, unsigned mode)
        : m_fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode)) {}
    ~LockFile() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    bool Lock() {
        while (::flock(m_fd, LOCK_EX) != 0)
            if (errno != EINTR)
                return false;
        return true;
    }

private:
    int m_fd;
};

} // namespace

bool ZrSettingsStore::Identity::operator==(const Identity& other) const {
    return Device == other.Device && Inode == other.Inode && Size == other.Size &&
           SameTime(Modified, other.Modified) && SameTime(Changed, other.Changed);
}

ZrSettingsStore::ZrSettingsStore(std::string path, std::string treeName, unsigned fileMode)
    : m_path(std::move(path)), m_treeName(std::move(treeName)), m_fileMode(fileMode) {}

ZrSettingsStore::~ZrSettingsStore() {
    CloseCache();
}

void ZrSettingsStore::CloseCache() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void ZrSettingsStore::ForgetFile() {
    CloseCache();
    m_tree = ZrStoreNode();
    m_viewStale = true;
    m_hasProblems = false;
}

bool ZrSettingsStore::Fail(const std::string& error) {
    ZrToolsLog(LogScope, "Cannot change the settings in " + Quoted(m_path) + ": " + error);
    return false;
}

void ZrSettingsStore::Refresh() {
    struct stat info;
    if (::stat(m_path.c_str(), &info) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            ForgetFile();
            m_readError = 0;
            return;
        }
        if (m_readError != error)
            ZrToolsLog(LogScope,
                       "Cannot read " + Quoted(m_path) + ": " + ZrToolsFiles::ErrnoText(error));
        ForgetFile();
        m_readError = error;
        return;
    }
    const Identity current{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
    if (m_fd >= 0 && current == m_identity)
        return;
    Load();
}

void ZrSettingsStore::Load() {
    const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    std::string content;
    if (fd < 0 || ::fstat(fd, &info) != 0 || !ZrToolsFiles::ReadAll(fd, content, MaxFileBytes)) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        ForgetFile();
        const bool vanished = error == ENOENT; // deleted since the stat: absent
        if (!vanished && m_readError != error)
            ZrToolsLog(LogScope,
                       "Cannot read " + Quoted(m_path) + ": " + ZrToolsFiles::ErrnoText(error));
        m_readError = vanished ? 0 : error;
        return;
    }
    ZrStoreParseResult parsed = ZrParseStore(content);
    for (size_t i = 0; i < parsed.Problems.size() && i < ProblemsLogged; ++i)
        ZrToolsLog(LogScope,
                   "Ignoring an unreadable line of " + Quoted(m_path) + ", " + parsed.Problems[i]);
    if (parsed.Problems.size() > ProblemsLogged)
        ZrToolsLog(LogScope, std::to_string(parsed.Problems.size() - ProblemsLogged) +
                                 " more unreadable lines in " + Quoted(m_path));
    CloseCache();
    m_fd = fd;
    m_identity = Identity{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
    m_tree = std::move(parsed.Root);
    m_viewStale = true;
    m_hasProblems = !parsed.Problems.empty();
    m_readError = 0;
}

bool ZrSettingsStore::KeepCorruptCopy(std::string* error) {
    std::string content;
    if (m_fd < 0 || !ZrToolsFiles::ReadAll(m_fd, content, MaxFileBytes)) {
        *error = "cannot read its unreadable lines to keep a copy";
        return false;
    }
    constexpr int MaxCopies = 99;
    for (int n = 1; n <= MaxCopies; ++n) {
        const std::string copy = m_path + ".bak" + (n == 1 ? "" : "." + std::to_string(n));
        const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (n < MaxCopies ? O_EXCL : O_TRUNC);
        const int fd = ::open(copy.c_str(), flags, m_fileMode);
        if (fd < 0 && errno == EEXIST)
            continue;
        const bool written = fd >= 0 && ZrToolsFiles::WriteAll(fd, content) && ::fsync(fd) == 0;
        const int saved = errno;
        if (fd >= 0)
            ::close(fd);
        if (!written) {
            *error = "cannot keep a copy of its unreadable lines in " + Quoted(copy) + ": " +
                     ZrToolsFiles::ErrnoText(saved);
            return false;
        }
        ZrToolsLog(LogScope, "The unreadable lines of " + Quoted(m_path) +
                                 " are dropped; the old file is kept as " + Quoted(copy));
        return true;
    }
    return false;
}

const ZrStoreNode& ZrSettingsStore::View() {
    if (m_staged.empty())
        return m_tree;
    if (m_viewStale) {
        m_view = m_tree;
        for (const auto& staged : m_staged)
            staged.second(m_view);
        m_viewStale = false;
    }
    return m_view;
}

// Catches what would make the commit fail before anything is staged, so that the write itself
// can report it.
bool ZrSettingsStore::CheckWritable() {
    std::string error;
    if (!ZrFileSystem::MakeDirectories(ZrToolsFiles::FolderOf(m_path), &error))
        return Fail(error);
    const std::string lockPath = m_path + ".lock";
    if (!LockFile(lockPath, m_fileMode).IsOpen())
        return Fail("cannot open the lock file " + Quoted(lockPath) + ": " +
                    ZrToolsFiles::ErrnoText(errno));
    Refresh();
    if (m_readError)
        return Fail("the file cannot be read (" + ZrToolsFiles::ErrnoText(m_readError) +
                    ") and is left as it is");
    return true;
}

bool ZrSettingsStore::Stage(const void* owner, Edit edit, bool* changed) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (changed)
        *changed = false;
    if (!CheckWritable())
        return false;
    if (m_staged.empty())
        m_view = m_tree;
    else
        View();
    const bool didChange = edit(m_view);
    if (changed)
        *changed = didChange;
    if (didChange) {
        m_staged.emplace_back(owner, std::move(edit));
        m_viewStale = false;
    }
    return true;
}

bool ZrSettingsStore::Commit(const void* owner) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<Edit> edits;
    for (auto it = m_staged.begin(); it != m_staged.end();) {
        if (it->first == owner) {
            edits.push_back(std::move(it->second));
            it = m_staged.erase(it);
        } else {
            ++it;
        }
    }
    if (edits.empty())
        return true;
    m_viewStale = true;

    std::string error;
    if (!ZrFileSystem::MakeDirectories(ZrToolsFiles::FolderOf(m_path), &error))
        return Fail(error);
    const std::string lockPath = m_path + ".lock";
    LockFile lock(lockPath, m_fileMode);
    if (!lock.IsOpen())
        return Fail("cannot open the lock file " + Quoted(lockPath) + ": " +
                    ZrToolsFiles::ErrnoText(errno));
    if (!lock.Lock())
        return Fail("cannot lock " + Quoted(lockPath) + ": " + ZrToolsFiles::ErrnoText(errno));

    Refresh();
    if (m_readError)
        return Fail("the file cannot be read (" + ZrToolsFiles::ErrnoText(m_readError) +
                    ") and is left as it is");
    ZrStoreNode tree = m_tree;
    bool changed = false;
    for (const Edit& edit : edits)
        changed = edit(tree) || changed;
    if (!changed)
        return true;
    if (m_hasProblems && !KeepCorruptCopy(&error))
        return Fail(error);
    int fd = -1;
    if (!ZrToolsFiles::ReplaceFile(m_path, ZrFormatStore(tree, Banner(m_treeName)), m_fileMode, &fd,
                                   &error))
        return Fail(error);
    struct stat info;
    CloseCache();
    if (::fstat(fd, &info) == 0) {
        m_fd = fd;
        m_identity = Identity{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
    } else {
        ::close(fd);
    }
    m_tree = std::move(tree);
    m_hasProblems = false;
    return true;
}
