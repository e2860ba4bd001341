// Encodes raw interleaved little-endian PCM with CWvEncoder the way a host does: settings text,
// start with the expected length, 64 KiB buffers of whole frames, finish. Prints the encode time
// in seconds, so run.sh can set it beside the wavpack program's.
//   zr_wavpack_bench IN.raw CHANNELS RATE BITS OUT.wv [SETTINGS]
#include "foundation/ZrString.h"
#include "frame/ZrEncoderFactory.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

std::string LastError(IZrEncoder& encoder) {
    ZrSysString text = encoder.GetProperty(u"Last Error");
    std::string utf8 = ZrString(text).ToUtf8();
    SysFreeString(text);
    return utf8;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s IN.raw CHANNELS RATE BITS OUT.wv [SETTINGS]\n", argv[0]);
        return 2;
    }
    const auto channels = static_cast<uint16_t>(std::atoi(argv[2]));
    const auto rate = static_cast<uint32_t>(std::atoi(argv[3]));
    const auto bits = static_cast<uint16_t>(std::atoi(argv[4]));
    const ZrString settings = ZrString::FromUtf8(argc > 6 ? argv[6] : "");
    const ZrString destination = ZrString::FromUtf8(argv[5]);

    std::unique_ptr<std::FILE, FileCloser> in(std::fopen(argv[1], "rb"));
    if (!in) {
        std::perror(argv[1]);
        return 1;
    }
    std::fseek(in.get(), 0, SEEK_END);
    const long inputBytes = std::ftell(in.get());
    std::fseek(in.get(), 0, SEEK_SET);

    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = bits;
    format.nBlockAlign = static_cast<uint16_t>(bits / 8 * channels);
    format.nAvgBytesPerSec = format.nBlockAlign * rate;

    const auto begin = std::chrono::steady_clock::now();
    std::unique_ptr<IZrEncoder> encoder(CreateWvEncoder(nullptr));
    encoder->SetProperty(u"Settings", settings.c_str());
    encoder->SetProperty(u"Add Output Extension", u"0");
    encoder->SetProperty(u"Destination Filename", destination.c_str());
    if (!encoder->StartBufferBased(&format, inputBytes)) {
        std::fprintf(stderr, "start failed: %s\n", LastError(*encoder).c_str());
        return 1;
    }
    std::vector<uint8_t> buffer(65536 / format.nBlockAlign * format.nBlockAlign);
    for (;;) {
        const size_t n = std::fread(buffer.data(), 1, buffer.size(), in.get());
        if (n == 0)
            break;
        if (!encoder->EncodeBuffer(buffer.data(), n)) {
            std::fprintf(stderr, "encode failed: %s\n", LastError(*encoder).c_str());
            return 1;
        }
    }
    if (!encoder->FinishBufferBased()) {
        std::fprintf(stderr, "finish failed: %s\n", LastError(*encoder).c_str());
        return 1;
    }
    encoder.reset();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - begin;
    std::printf("%.3f\n", elapsed.count());
    return 0;
}
