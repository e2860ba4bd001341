// Arbitrary PCM in every accepted format, at every level, cut anywhere: the compressor must
// neither crash nor overrun its buffers (the worst-case frame size is a computed bound) nor
// report a failure for input it accepted.
#include "codecs/ape/ApeCompressor.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    // First byte: level, depth and channels; second: where the PCM is cut in two.
    const int level = 1000 * (1 + data[0] % 5);
    const uint16_t bits = static_cast<uint16_t>(8 * (1 + (data[0] / 5) % 3));
    const uint16_t channels = static_cast<uint16_t>(1 + (data[0] / 15) % 2);
    const size_t cut = size > 2 ? data[1] % (size - 2) : 0;
    data += 2;
    size -= 2;

    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = 44100;
    format.wBitsPerSample = bits;
    format.nBlockAlign = static_cast<uint16_t>(bits / 8 * channels);
    format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;

    static const std::string path = "/tmp/fuzz_ape_" + std::to_string(getpid()) + ".ape";
    const std::u16string name(path.begin(), path.end());
    CApeCompressor compressor;
    const int started = compressor.Start(name.c_str(), &format, static_cast<int64_t>(size), level);
    if (started != 0) {
        if (!(bits == 24 && level == 5000))
            std::abort(); // every other combination is accepted
        return 0;
    }
    if (compressor.AddData(data, static_cast<int64_t>(cut)) != 0 ||
        compressor.AddData(data + cut, static_cast<int64_t>(size - cut)) != 0 ||
        compressor.Finish(nullptr, 0, 0) != 0)
        std::abort();
    std::remove(path.c_str());
    return 0;
}
