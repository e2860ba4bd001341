// ZrFile: the generic file object every writer and reader of the library goes through, a plain
// POSIX file (open modes, positioned and sequential reads and writes, seek, tell, size). Paths
// are UTF-16 and converted to UTF-8 at the system call. Every failing call returns false (or -1)
// and keeps errno in Error().
#pragma once

#include "foundation/ZrString.h"

#include <cstddef>
#include <cstdint>

class ZrFile {
public:
    enum class Mode {
        Read,              // existing file, read only
        Write,             // created anew (truncated), write only
        ReadWrite,         // created anew (truncated), read and write
        ReadWriteExisting, // existing file, read and write, kept as it is
        Append,            // created when missing, written at the end
    };

    ZrFile() = default;
    explicit ZrFile(const ZrString& path) : m_path(path) {}
    ZrFile(const ZrFile&) = delete;
    ZrFile& operator=(const ZrFile&) = delete;
    ZrFile(ZrFile&& other) noexcept;
    ZrFile& operator=(ZrFile&& other) noexcept;
    ~ZrFile() { Close(); }

    void SetPath(const ZrString& path) { m_path = path; }
    const ZrString& Path() const noexcept { return m_path; }

    bool Open(Mode mode);
    bool Open(const ZrString& path, Mode mode) {
        m_path = path;
        return Open(mode);
    }
    // An anonymous file holding a copy of `bytes` at `data`, positioned at its start, that
    // refuses writes (EPERM): for reading bytes that never touched the disk like a file.
    bool OpenCopyOf(const void* data, size_t bytes);
    // Closes the descriptor; false when the system reported an error (a late write error).
    bool Close();
    bool IsOpen() const noexcept { return m_fd >= 0; }

    // Sequential, at the current position; short counts only at end of file or on error.
    // Interrupted calls are resumed.
    int64_t Write(const void* data, size_t bytes);
    int64_t Read(void* data, size_t bytes);
    bool WriteAll(const void* data, size_t bytes) {
        return Write(data, bytes) == static_cast<int64_t>(bytes);
    }
    // Positioned, leaving the current position alone.
    int64_t WriteAt(const void* data, size_t bytes, uint64_t offset);
    int64_t ReadAt(void* data, size_t bytes, uint64_t offset);

    bool Seek(uint64_t offset);
    bool SeekEnd();
    int64_t Tell() const;
    int64_t Size() const;
    bool Truncate(uint64_t size);
    bool Sync();

    int Error() const noexcept { return m_errno; }
    // "No space left on device" and so on, for messages.
    ZrString ErrorText() const;
    int Descriptor() const noexcept { return m_fd; }

private:
    ZrString m_path;
    int m_fd = -1;
    int m_errno = 0;
};
