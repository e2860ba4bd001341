// Writes a raw 16-bit stereo file, read into memory first, as a WAV file through CWavEncoder in
// host-sized blocks, and prints the time the encoder took.
//
//   bench_wav RAW OUT.wav [BLOCK_BYTES] [SETTINGS]
// Prints "seconds=<s> bytes=<n>".
#include "containers/WavEncoder.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_wav RAW OUT.wav [BLOCK_BYTES] [SETTINGS]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<uint8_t> pcm((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    const size_t block = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 16384;
    if (pcm.empty() || block == 0 || block % 4) {
        std::fprintf(stderr, "empty input or a block that is not whole frames\n");
        return 2;
    }

    CWavEncoder encoder(nullptr);
    if (argc > 4)
        encoder.SetProperty(u"Settings", ZrString::FromUtf8(argv[4]).c_str());
    encoder.SetProperty(u"Add Output Extension", u"0");
    encoder.SetProperty(u"Destination Filename", ZrString::FromUtf8(argv[2]).c_str());
    const WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};

    const auto start = std::chrono::steady_clock::now();
    bool ok = encoder.StartBufferBased(&format, static_cast<int64_t>(pcm.size()));
    for (size_t offset = 0; ok && offset < pcm.size(); offset += block)
        ok = encoder.EncodeBuffer(pcm.data() + offset, std::min(block, pcm.size() - offset));
    ok = ok && encoder.FinishBufferBased();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (!ok) {
        std::fprintf(stderr, "encoding failed\n");
        return 1;
    }
    std::printf("seconds=%.4f bytes=%zu\n", elapsed.count(), pcm.size());
    return 0;
}
