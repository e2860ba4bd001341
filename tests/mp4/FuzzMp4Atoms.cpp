// Reads and validates arbitrary bytes as an MP4 file: it must end in a result, never a crash, a
// hang or an allocation the bytes do not justify.
//
// An input whose first byte is odd is not a file but a list of patches (two offset bytes, one
// value) to a valid M4A made by the writer at start-up, so that the search reaches the checks
// deep in a well-formed movie as well as the reading of garbage.
#include "mp4/MP4File.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<uint8_t> g_template;

std::vector<uint8_t> MakeTemplate() {
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz-mp4-template-" +
                             std::to_string(::getpid()) + ".m4a";
    const WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    {
        CMP4File writer;
        if (!writer.CreateAudioFile(ZrString::FromUtf8(path), &format))
            return {};
        for (uint32_t i = 0; i < 12; ++i) {
            const std::vector<uint8_t> packet(20 + (i % 3), static_cast<uint8_t>(i));
            writer.AddPacket(packet.data(), static_cast<uint32_t>(packet.size()),
                             i == 11 ? 100 : 4096);
        }
        const uint8_t config[24] = {0, 0, 0x10, 0, 0, 16, 40, 10, 14, 2, 0,    255,
                                    0, 0, 0,    0, 0, 0,  0,  0,  0,  0, 0xAC, 0x44};
        writer.FinishAudioFile(config, 250);
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    ::unlink(path.c_str());
    return bytes;
}

void Check(const uint8_t* data, size_t size) {
    CMP4File file;
    if (!file.OpenMemory(data, size))
        return;
    if (file.ReadAtoms() && file.ValidateAtoms()) {
        // A valid tree must also lay out and dump.
        file.LayOut();
        (void)file.Dump(2);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_template = MakeTemplate();
    if (g_template.empty())
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || !(data[0] & 1)) {
        Check(data, size);
        return 0;
    }
    std::vector<uint8_t> file(g_template);
    for (size_t i = 1; i + 3 <= size; i += 3) {
        const size_t at = (size_t{data[i]} << 8 | data[i + 1]) % file.size();
        file[at] = data[i + 2];
    }
    Check(file.data(), file.size());
    return 0;
}
