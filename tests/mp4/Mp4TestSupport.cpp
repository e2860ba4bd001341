#include "Mp4TestSupport.h"

#include <gtest/gtest.h>
#include <set>
#include <sstream>

namespace mp4test {

namespace {

const std::set<std::string> Containers = {"moov", "trak", "mdia", "minf",
                                          "dinf", "stbl", "udta", "edts"};

// Bytes between a box's header and its first child.
size_t ChildrenStart(const std::string& type) {
    if (type == "stsd" || type == "dref")
        return 8;
    if (type == "alac" || type == "mp4a")
        return 28;
    if (type == "meta")
        return 4;
    return Containers.count(type) ? 0 : SIZE_MAX;
}

std::optional<Box> ReadBox(const std::vector<uint8_t>& file, size_t at, size_t end) {
    if (at + 8 > end)
        return std::nullopt;
    Box box;
    box.Offset = at;
    box.Size = zrtest::Be32(&file[at]);
    if (box.Size == 1) {
        if (at + 16 > end)
            return std::nullopt;
        box.Size = Be64(&file[at + 8]);
        box.Header = 16;
    }
    if (box.Size < box.Header || box.Size > end - at)
        return std::nullopt;
    return box;
}

std::string TypeAt(const std::vector<uint8_t>& file, const Box& box) {
    return std::string(reinterpret_cast<const char*>(&file[box.Offset + 4]), 4);
}

} // namespace

std::optional<Box> FindBox(const std::vector<uint8_t>& file, const std::string& path) {
    size_t start = 0, end = file.size();
    std::string parentType;
    std::optional<Box> found;
    std::stringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/')) {
        if (!parentType.empty()) {
            const size_t skip = ChildrenStart(parentType);
            if (skip == SIZE_MAX)
                return std::nullopt;
            start = found->Payload() + skip;
            end = found->Offset + found->Size;
        }
        found.reset();
        for (size_t at = start; at < end;) {
            auto box = ReadBox(file, at, end);
            if (!box)
                break;
            if (TypeAt(file, *box) == part) {
                found = box;
                break;
            }
            at += box->Size;
        }
        if (!found)
            return std::nullopt;
        parentType = part;
    }
    return found;
}

std::vector<uint8_t> WithoutTimes(std::vector<uint8_t> file) {
    for (const char* path : {"moov/mvhd", "moov/trak/tkhd", "moov/trak/mdia/mdhd"}) {
        auto box = FindBox(file, path);
        if (!box)
            continue;
        const size_t fields = box->Payload() + 4;
        const size_t width = file[box->Payload()] == 1 ? 8 : 4;
        std::fill(file.begin() + static_cast<std::ptrdiff_t>(fields),
                  file.begin() + static_cast<std::ptrdiff_t>(fields + 2 * width), 0);
    }
    return file;
}

} // namespace mp4test
