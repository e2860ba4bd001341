// A third-party host built against an installed prefix only: it loads the plug-in and encodes
// half a second of a 440 Hz tone (stereo, 44.1 kHz, 16-bit) through each encoder index given.
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

bool Encode(ZrCreateEncoderFn create, int32_t index, const std::string& stem) {
    std::unique_ptr<IZrEncoder> encoder(create(index, nullptr));
    if (!encoder) {
        std::printf("FAIL: CreateEncoder(%d) gave null\n", index);
        return false;
    }
    encoder->SetProperty(u"Add Output Extension", u"1");
    encoder->SetProperty(u"Destination Filename", std::u16string(stem.begin(), stem.end()).c_str());
    std::vector<int16_t> pcm;
    for (int i = 0; i < 22050; ++i)
        pcm.insert(pcm.end(), 2, static_cast<int16_t>(8000 * std::sin(i * 2 * M_PI * 440 / 44100)));
    const uint64_t bytes = pcm.size() * sizeof(int16_t);
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    if (encoder->StartBufferBased(&format, static_cast<int64_t>(bytes)) &&
        encoder->EncodeBuffer(reinterpret_cast<uint8_t*>(pcm.data()), bytes) &&
        encoder->FinishBufferBased())
        return true;
    ZrSysString why = encoder->GetProperty(u"Last Error");
    std::printf("FAIL: encoder %d: %s\n", index, std::string(why, why + SysStringLen(why)).c_str());
    SysFreeString(why);
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: installed_host PLUGIN.so OUTPUT-STEM INDEX...\n");
        return 2;
    }
    void* plugin = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    auto create =
        reinterpret_cast<ZrCreateEncoderFn>(plugin ? dlsym(plugin, "CreateEncoder") : nullptr);
    if (!create) {
        std::printf("FAIL: %s\n", dlerror());
        return 1;
    }
    bool ok = true;
    for (int i = 3; i < argc; ++i)
        ok = Encode(create, std::atoi(argv[i]), argv[2]) && ok;
    return ok ? 0 : 1;
}
