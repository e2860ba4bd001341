#include "codecs/ape/ApeWaveHeaders.h"

#include "codecs/ape/ApeCompressor.h"
#include "foundation/ZrWavHeader.h"

#include <cstring>

namespace {

static_assert(sizeof(WAVE_HEADER) == ZrWavHeaderBytes && sizeof(RF64_HEADER) == ZrRf64HeaderBytes);

// The "fmt " chunk holds the first 16 bytes of the record.
ZrWavHeaderFields FieldsOf(const WAVEFORMATEX* waveFormat) {
    ZrWavHeaderFields fields;
    fields.formatTag = waveFormat->wFormatTag;
    fields.channels = waveFormat->nChannels;
    fields.samplesPerSec = waveFormat->nSamplesPerSec;
    fields.avgBytesPerSec = waveFormat->nAvgBytesPerSec;
    fields.blockAlign = waveFormat->nBlockAlign;
    fields.bitsPerSample = waveFormat->wBitsPerSample;
    return fields;
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
    ZrWavHeaderFields fields = FieldsOf(waveFormat);
    fields.riffSize = static_cast<uint32_t>(audioBytes + 44 - 8 + terminatingBytes);
    fields.dataSize = DataChunkBytes(audioBytes);
    uint8_t bytes[ZrWavHeaderBytes];
    ZrWriteWavHeader(fields, bytes);
    std::memcpy(header, bytes, sizeof bytes);
    return ape::Success;
}

extern "C" int FillRF64Header(RF64_HEADER* header, int64_t audioBytes, WAVEFORMATEX* waveFormat) {
    if (!header || !waveFormat)
        return ape::ErrorBadParameter;
    ZrWavHeaderFields fields = FieldsOf(waveFormat);
    fields.rf64 = true;
    fields.riffSize = 0xFFFFFFFFu;
    fields.riffSize64 = static_cast<uint64_t>(int64_t{ZrRf64HeaderBytes} + audioBytes - 8);
    fields.dataSize64 = static_cast<uint64_t>(audioBytes);
    // Frames (one sample of every channel), as RF64 writers count them.
    fields.sampleCount =
        static_cast<uint64_t>(waveFormat->nBlockAlign ? audioBytes / waveFormat->nBlockAlign : 0);
    fields.dataSize = DataChunkBytes(audioBytes);
    uint8_t bytes[ZrRf64HeaderBytes];
    ZrWriteWavHeader(fields, bytes);
    std::memcpy(header, bytes, sizeof bytes);
    return ape::Success;
}
