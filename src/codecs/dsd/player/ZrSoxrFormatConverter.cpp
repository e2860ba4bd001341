#include "codecs/dsd/player/ZrSoxrFormatConverter.h"

#include "foundation/ZrByteOrder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <soxr.h>

namespace {

// Input is converted and resampled in slices of this many frames, so that memory stays small
// whatever the caller hands over at once.
constexpr size_t SliceFrames = 8192;
constexpr uint32_t MaxChannels = 8;

// A NaN or infinite sample would poison the resampler and everything after it.
double Finite(double x) {
    return std::isfinite(x) ? x : 0.0;
}

unsigned SoxrRecipe(int32_t quality) {
    switch (quality) {
    case 0:
        return SOXR_QQ;
    case 1:
        return SOXR_HQ;
    default:
        return SOXR_VHQ;
    }
}

unsigned SoxrPhase(int32_t phase) {
    switch (phase) {
    case 0:
        return SOXR_MINIMUM_PHASE;
    case 1:
        return SOXR_INTERMEDIATE_PHASE;
    default:
        return SOXR_LINEAR_PHASE;
    }
}

} // namespace

void ZrSoxrFormatConverter::SoxrDelete::operator()(soxr* resampler) const noexcept {
    soxr_delete(resampler);
}

ZrSoxrFormatConverter::ZrSoxrFormatConverter() = default;
ZrSoxrFormatConverter::~ZrSoxrFormatConverter() = default;

bool ZrSoxrFormatConverter::Init(const ZrAudioFormat& input, const ZrAudioFormat& output,
                                 IZrAudioPlayerFormatConverterOutput* sink, int32_t quality,
                                 bool /*dither: the output is float*/, bool clip,
                                 uint32_t maxChunkFrames, uint32_t /*channelMask*/, bool downmix,
                                 bool interleaved, bool steep, bool allowAliasing,
                                 IZrAudioProcessor* processor, bool applyProcessor,
                                 const uint8_t* channelMap, bool bigEndianInput, int32_t phase,
                                 uint32_t startFrames) {
    m_ready = false;
    m_resampler.reset();
    if (!sink || downmix || !interleaved || allowAliasing || channelMap || quality < 0 ||
        quality > 2 || phase < 0 || phase > 2)
        return false;

    // Input: integer PCM of 8 to 32 bits or float of 32/64 bits, 1 to 8 channels.
    if (!input.IsPcmOrFloat() || input.Channels < 1 || input.Channels > MaxChannels ||
        input.SamplesPerSec == 0)
        return false;
    if (!zrpcm::SampleFor(input.BitsPerSample, input.IsFloat(), m_sample))
        return false;
    // Output: interleaved doubles, the same channels.
    if (!output.IsFloat() || output.BitsPerSample != 64 || output.Channels != input.Channels ||
        output.SamplesPerSec == 0)
        return false;
    if (processor && !processor->SetFormat(output))
        return false;

    if (input.SamplesPerSec != output.SamplesPerSec) {
        soxr_error_t error = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
        const soxr_quality_spec_t q = soxr_quality_spec(SoxrRecipe(quality) | SoxrPhase(phase),
                                                        steep ? SOXR_STEEP_FILTER : 0);
        // One thread: the caller decides how many encodes run at once.
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        m_resampler.reset(soxr_create(input.SamplesPerSec, output.SamplesPerSec, input.Channels,
                                      &error, &io, &q, &runtime));
        if (error || !m_resampler)
            return false;
    }

    m_sink = sink;
    m_processor = applyProcessor ? processor : nullptr;
    m_channels = input.Channels;
    m_inputFrameBytes = static_cast<uint32_t>(input.BitsPerSample / 8) * input.Channels;
    m_maxChunkFrames =
        maxChunkFrames ? maxChunkFrames : std::max<uint32_t>(sink->GetMaxFrames(), 1);
    m_framesToSkip = startFrames;
    m_clip = clip;
    m_bigEndian = bigEndianInput;
    m_input.assign(SliceFrames * m_channels, 0.0);
    if (m_resampler) {
        // Room for a whole slice at the highest ratio in one call, within reason.
        const double ratio = static_cast<double>(output.SamplesPerSec) / input.SamplesPerSec;
        const size_t frames = static_cast<size_t>(std::clamp(ratio * SliceFrames, 1024.0, 65536.0));
        m_output.assign(frames * m_channels, 0.0);
    }
    m_ready = true;
    return true;
}

bool ZrSoxrFormatConverter::Feed(const void* data, uint64_t frames, uint32_t, bool) {
    if (!m_ready || (!data && frames))
        return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (frames > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(frames, SliceFrames));
        ToDouble(bytes, n);
        if (m_resampler) {
            if (!Resample(m_input.data(), n))
                return false;
        } else {
            Deliver(m_input.data(), n);
        }
        bytes += n * m_inputFrameBytes;
        frames -= n;
    }
    return true;
}

bool ZrSoxrFormatConverter::Drain(bool endOfStream) {
    if (!m_ready)
        return false;
    if (!endOfStream || !m_resampler) {
        m_ready = !endOfStream;
        return true;
    }
    const size_t capacity = m_output.size() / m_channels;
    for (;;) {
        size_t produced = 0;
        if (soxr_process(m_resampler.get(), nullptr, 0, nullptr, m_output.data(), capacity,
                         &produced))
            return false;
        if (produced == 0)
            break;
        Deliver(m_output.data(), produced);
    }
    m_ready = false;
    return true;
}

void ZrSoxrFormatConverter::ToDouble(const uint8_t* data, size_t frames) {
    const size_t samples = frames * m_channels;
    if (m_bigEndian && !zrpcm::IsFloat(m_sample)) {
        const size_t bytes = samples * zrpcm::Bytes(m_sample);
        m_swapped.assign(data, data + bytes);
        zrbytes::ReverseGroups(m_swapped.data(), bytes, zrpcm::Bytes(m_sample));
        data = m_swapped.data();
    }
    double* out = m_input.data();
    zrpcm::ToDouble(data, samples, m_sample, out);
    if (zrpcm::IsFloat(m_sample))
        for (size_t i = 0; i < samples; ++i)
            out[i] = Finite(out[i]);
}

bool ZrSoxrFormatConverter::Resample(const double* data, size_t frames) {
    const size_t capacity = m_output.size() / m_channels;
    size_t consumed = 0;
    // soxr takes what input fits the output room; keep going until the slice is used and the
    // output no longer comes back full.
    for (;;) {
        size_t used = 0, produced = 0;
        if (soxr_process(m_resampler.get(), data + consumed * m_channels, frames - consumed, &used,
                         m_output.data(), capacity, &produced))
            return false;
        if (used == 0 && produced == 0 && consumed < frames)
            return false; // a resampler that neither takes nor gives would spin forever
        consumed += used;
        Deliver(m_output.data(), produced);
        if (consumed == frames && produced < capacity)
            return true;
    }
}

void ZrSoxrFormatConverter::Deliver(double* data, size_t frames) {
    if (m_framesToSkip) {
        const size_t skip = static_cast<size_t>(std::min<uint64_t>(m_framesToSkip, frames));
        m_framesToSkip -= skip;
        data += skip * m_channels;
        frames -= skip;
    }
    while (frames > 0) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(frames, m_maxChunkFrames));
        if (m_clip)
            for (size_t i = 0; i < size_t{n} * m_channels; ++i)
                data[i] = std::clamp(data[i], -1.0, 1.0);
        if (m_processor)
            m_processor->ProcessInPlace(data, n);
        m_sink->OnConvertedData(data, n);
        data += size_t{n} * m_channels;
        frames -= n;
    }
}
