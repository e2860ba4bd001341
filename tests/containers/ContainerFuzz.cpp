// Drives the WAV and AIFF encoders with any host format record, settings and block split: no
// input may crash them or make them read or write outside the buffers.
//   bytes 0-39  the host's format record (read as extensible when its tag says so)
//   byte 40     bit 0: AIFF instead of WAV; bits 1-3: the WAV settings variant
//   byte 41     block size in frames - 1
//   rest        the PCM
#include "containers/AiffEncoder.h"
#include "containers/WavEncoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char16_t* const WavSettings[] = {
    u"",      u"NOHDR=1",     u"NOHDR=1|L16=1", u"NOHDR=1|L24=1",
    u"L16=1", u"L24=1|L16=1", u"NOHDR=2",       u"NOHDR=1|L24=7",
};

const std::string& Destination() {
    static const std::string path = [] {
        const char* tmp = getenv("TMPDIR");
        return std::string(tmp && *tmp ? tmp : "/tmp") + "/zr-fuzz-containers-" +
               std::to_string(getpid()) + ".out";
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 42)
        return 0;
    WAVEFORMATEXTENSIBLE record;
    std::memcpy(&record, data, sizeof record);
    const uint8_t selector = data[40];
    const size_t blockFrames = size_t{data[41]} + 1;
    std::vector<uint8_t> pcm(data + 42, data + size);

    std::unique_ptr<ZrEncoderBase> encoder;
    if (selector & 1) {
        encoder = std::make_unique<AIFFEncoder>(nullptr);
    } else {
        encoder = std::make_unique<CWavEncoder>(nullptr);
        encoder->SetProperty(u"Settings", WavSettings[(selector >> 1) & 7]);
    }
    encoder->SetProperty(u"Add Output Extension", u"0");
    encoder->SetProperty(u"Destination Filename", ZrString::FromUtf8(Destination()).c_str());
    if (encoder->StartBufferBased(&record.Format, static_cast<int64_t>(pcm.size()))) {
        const size_t frame =
            encoder->InputFormat().BlockAlign ? encoder->InputFormat().BlockAlign : 1;
        const size_t block = blockFrames * frame;
        for (size_t offset = 0; offset < pcm.size(); offset += block)
            encoder->EncodeBuffer(pcm.data() + offset, std::min(block, pcm.size() - offset));
        encoder->FinishBufferBased();
    }
    encoder->GetEstimatedBitrate();
    encoder.reset();
    unlink(Destination().c_str());
    return 0;
}
