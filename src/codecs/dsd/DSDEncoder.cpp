#include "codecs/dsd/DSDEncoder.h"

#include "codecs/dsd/DsdSettings.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

namespace {

constexpr uint32_t BaseIntermediateRate = 352800;
// {B3B3761C-48C9-46AE-B863-676DF6061DB5}: one-bit samples, eight to a byte.
constexpr ZrGuid DsdSubFormat{
    0xB3B3761C, 0x48C9, 0x46AE, {0xB8, 0x63, 0x67, 0x6D, 0xF6, 0x06, 0x1D, 0xB5}};
// The converted-sample buffer grows in steps of this many bytes.
constexpr size_t ConvertedGrowth = 16384;

// 0xFFFFFFFF until the first engine of the process takes the clock; each later one takes the
// next number.
uint32_t NextDitherSeed() {
    static std::atomic<uint32_t> counter{0xFFFFFFFF};
    uint32_t current = counter.load(std::memory_order_relaxed);
    uint32_t next;
    do {
        if (current == 0xFFFFFFFF) {
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            next = static_cast<uint32_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
        } else {
            next = current + 1;
        }
    } while (!counter.compare_exchange_weak(current, next, std::memory_order_relaxed));
    return next;
}

} // namespace

CDSDEncoder::CDSDEncoder() : m_dither(NextDitherSeed()) {}
CDSDEncoder::~CDSDEncoder() = default;

uint32_t CDSDEncoder::IntermediateRate(uint32_t inputRate, uint32_t dsdRate) {
    // An input already at 1/8 of a doubled-up DSD rate needs no resampling.
    if ((inputRate == 705600 && dsdRate == 5644800) ||
        (inputRate == 1411200 && dsdRate == 11289600) ||
        (inputRate == 2822400 && dsdRate == 22579200))
        return inputRate;
    return BaseIntermediateRate;
}

bool CDSDEncoder::Init(const ZrAudioFormat& input, uint32_t dsdRate) {
    m_initialised = false;
    if (!IsDsdSampleRate(dsdRate))
        return false;
    m_inputFormat = input;
    const uint32_t channels = input.Channels;
    const uint32_t intermediateRate = IntermediateRate(input.SamplesPerSec, dsdRate);
    m_intermediateFormat.Fill(64, intermediateRate, channels, 0, false,
                              KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, true);
    m_outputFormat.Fill(8, dsdRate / 8, channels, input.ChannelMask, true, DsdSubFormat, true);
    m_ratio = dsdRate / intermediateRate;
    m_states.assign(channels, ZrDsdModulatorState{});

    IZrAudioPlayer* player = ZrGetAudioPlayer();
    m_processor = player->CreateProcessor(IZrAudioPlayer::GainProcessor, 0);
    if (!m_processor)
        return false;
    m_processor->Configure(0.5);
    m_converter = player->CreateFormatConverter();
    if (!m_converter ||
        !m_converter->Init(m_inputFormat, m_intermediateFormat, this, 2, false, false, 0, 0, false,
                           true, false, false, m_processor.get(), false, nullptr, false, 2, 0))
        return false;
    m_initialised = true;
    return true;
}

bool CDSDEncoder::Process(const uint8_t* pcm, uint64_t frames, bool final) {
    if (!m_initialised)
        return false;
    bool ok = m_converter->Feed(pcm, pcm ? frames : 0, 0, false);
    if (final)
        ok = m_converter->Drain(true) && ok;

    const uint32_t channels = m_intermediateFormat.Channels;
    const size_t available = m_converted.size() / channels;
    if (available == 0)
        return ok;
    const size_t bytesPerChannel = available * m_ratio / 8;
    const size_t start = m_output.size();
    m_output.resize(start + bytesPerChannel * channels);
    ZrDsdModulate(m_converted.data(), available, channels, m_ratio, m_states.data(), m_dither,
                  m_output.data() + start);
    m_converted.clear();
    return ok;
}

void CDSDEncoder::OnConvertedData(void* data, uint32_t frames) {
    m_processor->ProcessInPlace(data, frames);
    const size_t count = size_t{frames} * m_intermediateFormat.Channels;
    const size_t needed = (m_converted.size() + count) * sizeof(double);
    if (needed > m_converted.capacity() * sizeof(double)) {
        // Whole steps, at least doubling, so that a long stream of small chunks copies little.
        const size_t bytes = std::max(needed, 2 * m_converted.capacity() * sizeof(double));
        m_converted.reserve((bytes + ConvertedGrowth - 1) / ConvertedGrowth * ConvertedGrowth /
                            sizeof(double));
    }
    const auto* samples = static_cast<const double*>(data);
    m_converted.insert(m_converted.end(), samples, samples + count);
}
