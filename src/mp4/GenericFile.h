// The generic file object the atom streams read and write through: a plain file, or a read-only
// view on bytes in memory (for checking data that never touched the disk).
#pragma once

#include "foundation/ZrString.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

class IGenericFile {
public:
    virtual ~IGenericFile() = default;
    // "READ_ONLY" makes the next Open read the file as it is; without it Open creates the file
    // anew (truncated) for reading and writing.
    virtual void SetOption(std::u16string_view option) = 0;
    virtual bool Open(const ZrString& name) = 0;
    virtual bool IsOpen() const = 0;
    // Short counts only at the end of the file or on an error (then -1 when nothing moved).
    virtual int64_t Read(void* data, size_t bytes) = 0;
    virtual int64_t Write(const void* data, size_t bytes) = 0;
    virtual bool Seek(uint64_t offset) = 0;
    virtual int64_t Size() const = 0;
    virtual void Close() = 0;
    // The reason of the last failure ("No space left on device").
    virtual ZrString ErrorText() const = 0;
};

// A file on disk.
std::unique_ptr<IGenericFile> CreateGenericReaderFile();
// Reads `bytes` bytes at `data`, which must outlive the object; Open ignores the name.
std::unique_ptr<IGenericFile> CreateMemoryReaderFile(const uint8_t* data, size_t bytes);
