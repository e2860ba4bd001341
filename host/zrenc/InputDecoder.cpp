#include "zrenc/InputDecoder.h"

#include "foundation/ZrLibav.h"
#include "zrenc/WavReader.h"

#include <algorithm>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <soxr.h>
#include <utility>

namespace zrenc {

namespace {

// The libraries log from the thread that calls them: each job's decoder collects its own lines.
thread_local std::vector<std::string>* t_libraryLines = nullptr;

void CollectLibraryLine(void*, int level, const char* format, va_list args) {
    // A line may come in pieces; the pieces of a line share its level.
    thread_local std::string pending;
    if (level > AV_LOG_WARNING || !t_libraryLines)
        return;
    char piece[512];
    std::vsnprintf(piece, sizeof piece, format, args);
    pending += piece;
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        while (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && t_libraryLines->size() < 20)
            t_libraryLines->push_back(std::move(line));
    }
}

// While it lives, the libraries' lines on this thread go to `lines`.
class LibraryLines {
public:
    explicit LibraryLines(std::vector<std::string>& lines) : m_saved(t_libraryLines) {
        t_libraryLines = &lines;
    }
    ~LibraryLines() { t_libraryLines = m_saved; }
    LibraryLines(const LibraryLines&) = delete;
    LibraryLines& operator=(const LibraryLines&) = delete;

private:
    std::vector<std::string>* m_saved;
};

} // namespace

int64_t InputDecoder::DeclaredFrames() const {
    return m_wav ? m_wav->DeclaredFrames() : 0;
}

std::vector<std::string> InputDecoder::TakeLibraryWarnings() {
    return std::exchange(m_libraryLines, {});
}

std::string CheckDecodingLibraries() {
    std::string why;
    ZrLibav::Open(ZrLibav::Format, &why);
    return why;
}

std::string CheckDecodingLibraries(const char* avutil, const char* avcodec, const char* avformat) {
    return ZrLibav(avutil, avcodec, avformat).Load(ZrLibav::Format);
}

// The decoder's PCM of a DSD source, interleaved, raised to the convention's level and brought
// to a PCM rate.
struct InputDecoder::Dsd {
    soxr_t soxr = nullptr;
    uint16_t channels = 0;
    std::vector<float> in;
    std::vector<float> out;
    size_t outOffset = 0; // frames of `out` already delivered
    size_t outFrames = 0;
    bool drained = false; // the resampler gave its last samples

    ~Dsd() { soxr_delete(soxr); }
    // Runs `frames` frames of `in` (none to flush) into `out`, growing it as needed.
    bool Process(size_t frames, std::string& error) {
        outOffset = outFrames = 0;
        size_t consumed = 0;
        do {
            if (out.size() < (outFrames + 4096) * channels)
                out.resize((outFrames + 4096 + frames) * channels);
            size_t took = 0, made = 0;
            const soxr_error_t failed = soxr_process(
                soxr, frames ? in.data() + consumed * channels : nullptr, frames - consumed, &took,
                out.data() + outFrames * channels, out.size() / channels - outFrames, &made);
            if (failed) {
                error = std::string("resampling the DSD source failed: ") + failed;
                return false;
            }
            consumed += took;
            outFrames += made;
            if (!frames && made == 0)
                drained = true;
            if (!frames)
                return true;
            if (took == 0 && made == 0)
                break;
        } while (consumed < frames);
        return true;
    }
};

struct InputDecoder::Av {
    explicit Av(const ZrLibav& libav) : api(libav) {}
    const ZrLibav& api;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    bool flushed = false; // the decoder was told that no more packets come

    ~Av() {
        api.av_frame_free(&frame);
        api.av_packet_free(&packet);
        api.avcodec_free_context(&codec);
        api.avformat_close_input(&format);
    }
};

namespace {

bool MapSample(const ZrLibav& api, int format, SourceSample& sample, bool& planar) {
    planar = api.av_sample_fmt_is_planar(static_cast<AVSampleFormat>(format)) != 0;
    switch (api.av_get_packed_sample_fmt(static_cast<AVSampleFormat>(format))) {
    case AV_SAMPLE_FMT_U8:
        sample = SourceSample::U8;
        return true;
    case AV_SAMPLE_FMT_S16:
        sample = SourceSample::S16;
        return true;
    case AV_SAMPLE_FMT_S32:
        sample = SourceSample::S32;
        return true;
    case AV_SAMPLE_FMT_S64:
        sample = SourceSample::S64;
        return true;
    case AV_SAMPLE_FMT_FLT:
        sample = SourceSample::F32;
        return true;
    case AV_SAMPLE_FMT_DBL:
        sample = SourceSample::F64;
        return true;
    default:
        return false;
    }
}

} // namespace

