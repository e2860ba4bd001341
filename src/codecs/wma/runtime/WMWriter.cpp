#include "codecs/wma/runtime/WMWriter.h"

#include "foundation/ZrLibav.h"
#include "foundation/ZrPcm.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opened by BeginWriting before anything calls through it.
const ZrLibav& Av() {
    return ZrLibav::Loaded();
}

constexpr uint16_t TagPcm = 1;
constexpr uint16_t TagFloat = 3;
constexpr uint16_t TagExtensible = 0xFFFE;
// The codec's limits (libavcodec's wmaenc).
constexpr uint32_t HighestRate = 48000;
constexpr uint32_t LowestRate = 8000;
constexpr uint32_t MostChannels = 2;

class CSample final : public INSSBuffer {
public:
    explicit CSample(uint32_t bytes) : m_bytes(bytes) {}
    WMStatus GetBufferAndLength(uint8_t** buffer, uint32_t* length) override {
        if (buffer)
            *buffer = m_bytes.data();
        if (length)
            *length = static_cast<uint32_t>(m_bytes.size());
        return WM_OK;
    }

private:
    std::vector<uint8_t> m_bytes;
};

class CInputProps final : public IWMInputMediaProps {
public:
    CInputProps() { m_type.MajorType = WMMediaType::Audio; }
    WMStatus GetType(WMMediaType::Major* major) override {
        if (!major)
            return WM_INVALIDARG;
        *major = m_type.MajorType;
        return WM_OK;
    }
    WMStatus SetMediaType(const WMMediaType& type) override {
        m_type = type;
        return WM_OK;
    }
    const WMMediaType& MediaType() const override { return m_type; }

private:
    WMMediaType m_type;
};

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t Get32(const uint8_t* p) {
    return Get16(p) | uint32_t{Get16(p + 2)} << 16;
}

// The file-creation mask, read without changing it (umask() would, for every thread).
mode_t ProcessUmask() {
    std::FILE* status = std::fopen("/proc/self/status", "re");
    unsigned mask = 022;
    if (status) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "Umask: %o", &mask) == 1)
                break;
        std::fclose(status);
    }
    return static_cast<mode_t>(mask);
}

} // namespace

struct CWMWriter::Codec {
    struct ResamplerFree {
        void operator()(SwrContext* s) const { Av().swr_free(&s); }
    };
    struct MuxerFree {
        void operator()(AVFormatContext* f) const {
            if (f->pb)
                Av().avio_closep(&f->pb);
            Av().avformat_free_context(f);
        }
    };
    ZrAvContextPtr Context;
    ZrAvFramePtr Frame;
    ZrAvPacketPtr Packet;
    std::unique_ptr<SwrContext, ResamplerFree> Resampler;
    std::unique_ptr<AVFormatContext, MuxerFree> Muxer;
    AVStream* Stream = nullptr;
    AVSampleFormat InputFormat = AV_SAMPLE_FMT_NONE;
};

CWMWriter::CWMWriter() : m_codec(std::make_unique<Codec>()) {}

CWMWriter::~CWMWriter() {
    Discard();
}

// Lets go of the codec and the muxer and removes the unfinished file.
void CWMWriter::Discard() {
    if (m_codec->Muxer || m_codec->Context)
        *m_codec = Codec{};
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
}

WMStatus CWMWriter::Fail(WMStatus status, std::string text) {
    m_error = std::move(text);
    return status;
}

WMStatus CWMWriter::FailLibrary(int code, const char* what) {
    m_state = State::Broken;
    Discard();
    return Fail(WM_FAIL,
                std::string("Windows Media writer: ") + what + ": " + Av().ErrorText(code));
}

// --- Set-up ----------------------------------------------------------------------------------

