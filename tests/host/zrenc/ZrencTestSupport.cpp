#include "host/zrenc/ZrencTestSupport.h"

#include <algorithm>

namespace zrtest {

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
    PutLe(f, s.extensible ? WAVE_FORMAT_EXTENSIBLE : tag, 2);
    PutLe(f, s.channels, 2);
    PutLe(f, s.rate, 4);
    PutLe(f, s.rate * align, 4);
    PutLe(f, align, 2);
    PutLe(f, s.bits, 2);
    if (s.extensible) {
        PutLe(f, 22, 2);
        PutLe(f, s.validBits ? s.validBits : s.bits, 2);
        PutLe(f, s.channels == 6 ? 0x3F : 0, 4);
        PutLe(f, tag, 4); // the sub-format GUID: the tag, then the common tail
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
        PutLe(out, p.declared.value_or(static_cast<uint32_t>(p.body.size())), 4);
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