InputDecoder::InputDecoder() = default;
InputDecoder::~InputDecoder() = default;

bool InputDecoder::Fail(const std::string& what, int averror) {
    m_error = averror ? what + ": " + ZrLibav::Loaded().ErrorText(averror) : what;
    return false;
}

bool InputDecoder::Open(const std::string& path, bool allowNative) {
    if (allowNative) {
        auto wav = std::make_unique<WavReader>();
        if (wav->Open(path)) {
            m_wav = std::move(wav);
            m_source = m_output = m_wav->Source();
            m_expectedFrames = m_wav->ExpectedFrames();
            return true;
        }
    }
    return OpenWithLibraries(path);
}

const ConversionStats& InputDecoder::Conversion() const {
    return m_wav ? m_wav->Conversion() : m_conversion;
}

void InputDecoder::SetOutput(const PcmSpec& spec) {
    m_output = spec;
    if (m_wav)
        m_wav->SetOutput(spec);
}

bool InputDecoder::OpenWithLibraries(const std::string& path) {
    std::string why;
    const ZrLibav* libav = ZrLibav::Open(ZrLibav::Format, &why);
    if (!libav)
        return Fail("needs the decoding libraries, which did not load: " + why, 0);
    const ZrLibav& api = *libav;
    static std::once_flag routed;
    std::call_once(routed, [&] { api.av_log_set_callback(CollectLibraryLine); });
    const LibraryLines lines(m_libraryLines);
    m_av = std::make_unique<Av>(api);
    Av& av = *m_av;
    int rc = api.avformat_open_input(&av.format, path.c_str(), nullptr, nullptr);
    if (rc < 0)
        return Fail("cannot open as audio", rc);
    rc = api.avformat_find_stream_info(av.format, nullptr);
    if (rc < 0)
        return Fail("cannot read the stream information", rc);
    const AVCodec* decoder = nullptr;
    av.stream = api.av_find_best_stream(av.format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (av.stream == AVERROR_STREAM_NOT_FOUND)
        return Fail("holds no audio stream", 0);
    if (av.stream < 0 || !decoder)
        return Fail("has no decoder for its audio", av.stream < 0 ? av.stream : 0);
    for (unsigned i = 0; i < av.format->nb_streams; ++i)
        if (static_cast<int>(i) != av.stream)
            av.format->streams[i]->discard = AVDISCARD_ALL;

    AVStream* stream = av.format->streams[av.stream];
    av.codec = api.avcodec_alloc_context3(decoder);
    av.packet = api.av_packet_alloc();
    av.frame = api.av_frame_alloc();
    if (!av.codec || !av.packet || !av.frame)
        return Fail("out of memory", 0);
    rc = api.avcodec_parameters_to_context(av.codec, stream->codecpar);
    // One thread: frame threads cost more than they save on audio packets (measured with
    // FLAC), and parallel jobs use the other processors.
    av.codec->thread_count = 1;
    if (rc >= 0)
        rc = api.avcodec_open2(av.codec, decoder, nullptr);
    if (rc < 0)
        return Fail("cannot open the decoder", rc);
    if (av.format->pb)
        m_fileSize = api.avio_size(av.format->pb);

    // The first frame fixes the format: some decoders only know it once they have decoded.
    if (!NextFrame())
        return m_error.empty() ? Fail("holds no audio", 0) : false;
    const AVFrame* frame = av.frame;
    bool planar = false;
    SourceSample sample{};
    if (!MapSample(api, frame->format, sample, planar))
        return Fail("has a sample format zrenc cannot deliver", 0);
    const int channels = frame->ch_layout.nb_channels;
    if (channels < 1 || channels > 0xFFFF || frame->sample_rate <= 0)
        return Fail("has no usable channel count or sample rate", 0);
    const int rawBits = av.codec->bits_per_raw_sample > 0 ? av.codec->bits_per_raw_sample
                                                          : stream->codecpar->bits_per_raw_sample;
    m_layout = SourceLayout{sample, planar, static_cast<uint16_t>(channels)};
    m_source = SourceSpec(sample, rawBits, static_cast<uint16_t>(channels),
                          static_cast<uint32_t>(frame->sample_rate));
    // The libraries' speaker bits are the WAV ones for the first 18 speakers.
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_NATIVE && frame->ch_layout.u.mask <= 0x3FFFFu &&
        std::popcount(frame->ch_layout.u.mask) == channels)
        m_source.channelMask = static_cast<uint32_t>(frame->ch_layout.u.mask);
    m_output = m_source;

    const AVRational perFrame{1, frame->sample_rate};
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        m_expectedFrames = api.av_rescale_q(stream->duration, stream->time_base, perFrame);
    else if (av.format->duration != AV_NOPTS_VALUE && av.format->duration > 0)
        m_expectedFrames = api.av_rescale_q(av.format->duration, AV_TIME_BASE_Q, perFrame);
    switch (av.codec->codec_id) {
    case AV_CODEC_ID_DSD_LSBF:
    case AV_CODEC_ID_DSD_MSBF:
    case AV_CODEC_ID_DSD_LSBF_PLANAR:
    case AV_CODEC_ID_DSD_MSBF_PLANAR:
        return StartDsd(static_cast<uint32_t>(frame->sample_rate));
    default:
        return true;
    }
}

