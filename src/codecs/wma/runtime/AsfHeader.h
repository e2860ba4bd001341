// The header object of an ASF file, read whole, with the named attributes of its Extended Content
// Description object, and written back: in place when its size stays, else as a new file that
// replaces the old one only once it is complete.
#pragma once

#include "codecs/wma/runtime/WMRuntime.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

using AsfGuid = std::array<uint8_t, 16>;

class CAsfHeader {
public:
    // Reads the header of the file at `path`; false with ErrorText() when it is no ASF file or
    // cannot be read.
    bool Load(const std::string& path);

    // Named attributes of the whole file (stream 0), in header order.
    struct Entry {
        std::u16string Name;
        WMAttribute Value;
    };
    const std::vector<Entry>& Attributes() const { return m_attributes; }
    const WMAttribute* Find(std::u16string_view name) const;
    // Adds or replaces; an empty value removes the attribute.
    void Set(std::u16string_view name, const WMAttribute& value);

    // Writes the header with the current attributes into the file at `destination`, whose
    // samples are those of the loaded file: in place when it is the loaded file and the header
    // keeps its size; otherwise through a new file beside `destination` that is renamed over it
    // when complete (the loaded file is removed when it is another one).
    bool Save(const std::string& destination);

    const std::string& ErrorText() const { return m_error; }

private:
    struct Object {
        AsfGuid Id;
        std::vector<uint8_t> Body; // after the 24 bytes of identifier and size
    };
    bool Fail(std::string text);
    std::vector<uint8_t> Build() const;

    std::string m_path;
    uint64_t m_headerSize = 0;
    uint64_t m_fileSize = 0;
    std::array<uint8_t, 2> m_reserved{};
    std::vector<Object> m_objects;
    std::vector<Entry> m_attributes;
    bool m_hadDescription = false;
    std::string m_error;
};
