#include "mp4/AtomStream.h"

#include "foundation/ZrByteOrder.h"
#include "mp4/MP4Error.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

// ---- CReaderBufferer --------------------------------------------------------------------------

CReaderBufferer::CReaderBufferer(ZrFile& file)
    : m_file(file), m_ring(std::make_unique<uint8_t[]>(RingSize)) {}

CReaderBufferer::~CReaderBufferer() {
    Stop();
}

bool CReaderBufferer::OnStarting() {
    return m_pendingEvent.IsValid();
}

void CReaderBufferer::Write(const uint8_t* data, size_t bytes) {
    const size_t writeIndexStart = m_writeIndex.load(std::memory_order_relaxed);
    size_t writeIndex = writeIndexStart;
    while (bytes > 0) {
        const size_t readIndex = m_readIndex.load(std::memory_order_acquire);
        const size_t room = RingSize - 1 - Pending(readIndex, writeIndex);
        if (room == 0) {
            if (!IsRunning()) {
                m_ok.store(false, std::memory_order_release);
                return;
            }
            m_pendingEvent.Set();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        const size_t piece = std::min({bytes, room, RingSize - writeIndex});
        std::memcpy(m_ring.get() + writeIndex, data, piece);
        writeIndex = (writeIndex + piece) % RingSize;
        m_writeIndex.exchange(writeIndex, std::memory_order_acq_rel);
        data += piece;
        bytes -= piece;
        if (Pending(readIndex, writeIndex) >= WriteThreshold)
            m_pendingEvent.Set();
    }
}

ZrString CReaderBufferer::ErrorText() const {
    std::lock_guard<std::mutex> lock(m_errorMutex);
    return m_error;
}

void CReaderBufferer::Fail(const ZrString& reason) {
    std::lock_guard<std::mutex> lock(m_errorMutex);
    m_error = reason;
    m_ok.store(false, std::memory_order_release);
}

void CReaderBufferer::WritePending() {
    const size_t readIndex = m_readIndex.load(std::memory_order_relaxed);
    const size_t writeIndex = m_writeIndex.load(std::memory_order_acquire);
    size_t at = readIndex;
    while (at != writeIndex) {
        const size_t end = writeIndex > at ? writeIndex : RingSize;
        const size_t piece = end - at;
        // After a failed write the bytes are still taken out, so the producer never stalls.
        if (Succeeded() && m_file.Write(m_ring.get() + at, piece) != static_cast<int64_t>(piece))
            Fail(m_file.ErrorText());
        at = end % RingSize;
    }
    m_readIndex.exchange(writeIndex, std::memory_order_acq_rel);
}

bool CReaderBufferer::Run() {
    for (;;) {
        const ZrWaitResult woke = Wait(NoTimeout, m_pendingEvent.Descriptor());
        if (woke == ZrWaitResult::Extra)
            m_pendingEvent.Reset();
        if (woke == ZrWaitResult::Failed) {
            Fail(ZrString::Format("Cannot wait for data to write: %s", std::strerror(errno)));
            return false;
        }
        const bool stop = IsStopRequested();
        const size_t pending = Pending(m_readIndex.load(std::memory_order_relaxed),
                                       m_writeIndex.load(std::memory_order_acquire));
        if (pending >= WriteThreshold || stop)
            WritePending();
        if (stop)
            return Succeeded();
    }
}

// ---- CAtomStream ------------------------------------------------------------------------------

CAtomStream::CAtomStream() = default;

CAtomStream::~CAtomStream() {
    Close();
}

bool CAtomStream::Open(const ZrString& name, bool forWriting) {
    Close();
    if (!m_file.Open(name, forWriting ? ZrFile::Mode::ReadWrite : ZrFile::Mode::Read)) {
        m_directError = m_file.ErrorText();
        return false;
    }
    m_name = name;
    const int64_t size = m_file.Size();
    m_size = size > 0 ? static_cast<uint64_t>(size) : 0;
    m_position = 0;
    if (forWriting) {
        m_bufferer = std::make_unique<CReaderBufferer>(m_file);
        if (!m_bufferer->Start(ZrThread::PriorityNormal))
            m_bufferer.reset(); // writes go straight to the file
    }
    return true;
}

bool CAtomStream::Attach(ZrFile file, const ZrString& name) {
    Close();
    if (!file.IsOpen())
        return false;
    m_file = std::move(file);
    m_name = name;
    const int64_t size = m_file.Size();
    m_size = size > 0 ? static_cast<uint64_t>(size) : 0;
    m_position = 0;
    return true;
}

bool CAtomStream::IsOpen() const {
    return m_file.IsOpen();
}

bool CAtomStream::Close() {
    const bool drained = StopWriteBehind();
    const bool ok = drained && !m_directWriteFailed;
    m_file.Close();
    m_fill = m_index = 0;
    return ok;
}

bool CAtomStream::Fill() {
    if (!m_file.IsOpen())
        return false;
    if (m_buffer.empty())
        m_buffer.resize(ReadAheadSize);
    m_index = 0;
    const int64_t n = m_file.Read(m_buffer.data(), m_buffer.size());
    m_fill = n > 0 ? static_cast<size_t>(n) : 0;
    return m_fill > 0;
}

uint8_t CAtomStream::ReadByte() {
    if (m_index == m_fill && !Fill())
        Mp4Raise("Read past EOF");
    ++m_position;
    return m_buffer[m_index++];
}

uint64_t CAtomStream::ReadBE(unsigned bytes) {
    uint64_t value = 0;
    if (m_fill - m_index >= bytes) { // the common case: no refill inside the integer
        value = zrbytes::LoadBE(m_buffer.data() + m_index, bytes);
        m_index += bytes;
        m_position += bytes;
        return value;
    }
    for (unsigned i = 0; i < bytes; ++i)
        value = (value << 8) | ReadByte();
    return value;
}

size_t CAtomStream::ReadSome(void* data, size_t bytes) {
    auto* out = static_cast<uint8_t*>(data);
    size_t done = 0;
    while (done < bytes) {
        if (m_index == m_fill) {
            // Large reads skip the read-ahead buffer.
            if (bytes - done >= ReadAheadSize && m_file.IsOpen()) {
                const int64_t n = m_file.Read(out + done, bytes - done);
                if (n <= 0)
                    break;
                done += static_cast<size_t>(n);
                m_position += static_cast<uint64_t>(n);
                continue;
            }
            if (!Fill())
                break;
        }
        const size_t piece = std::min(bytes - done, m_fill - m_index);
        std::memcpy(out + done, m_buffer.data() + m_index, piece);
        m_index += piece;
        done += piece;
        m_position += piece;
    }
    return done;
}

void CAtomStream::Read(void* data, size_t bytes) {
    if (ReadSome(data, bytes) != bytes)
        Mp4Raise("Read past EOF");
}

void CAtomStream::Skip(uint64_t bytes) {
    if (bytes <= m_fill - m_index) {
        m_index += static_cast<size_t>(bytes);
        m_position += bytes;
        return;
    }
    Seek(m_position + bytes);
}

void CAtomStream::Seek(uint64_t position) {
    m_fill = m_index = 0;
    m_position = position;
    m_file.Seek(position);
}

void CAtomStream::Write(const void* data, size_t bytes) {
    if (bytes == 0)
        return;
    if (m_bufferer && m_bufferer->IsRunning()) {
        m_bufferer->Write(static_cast<const uint8_t*>(data), bytes);
    } else {
        if (m_fill) { // the file is ahead of us by the read-ahead bytes
            m_file.Seek(m_position);
            m_fill = m_index = 0;
        }
        if (m_file.Write(data, bytes) != static_cast<int64_t>(bytes)) {
            if (!m_directWriteFailed)
                m_directError =
                    m_file.IsOpen() ? m_file.ErrorText() : ZrString(u"File not open");
            m_directWriteFailed = true;
        }
    }
    m_position += bytes;
    m_size = std::max(m_size, m_position);
}

void CAtomStream::WriteBE(uint64_t value, unsigned bytes) {
    uint8_t buffer[8];
    zrbytes::StoreBE(buffer, value, bytes);
    Write(buffer, bytes);
}

bool CAtomStream::StopWriteBehind() {
    if (!m_bufferer)
        return true;
    // Anything written after the thread ended was dropped by Write, which cleared Succeeded.
    const bool ok = m_bufferer->Stop() && m_bufferer->Succeeded();
    if (!ok && !m_directWriteFailed) {
        m_directWriteFailed = true;
        m_directError = m_bufferer->ErrorText();
    }
    m_bufferer.reset();
    return ok;
}

bool CAtomStream::WriteFailed() const {
    return m_directWriteFailed || (m_bufferer && !m_bufferer->Succeeded());
}

ZrString CAtomStream::ErrorText() const {
    if (m_bufferer && !m_bufferer->Succeeded())
        return m_bufferer->ErrorText();
    return m_directError;
}