WMStatus CWMWriter::SetProfile(const WMProfile& profile) {
    if (m_state != State::Setup)
        return Fail(WM_INVALID_STATE, "the writer has begun writing");
    if (profile.Mode == "lossless" || profile.Codec == "wmalossless")
        return Fail(WM_INVALID_PROFILE,
                    "Windows Media Audio Lossless cannot be written: this runtime encodes "
                    "through libavcodec, which has no encoder for it (profile \"" +
                        profile.Name + "\")");
    if (profile.Codec != "wmav2")
        return Fail(WM_INVALID_PROFILE, "profile \"" + profile.Name + "\" names codec \"" +
                                            profile.Codec + "\"; this runtime writes wmav2");
    if (profile.BitRate < 8000 || profile.BitRate > 1000000)
        return Fail(WM_INVALID_PROFILE, "profile \"" + profile.Name + "\" has bit rate " +
                                            std::to_string(profile.BitRate) +
                                            "; wmav2 takes 8,000 to 1,000,000 bits per second");
    m_profile = profile;
    m_haveProfile = true;
    return WM_OK;
}

WMStatus CWMWriter::SetOutputFilename(const std::string& path) {
    if (m_state != State::Setup)
        return Fail(WM_INVALID_STATE, "the writer has begun writing");
    if (path.empty())
        return Fail(WM_INVALIDARG, "no output file name");
    m_path = path;
    return WM_OK;
}

WMStatus CWMWriter::GetInputCount(uint32_t* count) {
    if (!count)
        return WM_INVALIDARG;
    *count = m_haveProfile ? 1 : 0;
    return WM_OK;
}

WMStatus CWMWriter::GetInputProps(uint32_t input, std::unique_ptr<IWMInputMediaProps>& out) {
    if (input != 0 || !m_haveProfile)
        return Fail(WM_INVALIDARG, "the writer has one input once a profile is set");
    out.reset(new (std::nothrow) CInputProps());
    return out ? WM_OK : WM_OUTOFMEMORY;
}

WMStatus CWMWriter::SetInputProps(uint32_t input, const IWMInputMediaProps& props) {
    if (m_state != State::Setup)
        return Fail(WM_INVALID_STATE, "the writer has begun writing");
    const WMMediaType& type = props.MediaType();
    if (input != 0 || type.MajorType != WMMediaType::Audio || !type.SubtypePcm ||
        !type.FormatWaveFormatEx || type.Format.size() < 16)
        return Fail(WM_INVALID_FORMAT, "the input must be PCM audio with a wave-format record");
    const uint8_t* f = type.Format.data();
    uint16_t tag = Get16(f);
    const uint16_t channels = Get16(f + 2);
    const uint32_t rate = Get32(f + 4);
    const uint16_t blockAlign = Get16(f + 12);
    const uint16_t bits = Get16(f + 14);
    if (tag == TagExtensible) {
        // The sub-format's first group is the plain tag it stands for.
        if (type.Format.size() < 18 + 22 || Get16(f + 16) < 22)
            return Fail(WM_INVALID_FORMAT, "the extensible wave-format record is too short");
        tag = static_cast<uint16_t>(Get32(f + 24));
    }
    const auto fail = [&](const std::string& what) {
        return Fail(WM_INVALID_FORMAT, "cannot encode " + what + " to Windows Media Audio");
    };
    if (tag != TagPcm && tag != TagFloat)
        return fail("wave format " + std::to_string(tag));
    if (channels == 0 || rate == 0)
        return fail("audio without channels or rate");
    const uint16_t container = static_cast<uint16_t>((bits + 7) / 8 * 8);
    zrpcm::Sample sample;
    if (!zrpcm::SampleFor(container, tag == TagFloat, sample))
        return fail(std::to_string(bits) + "-bit " + (tag == TagFloat ? "float" : "integer") +
                    " samples");
    if (blockAlign != container / 8 * channels)
        return fail("frames of " + std::to_string(blockAlign) + " bytes");
    m_channels = channels;
    m_rate = rate;
    m_blockAlign = blockAlign;
    m_containerBits = container;
    m_float = tag == TagFloat;
    m_input = type;
    m_haveInput = true;
    return WM_OK;
}

