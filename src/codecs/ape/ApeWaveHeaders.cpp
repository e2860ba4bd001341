#include "codecs/ape/ApeWaveHeaders.h"

#include "codecs/ape/ApeCompressor.h"

#include <cstring>

namespace {

// The "fmt " chunk holds the first 16 bytes of the record.
template <typename Record>
void CopyFormat(Record* header, const WAVEFORMATEX* waveFormat) {
    std::memcpy(&header->FormatTag, waveFormat, 16);
}

uint32_t DataChunkBytes(int64_t audioBytes) {
    return audioBytes >= 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(audioBytes);
}

} // namespace

extern "C" int FillWaveFormatEx(WAVEFORMATEX* waveFormat, int formatTag, int sampleRate,
                                int bitsPerSample, int channels) {
    if (!waveFormat)
        return ape::ErrorBadParameter;
    waveFormat->cbSize = 0;
    waveFormat->nSamplesPerSec = static_cast<uint32_t>(sampleRate);
    waveFormat->wBitsPerSample = static_cast<uint16_t>(bitsPerSample);
    waveFormat->nChannels = static_cast<uint16_t>(channels);
    waveFormat->wFormatTag = static_cast<uint16_t>(formatTag);
    waveFormat->nBlockAlign =
        static_cast<uint16_t>(waveFormat->wBitsPerSample / 8 * waveFormat->nChannels);
    waveFormat->nAvgBytesPerSec = uint32_t{waveFormat->nBlockAlign} * waveFormat->nSamplesPerSec;
    return ape::Success;
}

extern "C" int FillWaveHeader(WAVE_HEADER* header, int64_t audioBytes, WAVEFORMATEX* waveFormat,
                              intptr_t terminatingBytes) {
    if (!header || !waveFormat)
        return ape::ErrorBadParameter;
    std::memcpy(header->RiffId, "RIFF", 4);
    header->RiffBytes = static_cast<uint32_t>(audioBytes + 44 - 8 + terminatingBytes);
    std::memcpy(header->WaveId, "WAVE", 4);
    std::memcpy(header->FormatId, "fmt ", 4);
    header->FormatBytes = 16;
    CopyFormat(header, waveFormat);
    std::memcpy(header->DataId, "data", 4);
    header->DataBytes = DataChunkBytes(audioBytes);
    return ape::Success;
}

extern "C" int FillRF64Header(RF64_HEADER* header, int64_t audioBytes, WAVEFORMATEX* waveFormat) {
    if (!header || !waveFormat)
        return ape::ErrorBadParameter;
    std::memcpy(header->RiffId, "RF64", 4);
    header->RiffBytes = 0xFFFFFFFFu;
    std::memcpy(header->WaveId, "WAVE", 4);
    std::memcpy(header->Ds64Id, "ds64", 4);
    header->Ds64Bytes =
        static_cast<int32_t>(offsetof(RF64_HEADER, FormatId) - offsetof(RF64_HEADER, RiffSize));
    header->RiffSize = static_cast<int64_t>(sizeof(RF64_HEADER)) + audioBytes - 8;
    header->DataSize = audioBytes;
    // Frames (one sample of every channel), as RF64 writers count them.
    header->SampleCount = waveFormat->nBlockAlign ? audioBytes / waveFormat->nBlockAlign : 0;
    header->TableLength = 0;
    std::memcpy(header->FormatId, "fmt ", 4);
    header->FormatBytes = 16;
    CopyFormat(header, waveFormat);
    std::memcpy(header->DataId, "data", 4);
    header->DataBytes = DataChunkBytes(audioBytes);
    return ape::Success;
}