uint32_t InputDecoder::PcmRateForDsd(uint32_t decodedRate) {
    // The decoder gives 1/8 of the DSD rate; above 40 kHz DSD64 holds mostly modulator noise.
    return decodedRate <= 352800 ? 88200 : 176400;
}

bool InputDecoder::StartDsd(uint32_t decodedRate) {
    const uint32_t rate = PcmRateForDsd(decodedRate);
    m_dsd = std::make_unique<Dsd>();
    m_dsd->channels = m_layout.channels;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t error = nullptr;
    m_dsd->soxr = soxr_create(decodedRate, rate, m_layout.channels, &error, &io, &quality, nullptr);
    if (!m_dsd->soxr || error)
        return Fail(std::string("cannot resample the DSD source: ") + (error ? error : "?"), 0);
    const uint32_t mask = m_source.channelMask;
    m_source = SourceSpec(SourceSample::F32, 0, m_layout.channels, rate);
    m_source.channelMask = mask;
    m_output = m_source;
    m_expectedFrames = m_expectedFrames * rate / decodedRate;
    m_sourceNote = "DSD " + std::to_string(decodedRate * 8u) + " Hz -> " + std::to_string(rate) +
                   " Hz PCM, 50 % modulation = 0 dBFS (+6 dB)";
    return true;
}

bool InputDecoder::ReadDsd(std::vector<uint8_t>& block, size_t targetBytes) {
    Dsd& dsd = *m_dsd;
    const size_t blockAlign = m_output.BlockAlign();
    const SourceLayout interleaved{SourceSample::F32, false, dsd.channels};
    while (block.size() < targetBytes) {
        if (dsd.outOffset < dsd.outFrames) {
            const size_t frames =
                std::min(dsd.outFrames - dsd.outOffset,
                         std::max<size_t>(1, (targetBytes - block.size()) / blockAlign));
            const uint8_t* planes[1] = {
                reinterpret_cast<const uint8_t*>(dsd.out.data() + dsd.outOffset * dsd.channels)};
            const size_t old = block.size();
            block.resize(old + frames * blockAlign);
            ConvertFrames(planes, interleaved, frames, m_output, block.data() + old, &m_conversion);
            dsd.outOffset += frames;
            continue;
        }
        if (dsd.drained)
            return true;
        if (!m_havePending && !NextFrame()) {
            if (!m_error.empty())
                return false;
            if (!dsd.Process(0, m_error))
                return false;
            continue;
        }
        // The whole decoded frame, interleaved and raised to the convention's level.
        const AVFrame* frame = m_av->frame;
        const size_t n = static_cast<size_t>(frame->nb_samples);
        dsd.in.resize(n * dsd.channels);
        const SourceLayout decoded{m_layout.sample, m_layout.planar, dsd.channels};
        const uint8_t* const* data = frame->extended_data;
        ConvertFrames(data, decoded, n, PcmSpec{dsd.channels, m_source.rate, 32, true},
                      reinterpret_cast<uint8_t*>(dsd.in.data()));
        for (float& x : dsd.in)
            x *= DsdGain;
        m_havePending = false;
        if (!dsd.Process(n, m_error))
            return false;
    }
    return true;
}

