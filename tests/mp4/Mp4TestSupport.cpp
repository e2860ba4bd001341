#include "Mp4TestSupport.h"

#include "frame/ZrEncoderFactory.h"

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

std::vector<std::pair<std::string, Box>> TopLevel(const std::vector<uint8_t>& file) {
    std::vector<std::pair<std::string, Box>> boxes;
    for (size_t at = 0;;) {
        auto box = ReadBox(file, at, file.size());
        if (!box)
            break;
        boxes.emplace_back(TypeAt(file, *box), *box);
        at += box->Size;
    }
    return boxes;
}

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

EncodeResult EncodeWithAlac(const fs::path& destination, const WAVEFORMATEX& format,
                            const std::vector<uint8_t>& pcm, Delivery delivery) {
    size_t piece = std::max<size_t>(pcm.size(), 1);
    if (delivery == Delivery::OneByte)
        piece = 1;
    else if (delivery == Delivery::Bytes1000)
        piece = 1000;
    else if (delivery == Delivery::Packets)
        piece = size_t{format.nBlockAlign} * 4096;
    return zrtest::Encode(CreateAlacEncoder, destination, {&format, pcm, piece});
}

ProbeResult Probe(const fs::path& file) {
    const zrtest::RunResult r =
        zrtest::Run({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                     "stream=codec_name,channels,sample_rate,duration_ts", "-of", "default=nw=1",
                     file.string()});
    ProbeResult probe;
    std::stringstream lines(r.Output);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "codec_name")
            probe.Codec = value;
        else if (key == "channels")
            probe.Channels = std::atoi(value.c_str());
        else if (key == "sample_rate")
            probe.SampleRate = std::atoi(value.c_str());
        else if (key == "duration_ts" && value != "N/A")
            probe.DurationTs = std::atoll(value.c_str());
    }
    return probe;
}

} // namespace mp4test
