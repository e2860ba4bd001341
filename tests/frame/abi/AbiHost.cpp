// A host compiled against the public headers only: it loads a plug-in, drives an encoder
// through IZrEncoder and frees every returned text with the header's SysFreeString.
// Usage: abi_host PLUGIN.so. Exits 0 when every check held; prints what failed otherwise.
#include "tessary/IZrEncoder.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>

namespace {

int failures = 0;

std::u16string Take(ZrSysString text) {
    if (!text) {
        std::printf("FAIL: a property came back null\n");
        ++failures;
        return {};
    }
    std::u16string out(text, SysStringLen(text));
    SysFreeString(text);
    return out;
}

void Expect(bool ok, const char* what) {
    if (!ok) {
        std::printf("FAIL: %s\n", what);
        ++failures;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: abi_host PLUGIN.so\n");
        return 2;
    }
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        std::printf("FAIL: dlopen: %s\n", dlerror());
        return 1;
    }
    auto create = reinterpret_cast<ZrCreateEncoderFn>(dlsym(module, "CreateEncoder"));
    Expect(create != nullptr, "CreateEncoder is exported");
    if (!create)
        return 1;
    Expect(create(1, nullptr) == nullptr, "an unknown index gives null");

    IZrEncoder* encoder = create(0, nullptr);
    Expect(encoder != nullptr, "index 0 gives an encoder");
    if (!encoder)
        return 1;

    Expect(Take(encoder->GetProperty(u"VERSION")) == u"5", "Version is 5");
    Expect(Take(encoder->GetProperty(u"unknown")).empty(), "unknown property is empty");
    Expect(encoder->SetProperty(u"Settings", u"Quality=3"), "Settings accepted");
    Expect(Take(encoder->GetProperty(u"Settings")) == u"Quality=3|Verify=0|Ogg=0|AddPB=1|AddST=1",
           "Settings text");
    Expect(!encoder->SetProperty(u"Bogus", u"1"), "unknown property refused");
    Expect(encoder->SetProperty(u"Add Output Extension", u"1"), "flag accepted");
    Expect(encoder->SetProperty(u"Destination Filename", u"/tmp/x"), "destination accepted");
    Expect(Take(encoder->GetProperty(u"Destination Filename")) == u"/tmp/x.fk",
           "extension appended");

    WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    Expect(encoder->StartBufferBased(&format, 0), "start");
    uint8_t block[64] = {};
    Expect(encoder->EncodeBuffer(block, sizeof block), "encode");
    Expect(!encoder->StartBufferBased(nullptr, 0), "null format refused");
    Expect(Take(encoder->GetProperty(u"Last Error")).empty(), "no last error");
    Expect(encoder->IsBufferInput() && !encoder->IsWavFileInput(), "input kind slots");
    Expect(encoder->GetConfigurable() == 1, "configurable slot");
    std::vector<int32_t> depths;
    encoder->GetSupportedBitdepths(depths);
    Expect(depths.empty(), "every depth");

    // Texts the host allocates and the library frees, and the other way round, share one heap.
    ZrSysString mine = SysAllocString(u"Quality=1");
    Expect(encoder->SetProperty(u"Settings", mine), "host-allocated value");
    SysFreeString(mine);

    delete encoder;
    dlclose(module);
    if (failures == 0)
        std::printf("all ABI checks passed\n");
    return failures == 0 ? 0 : 1;
}
