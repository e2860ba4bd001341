#include "containers/Drive.h"

#include <algorithm>
#include <cstdlib>

namespace ct {

bool Set(IZrEncoder& encoder, const char16_t* name, const std::string& value) {
    return encoder.SetProperty(name, ZrString::FromUtf8(value).c_str());
}

std::string Encode(IZrEncoder& encoder, const path& destination, const Job& job) {
    if (!job.Settings.empty())
        Set(encoder, u"Settings", job.Settings);
    Set(encoder, u"Add Output Extension", "0");
    Set(encoder, u"Destination Filename", destination.string());
    if (!encoder.StartBufferBased(job.Format, job.ExpectedBytes))
        return "start";
    for (size_t offset = 0; offset < job.Pcm.size(); offset += job.BlockBytes) {
        const size_t n = std::min(job.BlockBytes, job.Pcm.size() - offset);
        std::vector<uint8_t> block(job.Pcm.begin() + static_cast<ptrdiff_t>(offset),
                                   job.Pcm.begin() + static_cast<ptrdiff_t>(offset + n));
        if (!encoder.EncodeBuffer(block.data(), block.size()))
            return "encode";
    }
    return encoder.FinishBufferBased() ? "" : "finish";
}

std::vector<size_t> FrameCounts(size_t combination) {
    // 1: a single frame; 4095/4096/4097: around the host's block of 4096 frames; 0: header only.
    static const size_t boundaries[] = {1, 4095, 4097};
    if (Exhaustive())
        return {0, 1, 2, 1000, 4095, 4096, 4097, 44100};
    return {boundaries[combination % 3]};
}

} // namespace ct