bool InputDecoder::NextFrame() {
    Av& av = *m_av;
    const ZrLibav& api = av.api;
    m_havePending = false;
    m_pendingOffset = 0;
    if (m_ended)
        return false;
    for (;;) {
        int rc = api.avcodec_receive_frame(av.codec, av.frame);
        if (rc >= 0) {
            if (av.frame->nb_samples <= 0)
                continue;
            m_havePending = true;
            return true;
        }
        if (rc == AVERROR_EOF) {
            m_ended = true;
            return false;
        }
        if (rc != AVERROR(EAGAIN))
            return Fail("decoding failed", rc);
        if (av.flushed) {
            m_ended = true;
            return false;
        }
        rc = api.av_read_frame(av.format, av.packet);
        if (rc == AVERROR_EOF) {
            av.flushed = true;
            rc = api.avcodec_send_packet(av.codec, nullptr);
        } else if (rc < 0) {
            return Fail("reading failed", rc);
        } else if (av.packet->stream_index != av.stream) {
            api.av_packet_unref(av.packet);
            continue;
        } else {
            rc = api.avcodec_send_packet(av.codec, av.packet);
            api.av_packet_unref(av.packet);
        }
        if (rc < 0 && rc != AVERROR_EOF)
            return Fail("decoding failed", rc);
    }
}

bool InputDecoder::AppendPending(std::vector<uint8_t>& block, size_t maxBytes) {
    const AVFrame* frame = m_av->frame;
    const ZrLibav& api = m_av->api;
    bool planar = false;
    SourceSample sample{};
    if (!MapSample(api, frame->format, sample, planar) || sample != m_layout.sample ||
        planar != m_layout.planar || frame->sample_rate != static_cast<int>(m_source.rate) ||
        frame->ch_layout.nb_channels != m_layout.channels)
        return Fail("the audio changes its format midway, which zrenc does not follow", 0);

    const size_t blockAlign = m_output.BlockAlign();
    const size_t available = static_cast<size_t>(frame->nb_samples) - m_pendingOffset;
    const size_t frames = std::min(available, std::max<size_t>(1, maxBytes / blockAlign));
    const size_t inBytes = api.av_get_bytes_per_sample(static_cast<AVSampleFormat>(frame->format));

    // Plane pointers advanced past what earlier blocks took.
    uint8_t* const* data = frame->extended_data;
    const size_t planes = planar ? m_layout.channels : 1;
    const size_t step = planar ? inBytes : inBytes * m_layout.channels;
    std::vector<const uint8_t*> stackless;
    const uint8_t* few[8];
    const uint8_t** p = few;
    if (planes > 8) {
        stackless.resize(planes);
        p = stackless.data();
    }
    for (size_t i = 0; i < planes; ++i)
        p[i] = data[i] + m_pendingOffset * step;

    const size_t old = block.size();
    block.resize(old + frames * blockAlign);
    ConvertFrames(p, m_layout, frames, m_output, block.data() + old, &m_conversion);
    m_pendingOffset += frames;
    if (m_pendingOffset >= static_cast<size_t>(frame->nb_samples))
        m_havePending = false;
    return true;
}

bool InputDecoder::Read(std::vector<uint8_t>& block, size_t targetBytes) {
    if (m_wav) {
        if (m_wav->Read(block, targetBytes))
            return true;
        m_error = m_wav->Error();
        return false;
    }
    block.clear();
    if (block.capacity() < targetBytes)
        block.reserve(targetBytes);
    const LibraryLines lines(m_libraryLines);
    if (m_dsd)
        return ReadDsd(block, targetBytes);
    while (block.size() < targetBytes) {
        if (!m_havePending && !NextFrame())
            return m_error.empty();
        if (!AppendPending(block, targetBytes - block.size()))
            return false;
    }
    return true;
}

double InputDecoder::InputFraction() const {
    if (m_wav)
        return m_wav->InputFraction();
    const AVFormatContext* format = m_av ? m_av->format : nullptr;
    if (!format || !format->pb || m_fileSize <= 0)
        return 0.0;
    // avio_tell, which the headers define inline over avio_seek.
    const int64_t position = m_av->api.avio_seek(format->pb, 0, SEEK_CUR);
    return std::clamp(static_cast<double>(position) / static_cast<double>(m_fileSize), 0.0, 1.0);
}

} // namespace zrenc
