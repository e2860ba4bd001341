#include "codecs/wma/runtime/AsfHeader.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// {75B22630-668E-11CF-A6D9-00AA0062CE6C}: the first three groups are stored little-endian.
constexpr AsfGuid HeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                  0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
// {8CABDCA1-A947-11CF-8EE4-00C00C205365}
constexpr AsfGuid FilePropertiesObject = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                          0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
// {D2D0A440-E307-11D2-97F0-00A0C95EA850}
constexpr AsfGuid ExtendedContentDescriptionObject = {
    0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11, 0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};

constexpr uint64_t ObjectHeaderBytes = 24;
constexpr uint64_t HeaderObjectBytes = 30; // identifier, size, object count, two reserved bytes
// No real header comes near this; a larger size is a damaged file, not a reason to allocate.
constexpr uint64_t LargestHeader = 64u << 20;

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t Get32(const uint8_t* p) {
    return Get16(p) | uint32_t{Get16(p + 2)} << 16;
}
uint64_t Get64(const uint8_t* p) {
    return Get32(p) | uint64_t{Get32(p + 4)} << 32;
}
void Put(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void Put(uint8_t* p, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

std::string SystemError(const std::string& what, const std::string& path) {
    return what + " \"" + path + "\": " + std::strerror(errno);
}

bool ReadAll(int fd, uint8_t* data, size_t bytes, uint64_t offset) {
    while (bytes > 0) {
        const ssize_t got = ::pread(fd, data, bytes, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        data += got;
        bytes -= static_cast<size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    return true;
}

bool WriteAll(int fd, const uint8_t* data, size_t bytes, uint64_t offset) {
    while (bytes > 0) {
        const ssize_t put = ::pwrite(fd, data, bytes, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = EIO;
            return false;
        }
        data += put;
        bytes -= static_cast<size_t>(put);
        offset += static_cast<uint64_t>(put);
    }
    return true;
}

struct Descriptor {
    int Fd = -1;
    ~Descriptor() {
        if (Fd >= 0)
            ::close(Fd);
    }
    bool Close() {
        const int fd = Fd;
        Fd = -1;
        return ::close(fd) == 0;
    }
};

} // namespace

// --- Attribute values ------------------------------------------------------------------------

WMAttribute WMAttribute::String(std::u16string_view text) {
    WMAttribute a{WMAttrType::String, {}};
    for (char16_t c : text)
        Put(a.Value, c, 2);
    Put(a.Value, 0, 2);
    return a;
}

WMAttribute WMAttribute::Bool(bool value) {
    WMAttribute a{WMAttrType::Bool, {}};
    Put(a.Value, value ? 1 : 0, 4);
    return a;
}

WMAttribute WMAttribute::DWord(uint32_t value) {
    WMAttribute a{WMAttrType::DWord, {}};
    Put(a.Value, value, 4);
    return a;
}

WMAttribute WMAttribute::QWord(uint64_t value) {
    WMAttribute a{WMAttrType::QWord, {}};
    Put(a.Value, value, 8);
    return a;
}

// --- Reading ---------------------------------------------------------------------------------

bool CAsfHeader::Fail(std::string text) {
    m_error = std::move(text);
    return false;
}

bool CAsfHeader::Load(const std::string& path) {
    m_path = path;
    m_objects.clear();
    m_attributes.clear();
    m_hadDescription = false;
    Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.Fd < 0)
        return Fail(SystemError("cannot open", path));
    struct stat info {};
    if (::fstat(file.Fd, &info) != 0)
        return Fail(SystemError("cannot read", path));
    m_fileSize = static_cast<uint64_t>(info.st_size);

    uint8_t top[HeaderObjectBytes];
    if (m_fileSize < HeaderObjectBytes || !ReadAll(file.Fd, top, sizeof top, 0) ||
        !std::equal(HeaderObject.begin(), HeaderObject.end(), top))
        return Fail("\"" + path + "\" is not an ASF file");
    m_headerSize = Get64(top + 16);
    const uint32_t count = Get32(top + 24);
    m_reserved = {top[28], top[29]};
    if (m_headerSize < HeaderObjectBytes || m_headerSize > LargestHeader ||
        m_headerSize > m_fileSize)
        return Fail("\"" + path + "\" has a damaged ASF header");
    std::vector<uint8_t> header(m_headerSize - HeaderObjectBytes);
    if (!ReadAll(file.Fd, header.data(), header.size(), HeaderObjectBytes))
        return Fail(SystemError("cannot read", path));

    size_t at = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (header.size() - at < ObjectHeaderBytes)
            return Fail("\"" + path + "\" has a damaged ASF header");
        const uint64_t size = Get64(&header[at + 16]);
        if (size < ObjectHeaderBytes || size > header.size() - at)
            return Fail("\"" + path + "\" has a damaged ASF header");
        Object object;
        std::copy_n(&header[at], 16, object.Id.begin());
        object.Body.assign(header.begin() + static_cast<ptrdiff_t>(at + ObjectHeaderBytes),
                           header.begin() + static_cast<ptrdiff_t>(at + size));
        at += size;
        if (object.Id != ExtendedContentDescriptionObject) {
            m_objects.push_back(std::move(object));
            continue;
        }
        // The attributes are kept apart and the object is rebuilt from them when saving.
        const std::vector<uint8_t>& body = object.Body;
        if (m_hadDescription || body.size() < 2)
            return Fail("\"" + path + "\" has a damaged ASF header");
        m_hadDescription = true;
        m_objects.push_back({ExtendedContentDescriptionObject, {}});
        const uint16_t descriptors = Get16(body.data());
        size_t p = 2;
        for (uint16_t d = 0; d < descriptors; ++d) {
            if (body.size() - p < 2 || body.size() - p - 2 < Get16(&body[p]))
                return Fail("\"" + path + "\" has a damaged attribute list");
            const uint16_t nameBytes = Get16(&body[p]);
            p += 2;
            Entry entry;
            for (uint16_t c = 0; c + 1 < nameBytes; c += 2)
                entry.Name += static_cast<char16_t>(Get16(&body[p + c]));
            while (!entry.Name.empty() && entry.Name.back() == 0)
                entry.Name.pop_back();
            p += nameBytes;
            if (body.size() - p < 4 || body.size() - p - 4 < Get16(&body[p + 2]))
                return Fail("\"" + path + "\" has a damaged attribute list");
            entry.Value.Type = static_cast<WMAttrType>(Get16(&body[p]));
            const uint16_t valueBytes = Get16(&body[p + 2]);
            p += 4;
            entry.Value.Value.assign(body.begin() + static_cast<ptrdiff_t>(p),
                                     body.begin() + static_cast<ptrdiff_t>(p + valueBytes));
            p += valueBytes;
            m_attributes.push_back(std::move(entry));
        }
    }
    return true;
}

const WMAttribute* CAsfHeader::Find(std::u16string_view name) const {
    for (const Entry& entry : m_attributes)
        if (entry.Name == name)
            return &entry.Value;
    return nullptr;
}

void CAsfHeader::Set(std::u16string_view name, const WMAttribute& value) {
    auto it = std::find_if(m_attributes.begin(), m_attributes.end(),
                           [&](const Entry& e) { return e.Name == name; });
    if (value.Value.empty()) {
        if (it != m_attributes.end())
            m_attributes.erase(it);
    } else if (it != m_attributes.end()) {
        it->Value = value;
    } else {
        m_attributes.push_back({std::u16string(name), value});
    }
}

// --- Writing ---------------------------------------------------------------------------------

std::vector<uint8_t> CAsfHeader::Build() const {
    std::vector<uint8_t> description;
    Put(description, m_attributes.size(), 2);
    for (const Entry& entry : m_attributes) {
        Put(description, (entry.Name.size() + 1) * 2, 2);
        for (char16_t c : entry.Name)
            Put(description, c, 2);
        Put(description, 0, 2);
        Put(description, static_cast<uint16_t>(entry.Value.Type), 2);
        Put(description, entry.Value.Value.size(), 2);
        description.insert(description.end(), entry.Value.Value.begin(), entry.Value.Value.end());
    }

    std::vector<uint8_t> out(HeaderObjectBytes);
    uint32_t count = 0;
    auto add = [&](const AsfGuid& id, const std::vector<uint8_t>& body) {
        out.insert(out.end(), id.begin(), id.end());
        Put(out, ObjectHeaderBytes + body.size(), 8);
        out.insert(out.end(), body.begin(), body.end());
        ++count;
    };
    for (const Object& object : m_objects) {
        if (object.Id != ExtendedContentDescriptionObject)
            add(object.Id, object.Body);
        else if (!m_attributes.empty())
            add(object.Id, description);
    }
    if (!m_hadDescription && !m_attributes.empty())
        add(ExtendedContentDescriptionObject, description);

    std::copy(HeaderObject.begin(), HeaderObject.end(), out.begin());
    Put(&out[16], out.size(), 8);
    Put(&out[24], count, 4);
    out[28] = m_reserved[0];
    out[29] = m_reserved[1];
    // The file's size, which the file properties name, changes with the header's.
    const uint64_t newFileSize = m_fileSize - m_headerSize + out.size();
    for (size_t at = HeaderObjectBytes; at + ObjectHeaderBytes <= out.size();) {
        const uint64_t size = Get64(&out[at + 16]);
        if (std::equal(FilePropertiesObject.begin(), FilePropertiesObject.end(), &out[at]) &&
            size >= ObjectHeaderBytes + 24)
            Put(&out[at + ObjectHeaderBytes + 16], newFileSize, 8);
        at += size;
    }
    return out;
}

bool CAsfHeader::Save(const std::string& destination) {
    if (m_objects.empty() && m_headerSize == 0)
        return Fail("no ASF header is loaded");
    const std::vector<uint8_t> header = Build();

    if (destination == m_path && header.size() == m_headerSize) {
        Descriptor file{::open(m_path.c_str(), O_WRONLY | O_CLOEXEC)};
        if (file.Fd < 0)
            return Fail(SystemError("cannot open", m_path));
        if (!WriteAll(file.Fd, header.data(), header.size(), 0) || ::fsync(file.Fd) != 0 ||
            !file.Close())
            return Fail(SystemError("cannot write", m_path));
        return true;
    }

    Descriptor source{::open(m_path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (source.Fd < 0)
        return Fail(SystemError("cannot open", m_path));
    std::string temporary = destination + ".zrwm-XXXXXX";
    Descriptor target{::mkostemp(temporary.data(), O_CLOEXEC)};
    if (target.Fd < 0)
        return Fail(SystemError("cannot create a file beside", destination));
    bool ok = WriteAll(target.Fd, header.data(), header.size(), 0);
    std::vector<uint8_t> chunk(1u << 20);
    uint64_t from = m_headerSize;
    uint64_t to = header.size();
    while (ok && from < m_fileSize) {
        const size_t bytes =
            static_cast<size_t>(std::min<uint64_t>(chunk.size(), m_fileSize - from));
        ok = ReadAll(source.Fd, chunk.data(), bytes, from) &&
             WriteAll(target.Fd, chunk.data(), bytes, to);
        from += bytes;
        to += bytes;
    }
    // The new file keeps the permissions of the one it replaces.
    struct stat info {};
    if (ok && ::fstat(source.Fd, &info) == 0)
        ok = ::fchmod(target.Fd, info.st_mode & 07777) == 0;
    ok = ok && ::fsync(target.Fd) == 0;
    ok = target.Close() && ok;
    if (!ok || ::rename(temporary.c_str(), destination.c_str()) != 0) {
        const std::string error = SystemError("cannot write", destination);
        ::unlink(temporary.c_str());
        return Fail(error);
    }
    if (destination != m_path)
        ::unlink(m_path.c_str());
    m_path = destination;
    m_headerSize = header.size();
    m_fileSize = to;
    return true;
}
