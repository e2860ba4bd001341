#include "host/zrenc/ZrencTestSupport.h"

#include <algorithm>

namespace zrtest {

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

} // namespace

fs::path ZrencProgram() {
    return BuildDir() / "bin" / "zrenc";
}

std::vector<uint8_t> Pcm(const Shape& s, size_t frames, uint32_t seed) {
    return MakePcm(Signal::Music, s.channels, s.rate, s.bits, frames, seed, s.isFloat);
}

Piece Fmt(const Shape& s) {
    const uint16_t align = static_cast<uint16_t>(s.channels * s.bits / 8);
    const uint16_t tag = s.isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
    std::vector<uint8_t> f;
    Put16(f, s.extensible ? WAVE_FORMAT_EXTENSIBLE : tag);
    Put16(f, s.channels);
    Put32(f, s.rate);
    Put32(f, s.rate * align);
    Put16(f, align);
    Put16(f, s.bits);
    if (s.extensible) {
        Put16(f, 22);
        Put16(f, s.validBits ? s.validBits : s.bits);
        Put32(f, s.channels == 6 ? 0x3F : 0);
        Put32(f, tag); // the sub-format GUID: the tag, then the common tail
        f.insert(f.end(), {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
    }
    return {"fmt ", f, {}};
}

Piece Data(const std::vector<uint8_t>& pcm, std::optional<uint32_t> declared) {
    return {"data", pcm, declared};
}

std::vector<uint8_t> Riff(const std::vector<Piece>& pieces) {
    std::vector<uint8_t> out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    for (const Piece& p : pieces) {
        out.insert(out.end(), p.id.begin(), p.id.end());
        Put32(out, p.declared.value_or(static_cast<uint32_t>(p.body.size())));
        out.insert(out.end(), p.body.begin(), p.body.end());
        if (p.body.size() & 1)
            out.push_back(0);
    }
    const auto riffSize = static_cast<uint32_t>(out.size() - 8);
    for (int i = 0; i < 4; ++i)
        out[4 + i] = static_cast<uint8_t>(riffSize >> (8 * i));
    return out;
}

std::vector<uint8_t> MakeWav(const fs::path& path, const Shape& s, size_t frames, uint32_t seed) {
    const std::vector<uint8_t> pcm = Pcm(s, frames, seed);
    WriteFile(path, Riff({Fmt(s), Data(pcm)}));
    return pcm;
}

std::vector<uint8_t> WavData(const fs::path& path) {
    const std::vector<uint8_t> bytes = ReadFile(path);
    return bytes.size() < 44 ? std::vector<uint8_t>{}
                             : std::vector<uint8_t>(bytes.begin() + 44, bytes.end());
}

std::vector<std::string> FilesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (!it->is_directory())
            names.push_back(fs::relative(it->path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace zrtest