WMStatus CWMWriter::BeginWriting() {
    if (m_state != State::Setup)
        return Fail(WM_INVALID_STATE, "the writer has begun writing");
    if (!m_haveProfile || !m_haveInput || m_path.empty())
        return Fail(WM_INVALID_STATE, "the writer needs a profile, an input format and a file");
    // Opened when the first Windows Media file starts: a host that never writes one never pays
    // for the libraries' dependencies.
    if (std::string why; !ZrLibav::Open(ZrLibav::Resample, &why))
        return Fail(WM_FAIL, "Windows Media writer: " + why);
    const AVCodec* codec = Av().avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (!codec)
        return Fail(WM_FAIL, "Windows Media writer: libavcodec has no wmav2 encoder");

    m_outputChannels = std::min<uint32_t>(m_channels, MostChannels);
    m_outputRate = m_rate > HighestRate  ? (m_rate % 11025 == 0 ? 44100 : HighestRate)
                   : m_rate < LowestRate ? LowestRate
                                         : m_rate;
    switch (m_containerBits) {
    case 8:
        m_codec->InputFormat = AV_SAMPLE_FMT_U8;
        break;
    case 16:
        m_codec->InputFormat = AV_SAMPLE_FMT_S16;
        break;
    case 24: // widened to 32 bits first: the converter has no packed 24-bit format
    case 32:
        m_codec->InputFormat = m_float ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S32;
        break;
    default:
        m_codec->InputFormat = AV_SAMPLE_FMT_DBL;
        break;
    }

    m_codec->Context.reset(Av().avcodec_alloc_context3(codec));
    AVCodecContext* context = m_codec->Context.get();
    if (!context)
        return FailLibrary(AVERROR(ENOMEM), "cannot allocate the codec");
    context->sample_fmt = AV_SAMPLE_FMT_FLTP;
    context->sample_rate = static_cast<int>(m_outputRate);
    context->bit_rate = m_profile.BitRate;
    context->time_base = AVRational{1, static_cast<int>(m_outputRate)};
    Av().av_channel_layout_default(&context->ch_layout, static_cast<int>(m_outputChannels));
    if (const int code = Av().avcodec_open2(context, codec, nullptr); code < 0)
        return FailLibrary(code, ("cannot encode " + std::to_string(m_outputChannels) +
                                  " channels at " + std::to_string(m_outputRate) + " Hz and " +
                                  std::to_string(m_profile.BitRate) + " bits per second")
                                     .c_str());

    AVChannelLayout inputLayout{};
    Av().av_channel_layout_default(&inputLayout, m_channels);
    SwrContext* resampler = nullptr;
    int code = Av().swr_alloc_set_opts2(&resampler, &context->ch_layout, AV_SAMPLE_FMT_FLTP,
                                        context->sample_rate, &inputLayout, m_codec->InputFormat,
                                        static_cast<int>(m_rate), 0, nullptr);
    Av().av_channel_layout_uninit(&inputLayout);
    m_codec->Resampler.reset(resampler);
    if (code < 0 || (code = Av().swr_init(resampler)) < 0)
        return FailLibrary(code, "cannot convert the input");

    m_codec->Frame.reset(Av().av_frame_alloc());
    m_codec->Packet.reset(Av().av_packet_alloc());
    AVFrame* frame = m_codec->Frame.get();
    if (!frame || !m_codec->Packet)
        return FailLibrary(AVERROR(ENOMEM), "cannot allocate a frame");
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->nb_samples = context->frame_size;
    frame->sample_rate = context->sample_rate;
    if ((code = Av().av_channel_layout_copy(&frame->ch_layout, &context->ch_layout)) < 0 ||
        (code = Av().av_frame_get_buffer(frame, 0)) < 0)
        return FailLibrary(code, "cannot allocate a frame");

    // The file grows under a name of its own and takes the destination's at the end.
    m_temporary = m_path + ".zrwm-XXXXXX";
    const int fd = ::mkostemp(m_temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        const std::string error = std::strerror(errno);
        m_temporary.clear();
        m_state = State::Broken;
        Discard();
        return Fail(WM_FAIL, "cannot create a file beside \"" + m_path + "\": " + error);
    }
    // mkostemp makes the file private; the finished one gets what a new file gets.
    ::fchmod(fd, 0666 & ~ProcessUmask());
    ::close(fd);
    AVFormatContext* muxer = nullptr;
    if ((code = Av().avformat_alloc_output_context2(&muxer, nullptr, "asf", m_temporary.c_str())) <
        0)
        return FailLibrary(code, "cannot create the ASF muxer");
    m_codec->Muxer.reset(muxer);
    m_codec->Stream = Av().avformat_new_stream(muxer, nullptr);
    if (!m_codec->Stream)
        return FailLibrary(AVERROR(ENOMEM), "cannot create the ASF stream");
    if ((code = Av().avcodec_parameters_from_context(m_codec->Stream->codecpar, context)) < 0)
        return FailLibrary(code, "cannot describe the stream");
    m_codec->Stream->time_base = context->time_base;
    if ((code = Av().avio_open(&muxer->pb, m_temporary.c_str(), AVIO_FLAG_WRITE)) < 0)
        return FailLibrary(code, ("cannot open \"" + m_temporary + "\"").c_str());
    // Without it libavformat names itself in the header (WM/EncodingSettings); the attributes
    // are ours to write.
    muxer->flags |= AVFMT_FLAG_BITEXACT;
    if ((code = Av().avformat_write_header(muxer, nullptr)) < 0)
        return FailLibrary(code, ("cannot write the ASF header of \"" + m_path + "\"").c_str());

    m_framesOut = 0;
    m_carry.clear();
    m_state = State::Writing;
    // Decoders give nothing for the first frame (the transform's overlap is not whole yet): a
    // frame of silence in front makes the input's first samples the first ones decoded.
    for (uint32_t c = 0; c < m_outputChannels; ++c)
        std::memset(frame->extended_data[c], 0,
                    size_t{static_cast<unsigned>(frame->nb_samples)} * 4);
    m_frameFill = context->frame_size;
    return SendFrame(false);
}

