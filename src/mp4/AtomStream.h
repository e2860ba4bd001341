// The byte stream of an MP4 file object: big-endian reads through a 64 KiB read-ahead buffer, and
// writes through a write-behind thread (CReaderBufferer) that owns the file while it runs.
#pragma once

#include "foundation/ZrString.h"
#include "foundation/ZrFile.h"
#include "foundation/ZrThread.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// Write-behind for one file: a single-producer, single-consumer ring. The caller's writes land
// in the ring; the thread writes them to the file in large pieces. Stop (without a time-out:
// draining to a slow disk must not be cut short) writes what is pending and ends the thread; it
// returns false when any file write came up short.
class CReaderBufferer final : public ZrThread {
public:
    static constexpr size_t RingSize = 0x100001;    // one byte always stays free: 1 MiB usable
    static constexpr size_t WriteThreshold = 65536; // pending bytes that wake the thread

    explicit CReaderBufferer(ZrFile& file);
    ~CReaderBufferer() override;

    // Copies the bytes into the ring, waiting while it is full. When the thread has ended, the
    // rest is dropped and the bufferer no longer succeeds.
    void Write(const uint8_t* data, size_t bytes);
    bool Succeeded() const noexcept { return m_ok.load(std::memory_order_acquire); }
    ZrString ErrorText() const;

private:
    bool OnStarting() override;
    bool Run() override;
    void Fail(const ZrString& reason);
    size_t Pending(size_t readIndex, size_t writeIndex) const noexcept {
        return (writeIndex + RingSize - readIndex) % RingSize;
    }
    void WritePending();

    ZrFile& m_file;
    ZrEvent m_pendingEvent; // auto-reset: set by the producer when the thread has work
    std::unique_ptr<uint8_t[]> m_ring;
    std::atomic<size_t> m_readIndex{0};  // only the thread moves it
    std::atomic<size_t> m_writeIndex{0}; // only the producer moves it
    std::atomic<bool> m_ok{true};
    mutable std::mutex m_errorMutex;
    ZrString m_error;
};

class CAtomStream {
public:
    static constexpr size_t ReadAheadSize = 65536;

    CAtomStream();
    CAtomStream(const CAtomStream&) = delete;
    CAtomStream& operator=(const CAtomStream&) = delete;
    ~CAtomStream();

    // Opens `name`: for writing (created anew, readable too, with the write-behind thread
    // running) or read only.
    bool Open(const ZrString& name, bool forWriting);
    // Reads through a file the caller opened.
    bool Attach(ZrFile file, const ZrString& name);
    bool IsOpen() const;
    // Drains the write-behind thread and closes; false when a write failed.
    bool Close();

    const ZrString& Name() const noexcept { return m_name; }
    uint64_t Size() const noexcept { return m_size; }
    // Counts every byte read or written.
    uint64_t Position() const noexcept { return m_position; }

    // Reading: "Read past EOF" is raised when the file has no more bytes.
    uint8_t ReadByte();
    uint64_t ReadBE(unsigned bytes);
    void Read(void* data, size_t bytes);
    // As many bytes as the file still has, up to `bytes`.
    size_t ReadSome(void* data, size_t bytes);
    void Skip(uint64_t bytes);
    void Seek(uint64_t position);

    // Writing: through the write-behind thread while it runs, directly once it was stopped.
    void Write(const void* data, size_t bytes);
    void WriteBE(uint64_t value, unsigned bytes);
    // Drains and stops the write-behind thread; false when a file write came up short.
    bool StopWriteBehind();
    // A write has failed (the thread's or a direct one); ErrorText says why.
    bool WriteFailed() const;
    ZrString ErrorText() const;

private:
    bool Fill();

    ZrFile m_file;
    std::unique_ptr<CReaderBufferer> m_bufferer;
    ZrString m_name;
    uint64_t m_size = 0;
    uint64_t m_position = 0;
    std::vector<uint8_t> m_buffer; // read-ahead
    size_t m_fill = 0;
    size_t m_index = 0;
    bool m_directWriteFailed = false;
    ZrString m_directError;
};
