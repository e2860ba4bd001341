// ZrGenericFile: the host's generic file object, as the writers of the library use it (WAV, AIFF,
// DSF and MP4 writers). On this platform it is a plain POSIX file; header-only so that any
// encoder folder can use it without linking this one.
//
// Create one per file name with CreateGenericFile; the object closes its file when it goes.
#pragma once

#include "foundation/ZrFile.h"
#include "foundation/ZrString.h"

#include <cstdint>
#include <memory>

class ZrGenericFile {
public:
    enum class Origin { Begin, Current, End };

    explicit ZrGenericFile(const ZrString& fileName) : m_file(fileName) {}
    ZrGenericFile(const ZrGenericFile&) = delete;
    ZrGenericFile& operator=(const ZrGenericFile&) = delete;

    const ZrString& FileName() const noexcept { return m_file.Path(); }

    // Creates the file, or empties an existing one.
    bool OpenForWriting() { return m_file.Open(ZrFile::Mode::ReadWrite); }
    bool OpenForReading() { return m_file.Open(ZrFile::Mode::Read); }
    bool IsOpen() const noexcept { return m_file.IsOpen(); }
    // False when the system reported a late write error.
    bool Close() { return m_file.Close(); }

    // Bytes written or read at the current position; short only on error (or end of file).
    int64_t Write(const void* data, size_t count) {
        const int64_t n = m_file.Write(data, count);
        return n < 0 ? 0 : n;
    }
    int64_t Read(void* data, size_t count) {
        const int64_t n = m_file.Read(data, count);
        return n < 0 ? 0 : n;
    }
    // The file's length in bytes; -1 when the file is not open.
    int64_t GetLength() const { return m_file.Size(); }
    // 0 on success, -1 on failure, as the host's file objects answer.
    int Seek(int64_t position, Origin origin = Origin::Begin) {
        int64_t target = position;
        if (origin == Origin::Current)
            target += m_file.Tell();
        else if (origin == Origin::End)
            target += m_file.Size();
        return target >= 0 && m_file.Seek(static_cast<uint64_t>(target)) ? 0 : -1;
    }
    int64_t Tell() const { return m_file.Tell(); }

    // "No space left on device" and so on, for messages and the log.
    ZrString ErrorText() const { return m_file.ErrorText(); }

private:
    ZrFile m_file;
};

inline std::unique_ptr<ZrGenericFile> CreateGenericFile(const ZrString& fileName) {
    return std::make_unique<ZrGenericFile>(fileName);
}
