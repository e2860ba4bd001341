#include "mp4/GenericFile.h"

#include "foundation/ZrFile.h"

#include <algorithm>
#include <cstring>

namespace {

class CDiskFile final : public IGenericFile {
public:
    void SetOption(std::u16string_view option) override {
        if (ZrEqualsNoCase(option, u"READ_ONLY"))
            m_readOnly = true;
    }
    bool Open(const ZrString& name) override {
        return m_file.Open(name, m_readOnly ? ZrFile::Mode::Read : ZrFile::Mode::ReadWrite);
    }
    bool IsOpen() const override { return m_file.IsOpen(); }
    int64_t Read(void* data, size_t bytes) override { return m_file.Read(data, bytes); }
    int64_t Write(const void* data, size_t bytes) override { return m_file.Write(data, bytes); }
    bool Seek(uint64_t offset) override { return m_file.Seek(offset); }
    int64_t Size() const override { return m_file.Size(); }
    void Close() override { m_file.Close(); }
    ZrString ErrorText() const override { return m_file.ErrorText(); }

private:
    ZrFile m_file;
    bool m_readOnly = false;
};

class CMemoryFile final : public IGenericFile {
public:
    CMemoryFile(const uint8_t* data, size_t bytes) : m_data(data), m_size(bytes) {}
    void SetOption(std::u16string_view) override {}
    bool Open(const ZrString&) override { return m_open = true; }
    bool IsOpen() const override { return m_open; }
    int64_t Read(void* data, size_t bytes) override {
        const size_t n = std::min(bytes, m_size - std::min(m_size, m_position));
        if (n)
            std::memcpy(data, m_data + m_position, n);
        m_position += n;
        return static_cast<int64_t>(n);
    }
    int64_t Write(const void*, size_t) override { return -1; }
    bool Seek(uint64_t offset) override {
        m_position = static_cast<size_t>(std::min<uint64_t>(offset, m_size));
        return offset <= m_size;
    }
    int64_t Size() const override { return static_cast<int64_t>(m_size); }
    void Close() override { m_open = false; }
    ZrString ErrorText() const override { return ZrString(u"Read-only memory file"); }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_position = 0;
    bool m_open = false;
};

} // namespace

std::unique_ptr<IGenericFile> CreateGenericReaderFile() {
    return std::make_unique<CDiskFile>();
}

std::unique_ptr<IGenericFile> CreateMemoryReaderFile(const uint8_t* data, size_t bytes) {
    return std::make_unique<CMemoryFile>(data, bytes);
}
