// Encodes raw interleaved PCM to a Monkey's Audio file through the plug-in's encoder interface,
// reading the input in 64 KiB buffers and handing each over as a host does; prints the seconds
// from start to finish.
//
//   ape_bench INPUT.raw OUTPUT.ape LEVEL CHANNELS RATE BITS
#include "foundation/ZrString.h"
#include "frame/ZrEncoderFactory.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: ape_bench INPUT.raw OUTPUT.ape LEVEL CHANNELS RATE BITS\n");
        return 2;
    }
    const int level = std::atoi(argv[3]);
    const int channels = std::atoi(argv[4]);
    const int rate = std::atoi(argv[5]);
    const int bits = std::atoi(argv[6]);
    std::error_code error;
    const auto size = std::filesystem::file_size(argv[1], error);
    std::unique_ptr<FILE, int (*)(FILE*)> input(std::fopen(argv[1], "rb"), std::fclose);
    if (error || !input || channels <= 0 || rate <= 0 || bits <= 0) {
        std::fprintf(stderr, "ape_bench: cannot read %s\n", argv[1]);
        return 2;
    }

    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<IZrEncoder> encoder(CreateApeEncoder(nullptr));
    const ZrString settings = ZrString::FromUtf8("Compression=" + std::to_string(level));
    encoder->SetProperty(u"Settings", settings.c_str());
    encoder->SetProperty(u"Add Output Extension", u"0");
    encoder->SetProperty(u"Destination Filename", ZrString::FromUtf8(argv[2]).c_str());

    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<uint16_t>(channels);
    format.nSamplesPerSec = static_cast<uint32_t>(rate);
    format.wBitsPerSample = static_cast<uint16_t>(bits);
    format.nBlockAlign = static_cast<uint16_t>(bits / 8 * channels);
    format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;

    std::vector<uint8_t> buffer(64 * 1024);
    bool ok = encoder->StartBufferBased(&format, static_cast<int64_t>(size));
    size_t got = 0;
    while (ok && (got = std::fread(buffer.data(), 1, buffer.size(), input.get())) > 0)
        ok = encoder->EncodeBuffer(buffer.data(), got);
    ok = ok && encoder->FinishBufferBased();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!ok) {
        std::fprintf(stderr, "ape_bench: encoding failed\n");
        return 1;
    }
    std::printf("%.3f\n", seconds);
    return 0;
}
