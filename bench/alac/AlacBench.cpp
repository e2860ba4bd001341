// The benchmark driver of the Apple Lossless encoder.
//
//   zr_alac_bench generate OUT.raw SECONDS   stereo 16-bit 44.1 kHz PCM that compresses like music
//   zr_alac_bench encode IN.raw OUT.m4a      ZrALACEncoder through IZrEncoder, in 64 KiB buffers
//
// "encode" prints its CPU seconds, wall seconds and peak resident memory.
#include "foundation/ZrString.h"
#include "frame/ZrEncoderFactory.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr uint32_t Rate = 44100;
constexpr uint16_t Channels = 2;
constexpr size_t BufferBytes = 64 * 1024;

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

File OpenOrExit(const char* path, const char* mode) {
    File file(std::fopen(path, mode), std::fclose);
    if (!file) {
        std::perror(path);
        std::exit(1);
    }
    return file;
}

// Plucked notes with overtones, a slow bass line and a little noise, the two channels mixed
// differently: about the redundancy of recorded music.
int Generate(const char* path, uint32_t seconds) {
    File out = OpenOrExit(path, "wb");
    const double notes[] = {196.0, 220.0, 246.94, 293.66, 329.63, 392.0, 440.0, 493.88};
    const double pi = 3.14159265358979323846;
    uint32_t noise = 2463534242u;
    std::vector<int16_t> block;
    block.reserve(BufferBytes);
    const uint64_t frames = uint64_t{Rate} * seconds;
    for (uint64_t f = 0; f < frames; ++f) {
        const double t = double(f) / Rate;
        const auto beat = static_cast<uint64_t>(t * 3.0);
        const double age = t - double(beat) / 3.0;
        const double hz = notes[(beat * 3 + beat / 5) % 8];
        const double pluck = std::exp(-4.0 * age);
        double left = 0, right = 0;
        for (int k = 1; k <= 5; ++k) {
            const double v = pluck / k * std::sin(2 * pi * hz * k * t);
            left += v * (k & 1 ? 0.8 : 0.4);
            right += v * (k & 1 ? 0.4 : 0.8);
        }
        const double bass = 0.25 * std::sin(2 * pi * notes[beat / 6 % 8] / 4 * t);
        noise ^= noise << 13;
        noise ^= noise >> 17;
        noise ^= noise << 5;
        const double hiss = (double(noise) / 4294967296.0 - 0.5) * 0.003;
        block.push_back(static_cast<int16_t>(std::lrint((0.3 * left + bass + hiss) * 32000)));
        block.push_back(static_cast<int16_t>(std::lrint((0.3 * right + bass - hiss) * 32000)));
        if (block.size() * 2 >= BufferBytes || f + 1 == frames) {
            std::fwrite(block.data(), 2, block.size(), out.get());
            block.clear();
        }
    }
    return 0;
}

double Seconds(const timeval& t) {
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

int Encode(const char* inPath, const char* outPath) {
    const auto start = std::chrono::steady_clock::now();
    File in = OpenOrExit(inPath, "rb");
    std::unique_ptr<IZrEncoder> encoder(CreateAlacEncoder(nullptr));
    encoder->SetProperty(u"Add Output Extension", u"0");
    encoder->SetProperty(u"Destination Filename", ZrString::FromUtf8(outPath).c_str());
    const WAVEFORMATEX format{WAVE_FORMAT_PCM, Channels, Rate, Rate * Channels * 2,
                              Channels * 2,    16,       0};
    auto lastError = [&] {
        ZrSysString text = encoder->GetProperty(u"Last Error");
        const std::string utf8 = ZrString(text, SysStringLen(text)).ToUtf8();
        SysFreeString(text);
        return utf8;
    };
    if (!encoder->StartBufferBased(&format, 0)) {
        std::fprintf(stderr, "start failed: %s\n", lastError().c_str());
        return 1;
    }
    std::vector<uint8_t> buffer(BufferBytes);
    for (;;) {
        const size_t n = std::fread(buffer.data(), 1, buffer.size(), in.get());
        if (n == 0)
            break;
        if (!encoder->EncodeBuffer(buffer.data(), n)) {
            std::fprintf(stderr, "encode failed: %s\n", lastError().c_str());
            return 1;
        }
    }
    const double beforeFinish = CpuSeconds();
    if (!encoder->FinishBufferBased()) {
        std::fprintf(stderr, "finish failed: %s\n", lastError().c_str());
        return 1;
    }
    encoder.reset();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("cpu %.3f (finish %.3f) wall %.3f peak_kib %ld\n", CpuSeconds(),
                CpuSeconds() - beforeFinish, wall, usage.ru_maxrss);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "generate") == 0)
        return Generate(argv[2], static_cast<uint32_t>(std::atoi(argv[3])));
    if (argc == 4 && std::strcmp(argv[1], "encode") == 0)
        return Encode(argv[2], argv[3]);
    std::fprintf(stderr, "usage: %s generate OUT.raw SECONDS | encode IN.raw OUT.m4a\n", argv[0]);
    return 2;
}
