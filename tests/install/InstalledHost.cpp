// A third-party host built against an installed prefix only: it loads the plug-in named on its
// command line and encodes a short generated tone through each encoder index given.
// Usage: installed_host PLUGIN.so OUTPUT-STEM INDEX... (writes OUTPUT-STEM.EXT per encoder)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <memory>
#include <string>
#include <tessary/IZrEncoder.h>
#include <vector>

namespace {

std::u16string Take(ZrSysString text) {
    std::u16string out(text ? text : u"", text ? SysStringLen(text) : 0);
    SysFreeString(text);
    return out;
}

std::string Ascii(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

// Half a second of a 440 Hz tone, stereo, 44.1 kHz, 16-bit.
std::vector<uint8_t> Tone() {
    std::vector<uint8_t> pcm;
    for (int i = 0; i < 22050; ++i) {
        const auto sample = static_cast<int16_t>(8000 * std::sin(i * 2 * M_PI * 440 / 44100));
        for (int channel = 0; channel < 2; ++channel) {
            pcm.push_back(static_cast<uint8_t>(sample & 0xFF));
            pcm.push_back(static_cast<uint8_t>((sample >> 8) & 0xFF));
        }
    }
    return pcm;
}

bool Encode(ZrCreateEncoderFn create, int32_t index, const std::string& stem) {
    std::unique_ptr<IZrEncoder> encoder(create(index, nullptr));
    if (!encoder) {
        std::printf("FAIL: CreateEncoder(%d) gave null\n", index);
        return false;
    }
    const std::u16string destination(stem.begin(), stem.end());
    encoder->SetProperty(u"Add Output Extension", u"1");
    encoder->SetProperty(u"Destination Filename", destination.c_str());
    const std::string path = Ascii(Take(encoder->GetProperty(u"Destination Filename")));
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    std::vector<uint8_t> pcm = Tone();
    const int64_t bytes = static_cast<int64_t>(pcm.size());
    if (!encoder->StartBufferBased(&format, bytes) ||
        !encoder->EncodeBuffer(pcm.data(), pcm.size()) || !encoder->FinishBufferBased()) {
        std::printf("FAIL: encoder %d: %s\n", index,
                    Ascii(Take(encoder->GetProperty(u"Last Error"))).c_str());
        return false;
    }
    std::printf("encoded %s\n", path.c_str());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: installed_host PLUGIN.so OUTPUT-STEM INDEX...\n");
        return 2;
    }
    void* plugin = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!plugin) {
        std::printf("FAIL: dlopen: %s\n", dlerror());
        return 1;
    }
    auto create = reinterpret_cast<ZrCreateEncoderFn>(dlsym(plugin, "CreateEncoder"));
    if (!create) {
        std::printf("FAIL: no CreateEncoder\n");
        return 1;
    }
    bool ok = true;
    for (int i = 3; i < argc; ++i)
        ok = Encode(create, std::atoi(argv[i]), argv[2]) && ok;
    return ok ? 0 : 1;
}