// --- Samples ---------------------------------------------------------------------------------

WMStatus CWMWriter::AllocateSample(uint32_t bytes, std::unique_ptr<INSSBuffer>& out) {
    out.reset(new (std::nothrow) CSample(bytes));
    return out ? WM_OK : Fail(WM_OUTOFMEMORY, "out of memory");
}

// Samples follow one another without gaps: their times are those the host counts from their
// lengths.
WMStatus CWMWriter::WriteSample(uint32_t input, uint64_t, uint32_t, INSSBuffer& sample) {
    if (m_state != State::Writing)
        return Fail(WM_INVALID_STATE,
                    m_state == State::Broken ? m_error : std::string("the writer is not writing"));
    if (input != 0)
        return Fail(WM_INVALIDARG, "the writer has one input");
    uint8_t* data = nullptr;
    uint32_t length = 0;
    sample.GetBufferAndLength(&data, &length);
    if (!m_carry.empty()) {
        const uint32_t take = std::min<uint32_t>(length, m_blockAlign - m_carry.size());
        m_carry.insert(m_carry.end(), data, data + take);
        data += take;
        length -= take;
        if (m_carry.size() == m_blockAlign) {
            if (const WMStatus status = Convert(m_carry.data(), 1); WMFailed(status))
                return status;
            m_carry.clear();
        }
    }
    const uint32_t frames = length / m_blockAlign;
    if (frames != 0)
        if (const WMStatus status = Convert(data, frames); WMFailed(status))
            return status;
    m_carry.insert(m_carry.end(), data + size_t{frames} * m_blockAlign, data + length);
    return WM_OK;
}

