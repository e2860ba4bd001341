// Speed of the DSD encoder on one core: a generated 30-second stereo 44.1 kHz input fed from
// memory through the whole encoder (converter, modulator, DSF blocks) at each DSD rate, printed
// as a multiple of real time. The modulator is also timed alone on the converted signal, next
// to the plain scalar reading of its formulas, and the ratio of the two is printed.
//
//   bench_dsd [seconds] [runs] [output file]     (the best of `runs` runs is printed)
#include "codecs/dsd/DSDEncoderPlugin.h"
#include "codecs/dsd/DsdModulator.h"
#include "codecs/dsd/ReferenceModulator.h"
#include "codecs/dsd/player/ZrAudioPlayer.h"
#include "foundation/ZrUtf.h"
#include "tessary/SysString.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t InputRate = 44100;
constexpr uint32_t DsdRates[] = {2822400, 5644800, 11289600, 22579200};

// CPU time of this thread: on a shared machine, time spent waiting for the core is not ours.
double Now() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// 16-bit stereo: two chords with a slow sweep and a little noise, about -10 dBFS.
std::vector<uint8_t> MakeInput(size_t frames) {
    std::vector<uint8_t> pcm(frames * 4);
    uint32_t noise = 1;
    const double pi = 3.14159265358979323846;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / InputRate;
        for (int c = 0; c < 2; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double x = 0.12 * std::sin(2 * pi * (220.0 + 110 * c) * t) +
                             0.08 * std::sin(2 * pi * (330.0 + 5 * t) * t) +
                             0.06 * std::sin(2 * pi * 3520.0 * t + c) +
                             0.002 * (static_cast<int32_t>(noise) / 2147483648.0);
            const auto v = static_cast<int16_t>(std::lrint(x * 32767));
            std::memcpy(&pcm[(i * 2 + c) * 2], &v, 2);
        }
    }
    return pcm;
}

// The input as the modulator sees it: 352.8 kHz doubles after the converter and the gain.
std::vector<double> Convert(const std::vector<uint8_t>& pcm) {
    struct Sink final : IZrAudioPlayerFormatConverterOutput {
        std::vector<double> Samples;
        void OnConvertedData(void* data, uint32_t frames) override {
            const auto* d = static_cast<const double*>(data);
            for (size_t i = 0; i < size_t{frames} * 2; ++i)
                Samples.push_back(d[i] * 0.5);
        }
        uint32_t GetMaxFrames() override { return 0x7FFFFFFF; }
    } sink;
    ZrAudioFormat in, out;
    in.Fill(16, InputRate, 2, 0, false, KSDATAFORMAT_SUBTYPE_PCM, true);
    out.Fill(64, 352800, 2, 0, false, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, true);
    auto converter = ZrGetAudioPlayer()->CreateFormatConverter();
    if (!converter->Init(in, out, &sink, 2, false, false, 0, 0, false, true, false, false, nullptr,
                         false, nullptr, false, 2, 0) ||
        !converter->Feed(pcm.data(), pcm.size() / 4, 0, false) || !converter->Drain(true)) {
        std::fprintf(stderr, "the converter failed\n");
        std::exit(1);
    }
    return std::move(sink.Samples);
}

// Seconds for the whole encoder, fed in 4096-frame buffers as a host does.
double TimeEncoder(const std::vector<uint8_t>& pcm, uint32_t dsdRate, const std::string& path) {
    CDSDEncoderPlugin encoder(nullptr);
    const std::u16string settings = u"SampleRate=" + ZrUtf8ToUtf16(std::to_string(dsdRate));
    encoder.SetProperty(u"Settings", settings.c_str());
    encoder.SetProperty(u"Add Output Extension", u"0");
    const ZrString destination = ZrString::FromUtf8(path);
    encoder.SetProperty(u"Destination Filename", destination.c_str());
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = InputRate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = InputRate * 4;
    const double start = Now();
    bool ok = encoder.StartBufferBased(&format, static_cast<int64_t>(pcm.size()));
    std::vector<uint8_t> buffer;
    for (size_t at = 0; ok && at < pcm.size(); at += 4096 * 4) {
        const size_t n = std::min<size_t>(4096 * 4, pcm.size() - at);
        buffer.assign(pcm.begin() + static_cast<ptrdiff_t>(at),
                      pcm.begin() + static_cast<ptrdiff_t>(at + n));
        ok = encoder.EncodeBuffer(buffer.data(), n);
    }
    ok = ok && encoder.FinishBufferBased();
    const double seconds = Now() - start;
    if (!ok) {
        std::fprintf(stderr, "encoding to %s failed\n", path.c_str());
        std::exit(1);
    }
    return seconds;
}

// Seconds for a modulator over the converted signal, in 4096-frame calls.
template <typename Run>
double TimeModulator(const std::vector<double>& in, uint32_t ratio, Run run) {
    const size_t frames = in.size() / 2;
    std::vector<uint8_t> out(4096 * ratio / 8 * 2);
    const double start = Now();
    for (size_t at = 0; at < frames; at += 4096) {
        const size_t n = std::min<size_t>(4096, frames - at);
        run(in.data() + at * 2, n, ratio, out.data());
    }
    return Now() - start;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::string path = argc > 3 ? argv[3] : "";
    if (path.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        path = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench_dsd_" + std::to_string(getpid()) +
               ".dsf";
    }
    const auto pcm = MakeInput(static_cast<size_t>(seconds * InputRate));
    const auto converted = Convert(pcm);

    static const char* const kernels[] = {"portable", "SSE2", "AVX2", "AVX-512"};
    std::printf("DSD encoder, %.0f s of stereo 44.1 kHz 16-bit from memory, one thread, best of "
                "%d;\nspeed = audio seconds per second of this thread's CPU time; modulator "
                "build: %s\n",
                seconds, runs, kernels[static_cast<int>(ZrDsdActiveKernel())]);
    std::printf("%-7s %10s %12s %12s %10s\n", "rate", "encoder", "modulator", "scalar ref",
                "mod/ref");
    for (uint32_t rate : DsdRates) {
        const uint32_t ratio = rate / 352800;
        double encoder = 1e30, modulator = 1e30, reference = 1e30;
        for (int run = 0; run < runs; ++run) {
            encoder = std::min(encoder, TimeEncoder(pcm, rate, path));
            std::vector<ZrDsdModulatorState> fast(2);
            uint32_t fastDither = 1;
            modulator = std::min(
                modulator, TimeModulator(converted, ratio, [&](auto in, auto n, auto r, auto out) {
                    ZrDsdModulate(in, n, 2, r, fast.data(), fastDither, out);
                }));
            std::vector<dsdref::State> plain(2);
            uint32_t plainDither = 1;
            reference = std::min(
                reference, TimeModulator(converted, ratio, [&](auto in, auto n, auto r, auto out) {
                    dsdref::Modulate(in, n, 2, r, plain.data(), plainDither, out);
                }));
        }
        std::printf("DSD%-4u %9.2fx %11.2fx %11.2fx %9.2fx\n", rate / 44100, seconds / encoder,
                    seconds / modulator, seconds / reference, reference / modulator);
        std::fflush(stdout);
    }
    unlink(path.c_str());
    return 0;
}
