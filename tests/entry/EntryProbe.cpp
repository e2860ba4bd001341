// A host in a process of its own for the entry tests: it loads the plug-in library the way a
// host does, runs the commands given and prints what it saw, one line per fact.
//
//   entry_probe PLUGIN.so COMMAND...
//     create              every index from -1 to 12: "index N: NAME|EXT" or "index N: null"
//     register, unregister the exports' results
//     dump                the host's "Plugins\Encoders" tree, read through TOOLS.so
//     recreate            for each registered key: the encoder its "Index" creates
//     encode@N PATH       a short job through index N: "encode: STARTED ENCODED FINISHED"
//     loaded SONAME       whether the process has that library loaded: "loaded SONAME: 0|1"
// The tools library for dump and recreate is $ZR_PROBE_TOOLS.
#include "tessary/IZrEncoder.h"
#include "tessary/ZrTools.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <memory>
#include <string>
#include <vector>

namespace {

// The names and paths the tests use are ASCII.
std::string Utf8(const char16_t* text) {
    std::string out;
    for (; text && *text; ++text)
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

std::string Take(ZrSysString text) {
    const std::string out = Utf8(text);
    SysFreeString(text);
    return out;
}

struct KeyRelease {
    void operator()(IZrRegKey* key) const {
        if (key)
            key->Release();
    }
};
using Key = std::unique_ptr<IZrRegKey, KeyRelease>;

struct EncoderDelete {
    void operator()(IZrEncoder* encoder) const { delete encoder; }
};
using Encoder = std::unique_ptr<IZrEncoder, EncoderDelete>;

ZrTools* Tools() {
    const char* path = std::getenv("ZR_PROBE_TOOLS");
    void* module = path ? dlopen(path, RTLD_NOW | RTLD_LOCAL) : nullptr;
    auto entry = module ? reinterpret_cast<ZrGetToolsFn>(dlsym(module, "GetZrToolsDLL")) : nullptr;
    return entry ? entry(ZrToolsVersion) : nullptr;
}

std::vector<std::string> SubKeys(ZrTools* tools) {
    std::vector<std::string> names;
    Key parent(tools->OpenHostKey(u"Plugins\\Encoders", 0));
    for (uint32_t i = 0; parent; ++i) {
        ZrSysString name = parent->EnumSubKey(i);
        if (!name)
            break;
        names.push_back(Take(name));
    }
    return names;
}

void Dump(ZrTools* tools) {
    const auto names = SubKeys(tools);
    std::printf("keys: %zu\n", names.size());
    for (const std::string& name : names) {
        Key key(tools->OpenHostKey(Wide("Plugins\\Encoders\\" + name).c_str(), 0));
        for (uint32_t i = 0; key; ++i) {
            ZrSysString valueName = key->EnumValue(i);
            if (!valueName)
                break;
            int32_t number = 0;
            if (key->GetInt(valueName, &number))
                std::printf("value %s|%s=%d\n", name.c_str(), Utf8(valueName).c_str(), number);
            else
                std::printf("value %s|%s=\"%s\"\n", name.c_str(), Utf8(valueName).c_str(),
                            Take(key->GetString(valueName)).c_str());
            SysFreeString(valueName);
        }
    }
}

void Recreate(ZrTools* tools, ZrCreateEncoderFn create) {
    for (const std::string& name : SubKeys(tools)) {
        Key key(tools->OpenHostKey(Wide("Plugins\\Encoders\\" + name).c_str(), 0));
        int32_t index = -1;
        if (!key || !key->GetInt(u"Index", &index)) {
            std::printf("recreate %s: no Index\n", name.c_str());
            continue;
        }
        Encoder encoder(create(index, nullptr));
        std::printf("recreate %s: %s\n", name.c_str(),
                    encoder ? Take(encoder->GetProperty(u"Display Name")).c_str() : "null");
    }
}

void Encode(ZrCreateEncoderFn create, int32_t index, const std::string& path) {
    Encoder encoder(create(index, nullptr));
    if (!encoder) {
        std::printf("encode: no encoder\n");
        return;
    }
    encoder->SetProperty(u"Add Output Extension", u"0");
    encoder->SetProperty(u"Destination Filename", Wide(path).c_str());
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
    std::fflush(stdout);
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
                Encoder encoder(create(index, nullptr));
                if (!encoder) {
                    std::printf("index %d: null\n", index);
                    continue;
                }
                std::printf("index %d: %s|%s\n", index,
                            Take(encoder->GetProperty(u"Display Name")).c_str(),
                            Take(encoder->GetProperty(u"Extension")).c_str());
            }
        } else if (command == "register") {
            std::printf("register: %d\n", registerServer());
        } else if (command == "unregister") {
            std::printf("unregister: %d\n", unregisterServer());
        } else if (command == "dump" || command == "recreate") {
            ZrTools* tools = Tools();
            if (!tools)
                std::printf("%s: no tools library\n", command.c_str());
            else if (command == "dump")
                Dump(tools);
            else
                Recreate(tools, create);
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