// Hands `frames` input frames to the converter and encodes every whole codec frame it gives.
WMStatus CWMWriter::Convert(const uint8_t* data, uint32_t frames) {
    const uint8_t* in = data;
    if (m_containerBits == 24) {
        m_wide.resize(size_t{frames} * m_channels);
        zrpcm::ToInt32(data, m_wide.size(), zrpcm::Sample::S24, m_wide.data(), zrpcm::Align::Top);
        in = reinterpret_cast<const uint8_t*>(m_wide.data());
    }
    AVFrame* frame = m_codec->Frame.get();
    const int frameSize = m_codec->Context->frame_size;
    const uint8_t** input = &in;
    int count = static_cast<int>(frames);
    for (;;) {
        if (const int code = Av().av_frame_make_writable(frame); code < 0)
            return FailLibrary(code, "cannot reuse the frame");
        uint8_t* planes[MostChannels] = {};
        for (uint32_t c = 0; c < m_outputChannels; ++c)
            planes[c] = frame->extended_data[c] + size_t{static_cast<unsigned>(m_frameFill)} * 4;
        const int want = frameSize - m_frameFill;
        // After the new input, what the converter holds back.
        if (!input && Av().swr_get_out_samples(m_codec->Resampler.get(), 0) < want)
            return WM_OK;
        const int got = Av().swr_convert(m_codec->Resampler.get(), planes, want, input, count);
        if (got < 0)
            return FailLibrary(got, "cannot convert the input");
        input = nullptr;
        count = 0;
        m_frameFill += got;
        if (m_frameFill < frameSize)
            return WM_OK;
        if (const WMStatus status = SendFrame(false); WMFailed(status))
            return status;
    }
}

// Encodes the frame's m_frameFill samples (a short one only at the end) and writes the packets.
WMStatus CWMWriter::SendFrame(bool last) {
    AVCodecContext* context = m_codec->Context.get();
    AVFrame* frame = last && m_frameFill == 0 ? nullptr : m_codec->Frame.get();
    if (frame) {
        frame->nb_samples = m_frameFill;
        frame->pts = m_framesOut;
        m_framesOut += m_frameFill;
        m_frameFill = 0;
    }
    int code = Av().avcodec_send_frame(context, frame);
    if (frame)
        frame->nb_samples = context->frame_size;
    if (code < 0)
        return FailLibrary(code, "cannot encode");
    AVPacket* packet = m_codec->Packet.get();
    AVStream* stream = m_codec->Stream;
    while ((code = Av().avcodec_receive_packet(context, packet)) >= 0) {
        packet->stream_index = stream->index;
        packet->pts = Av().av_rescale_q(packet->pts, context->time_base, stream->time_base);
        packet->dts = Av().av_rescale_q(packet->dts, context->time_base, stream->time_base);
        packet->duration =
            Av().av_rescale_q(packet->duration, context->time_base, stream->time_base);
        code = Av().av_write_frame(m_codec->Muxer.get(), packet);
        Av().av_packet_unref(packet);
        if (code < 0)
            return FailLibrary(code, ("cannot write \"" + m_path + "\"").c_str());
    }
    if (code != AVERROR(EAGAIN) && code != AVERROR_EOF)
        return FailLibrary(code, "cannot encode");
    return WM_OK;
}

