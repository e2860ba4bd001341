// Drives an encoder the way a host does, for the container tests.
#pragma once

#include "support/TestSupport.h"
#include "tessary/IZrEncoder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ct {

using zrtest::fs::path;

using zrtest::Exhaustive;
using zrtest::Property;
bool Set(IZrEncoder& encoder, const char16_t* name, const std::string& value);

struct Job {
    const WAVEFORMATEX* Format = nullptr;
    std::vector<uint8_t> Pcm; // copied per block: encoders may swap the host's buffer
    size_t BlockBytes = 4096;
    int64_t ExpectedBytes = 0;
    std::string Settings; // settings text, set before anything else when not empty
};

// Settings, "Add Output Extension" 0, destination, start, blocks, finish. Returns the step that
// failed ("start", "encode", "finish") or "" when every step succeeded.
std::string Encode(IZrEncoder& encoder, const path& destination, const Job& job);

// Frame counts for the `combination`-th case of a matrix: in the default mode one count per
// case, taken in turn from the boundaries; in the exhaustive mode all of them for every case.
std::vector<size_t> FrameCounts(size_t combination);

} // namespace ct
