// A host in a process of its own for the entry tests: it loads the plug-in library the way a
// host does, runs the commands given and prints what it saw, one line per fact.
//
//   entry_probe PLUGIN.so COMMAND...
//     create              every index from -1 to 12: "index N: NAME|EXT" or "index N: null"
//     register, unregister the exports' results
//     encode@N PATH       a short job through index N: "encode: STARTED ENCODED FINISHED"
//     loaded SONAME       whether the process has that library loaded: "loaded SONAME: 0|1"
#include "tessary/IZrEncoder.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <memory>
#include <string>
#include <vector>

namespace {

// The names and paths the tests use are ASCII.
std::string Take(ZrSysString text) {
    std::string out;
    for (const char16_t* c = text; c && *c; ++c)
        out += *c < 0x80 ? static_cast<char>(*c) : '?';
    SysFreeString(text);
    return out;
}

using Encoder = std::unique_ptr<IZrEncoder>;

void Encode(ZrCreateEncoderFn create, int32_t index, const std::string& path) {
    Encoder encoder(create(index, nullptr));
    if (!encoder) {
        std::printf("encode: no encoder\n");
        return;
    }
    encoder->SetProperty(u"Add Output Extension", u"0");
    encoder->SetProperty(u"Destination Filename", std::u16string(path.begin(), path.end()).c_str());
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    std::vector<uint8_t> pcm(4096, 0);
    const bool started = encoder->StartBufferBased(&format, 0);
    const bool encoded = started && encoder->EncodeBuffer(pcm.data(), pcm.size());
    const bool finished = encoded && encoder->FinishBufferBased();
    std::printf("encode: %d %d %d\n", started, encoded, finished);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: entry_probe PLUGIN.so COMMAND...\n");
        return 2;
    }
    void* plugin = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!plugin) {
        std::printf("dlopen failed: %s\n", dlerror());
        return 1;
    }
    auto create = reinterpret_cast<ZrCreateEncoderFn>(dlsym(plugin, "CreateEncoder"));
    auto registerServer = reinterpret_cast<ZrRegisterServerFn>(dlsym(plugin, "DllRegisterServer"));
    auto unregisterServer =
        reinterpret_cast<ZrRegisterServerFn>(dlsym(plugin, "DllUnregisterServer"));
    if (!create || !registerServer || !unregisterServer) {
        std::printf("missing export\n");
        return 1;
    }
    for (int i = 2; i < argc; ++i) {
        const std::string command = argv[i];
        if (command == "create") {
            for (int32_t index = -1; index <= 12; ++index) {
                Encoder e(create(index, nullptr));
                const std::string text = e ? Take(e->GetProperty(u"Display Name")) + "|" +
                                                 Take(e->GetProperty(u"Extension"))
                                           : "null";
                std::printf("index %d: %s\n", index, text.c_str());
            }
        } else if (command == "register" || command == "unregister") {
            std::printf("%s: %d\n", argv[i],
                        command == "register" ? registerServer() : unregisterServer());
        } else if (command.rfind("encode@", 0) == 0 && i + 1 < argc) {
            Encode(create, std::atoi(command.c_str() + 7), argv[++i]);
        } else if (command == "loaded" && i + 1 < argc) {
            const char* soname = argv[++i];
            void* module = dlopen(soname, RTLD_NOW | RTLD_NOLOAD);
            std::printf("loaded %s: %d\n", soname, module != nullptr);
            if (module)
                dlclose(module);
        } else {
            std::printf("unknown command %s\n", command.c_str());
            return 2;
        }
        std::fflush(stdout);
    }
    return 0;
}