// Everything the converter still holds, then the codec's last frames.
WMStatus CWMWriter::Drain() {
    AVFrame* frame = m_codec->Frame.get();
    const int frameSize = m_codec->Context->frame_size;
    for (;;) {
        if (const int code = Av().av_frame_make_writable(frame); code < 0)
            return FailLibrary(code, "cannot reuse the frame");
        uint8_t* planes[MostChannels] = {};
        for (uint32_t c = 0; c < m_outputChannels; ++c)
            planes[c] = frame->extended_data[c] + size_t{static_cast<unsigned>(m_frameFill)} * 4;
        const int got =
            Av().swr_convert(m_codec->Resampler.get(), planes, frameSize - m_frameFill, nullptr, 0);
        if (got < 0)
            return FailLibrary(got, "cannot convert the input");
        m_frameFill += got;
        if (got == 0 || m_frameFill < frameSize)
            break;
        if (const WMStatus status = SendFrame(false); WMFailed(status))
            return status;
    }
    if (m_frameFill > 0)
        if (const WMStatus status = SendFrame(false); WMFailed(status))
            return status;
    return SendFrame(true);
}

WMStatus CWMWriter::Flush() {
    // Whole codec frames are encoded and written as they fill; the rest waits for the end.
    return m_state == State::Writing ? WM_OK : Fail(WM_INVALID_STATE, "the writer is not writing");
}

WMStatus CWMWriter::EndWriting() {
    if (m_state != State::Writing)
        return Fail(WM_INVALID_STATE,
                    m_state == State::Broken ? m_error : std::string("the writer is not writing"));
    // A partial frame left over cannot be encoded; it is dropped like any trailing byte.
    m_carry.clear();
    if (const WMStatus status = Drain(); WMFailed(status))
        return status;
    AVFormatContext* muxer = m_codec->Muxer.get();
    if (const int code = Av().av_write_trailer(muxer); code < 0)
        return FailLibrary(code, ("cannot finish \"" + m_path + "\"").c_str());
    if (const int code = Av().avio_closep(&muxer->pb); code < 0)
        return FailLibrary(code, ("cannot close \"" + m_path + "\"").c_str());
    *m_codec = Codec{};

    if (m_attributes.empty()) {
        if (::rename(m_temporary.c_str(), m_path.c_str()) != 0) {
            m_state = State::Broken;
            const std::string error = std::strerror(errno);
            Discard();
            return Fail(WM_FAIL, "cannot rename the file to \"" + m_path + "\": " + error);
        }
    } else {
        CAsfHeader header;
        bool ok = header.Load(m_temporary);
        for (const CAsfHeader::Entry& entry : m_attributes)
            if (ok)
                header.Set(entry.Name, entry.Value);
        if (!ok || !header.Save(m_path)) {
            m_state = State::Broken;
            Discard();
            return Fail(WM_FAIL, header.ErrorText());
        }
    }
    m_temporary.clear();
    m_state = State::Ended;
    return WM_OK;
}

// --- Header attributes -----------------------------------------------------------------------

WMStatus CWMWriter::GetAttributeByName(uint16_t stream, std::u16string_view name,
                                       WMAttribute& out) {
    for (const CAsfHeader::Entry& entry : m_attributes)
        if (stream == 0 && entry.Name == name) {
            out = entry.Value;
            return WM_OK;
        }
    return WM_NOTFOUND;
}

WMStatus CWMWriter::SetAttribute(uint16_t stream, std::u16string_view name,
                                 const WMAttribute& value) {
    if (m_state == State::Ended || m_state == State::Broken)
        return Fail(WM_INVALID_STATE, "the file is written");
    if (stream != 0 || name.empty() || value.Value.size() > 0xFFFF)
        return Fail(WM_INVALIDARG, "this runtime stores named attributes of up to 64 KiB "
                                   "for the whole file (stream 0) only");
    auto it = std::find_if(m_attributes.begin(), m_attributes.end(),
                           [&](const CAsfHeader::Entry& e) { return e.Name == name; });
    if (value.Value.empty()) {
        if (it != m_attributes.end())
            m_attributes.erase(it);
    } else if (it != m_attributes.end()) {
        it->Value = value;
    } else {
        m_attributes.push_back({std::u16string(name), value});
    }
    return WM_OK;
}
