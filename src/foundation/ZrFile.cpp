#include "foundation/ZrFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// Resumes interrupted and partial transfers; stops at end of file or on an error.
template <typename Op>
int64_t Transfer(Op op, size_t bytes, int& error) {
    size_t done = 0;
    while (done < bytes) {
        const ssize_t n = op(done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            return done ? static_cast<int64_t>(done) : -1;
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

} // namespace

ZrFile::ZrFile(ZrFile&& other) noexcept
    : m_path(std::move(other.m_path)), m_fd(std::exchange(other.m_fd, -1)), m_errno(other.m_errno) {
}

ZrFile& ZrFile::operator=(ZrFile&& other) noexcept {
    if (this != &other) {
        Close();
        m_path = std::move(other.m_path);
        m_fd = std::exchange(other.m_fd, -1);
        m_errno = other.m_errno;
    }
    return *this;
}

bool ZrFile::Open(Mode mode) {
    Close();
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::Read:
        flags |= O_RDONLY;
        break;
    case Mode::Write:
        flags |= O_WRONLY | O_CREAT | O_TRUNC;
        break;
    case Mode::ReadWrite:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    case Mode::ReadWriteExisting:
        flags |= O_RDWR;
        break;
    case Mode::Append:
        flags |= O_WRONLY | O_CREAT | O_APPEND;
        break;
    }
    const std::string path = m_path.ToUtf8();
    if (path.empty()) {
        m_errno = ENOENT;
        return false;
    }
    do {
        m_fd = ::open(path.c_str(), flags, 0666);
    } while (m_fd < 0 && errno == EINTR);
    if (m_fd < 0) {
        m_errno = errno;
        return false;
    }
    // A folder opens read-only without error; it is never a file to read or write.
    struct stat info;
    if (::fstat(m_fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(m_fd);
        m_fd = -1;
        m_errno = EISDIR;
        return false;
    }
    m_errno = 0;
    return true;
}

bool ZrFile::OpenCopyOf(const void* data, size_t bytes) {
    Close();
    m_fd = ::memfd_create("ZrFile", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (m_fd < 0) {
        m_errno = errno;
        return false;
    }
    m_errno = 0;
    const bool ok =
        Write(data, bytes) == static_cast<int64_t>(bytes) && Seek(0) &&
        ::fcntl(m_fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL) == 0;
    if (!ok) {
        m_errno = m_errno ? m_errno : errno;
        Close();
        return false;
    }
    m_errno = 0;
    return true;
}

bool ZrFile::Close() {
    if (m_fd < 0)
        return true;
    const int result = ::close(m_fd);
    m_fd = -1;
    if (result != 0 && errno != EINTR) {
        m_errno = errno;
        return false;
    }
    return true;
}

int64_t ZrFile::Write(const void* data, size_t bytes) {
    if (m_fd < 0) {
        m_errno = EBADF;
        return -1;
    }
    const auto* p = static_cast<const unsigned char*>(data);
    return Transfer([&](size_t done) { return ::write(m_fd, p + done, bytes - done); }, bytes,
                    m_errno);
}

int64_t ZrFile::Read(void* data, size_t bytes) {
    if (m_fd < 0) {
        m_errno = EBADF;
        return -1;
    }
    auto* p = static_cast<unsigned char*>(data);
    return Transfer([&](size_t done) { return ::read(m_fd, p + done, bytes - done); }, bytes,
                    m_errno);
}

int64_t ZrFile::WriteAt(const void* data, size_t bytes, uint64_t offset) {
    if (m_fd < 0) {
        m_errno = EBADF;
        return -1;
    }
    const auto* p = static_cast<const unsigned char*>(data);
    return Transfer(
        [&](size_t done) {
            return ::pwrite(m_fd, p + done, bytes - done, static_cast<off_t>(offset + done));
        },
        bytes, m_errno);
}

int64_t ZrFile::ReadAt(void* data, size_t bytes, uint64_t offset) {
    if (m_fd < 0) {
        m_errno = EBADF;
        return -1;
    }
    auto* p = static_cast<unsigned char*>(data);
    return Transfer(
        [&](size_t done) {
            return ::pread(m_fd, p + done, bytes - done, static_cast<off_t>(offset + done));
        },
        bytes, m_errno);
}

bool ZrFile::Seek(uint64_t offset) {
    if (m_fd < 0 || ::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        m_errno = m_fd < 0 ? EBADF : errno;
        return false;
    }
    return true;
}

bool ZrFile::SeekEnd() {
    if (m_fd < 0 || ::lseek(m_fd, 0, SEEK_END) < 0) {
        m_errno = m_fd < 0 ? EBADF : errno;
        return false;
    }
    return true;
}

int64_t ZrFile::Tell() const {
    if (m_fd < 0)
        return -1;
    return ::lseek(m_fd, 0, SEEK_CUR);
}

int64_t ZrFile::Size() const {
    struct stat info;
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0)
        return -1;
    return info.st_size;
}

bool ZrFile::Truncate(uint64_t size) {
    if (m_fd < 0 || ::ftruncate(m_fd, static_cast<off_t>(size)) != 0) {
        m_errno = m_fd < 0 ? EBADF : errno;
        return false;
    }
    return true;
}

bool ZrFile::Sync() {
    if (m_fd < 0 || ::fsync(m_fd) != 0) {
        m_errno = m_fd < 0 ? EBADF : errno;
        return false;
    }
    return true;
}

ZrString ZrFile::ErrorText() const {
    char buffer[256];
    const char* text = ::strerror_r(m_errno, buffer, sizeof buffer);
    return ZrString::FromUtf8(text);
}
