// zrenc's tests: WAV files built chunk by chunk, and the built program.
#pragma once

#include "support/TestSupport.h"

#include <optional>
#include <string>
#include <vector>

#define EXPECT_CONTAINS(text, part) EXPECT_NE((text).find(part), std::string::npos) << (text)

namespace zrtest {

fs::path ZrencProgram();

struct Shape {
    uint16_t bits = 16;
    bool isFloat = false;
    uint16_t channels = 2;
    bool extensible = false;
    uint16_t validBits = 0; // extensible only; 0: the width
    uint32_t rate = 44100;
};

// Generated music in the shape's sample format, as a WAV file holds it.
std::vector<uint8_t> Pcm(const Shape& s, size_t frames, uint32_t seed = 7);

struct Piece {
    std::string id;
    std::vector<uint8_t> body;
    std::optional<uint32_t> declared; // a size other than the body's
};
Piece Fmt(const Shape& s);
Piece Data(const std::vector<uint8_t>& pcm, std::optional<uint32_t> declared = {});
// A RIFF file of these chunks, each padded to an even length.
std::vector<uint8_t> Riff(const std::vector<Piece>& pieces);

// Writes a canonical WAV file (44-byte header) of generated music; returns its samples.
std::vector<uint8_t> MakeWav(const fs::path& path, const Shape& s = {}, size_t frames = 44100,
                             uint32_t seed = 7);
inline std::vector<uint8_t> WavData(const fs::path& path) {
    return WavData(ReadFile(path));
}

// Every file below `folder`, hidden ones included, as paths relative to it.
std::vector<std::string> FilesIn(const fs::path& folder);

} // namespace zrtest
