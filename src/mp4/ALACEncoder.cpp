#include "mp4/ALACEncoder.h"

#include "foundation/ZrLibav.h"
#include "foundation/ZrPcm.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace {

// The codec library's functions, set once InitializeEncoder has opened it: everything that calls
// them runs after that.
const ZrLibav& Av() {
    return ZrLibav::Loaded();
}

} // namespace

struct ALACEncoder::Codec {
    ZrAvContextPtr Context;
    // Very short packets go through a second context in verbatim mode: the codec's compressed
    // path overruns its own buffer on them with four or more channels (libavcodec 5.1).
    ZrAvContextPtr Verbatim;
    ZrAvFramePtr Frame;
    ZrAvPacketPtr Packet;
};

ALACEncoder::ALACEncoder(uint32_t frameSize, bool fastMode)
    : m_codec(std::make_unique<Codec>()), m_frameSize(frameSize), m_fastMode(fastMode) {}

ALACEncoder::~ALACEncoder() = default;

int32_t ALACEncoder::Fail(int32_t status, std::string text) {
    m_error = std::move(text);
    return status;
}

int32_t ALACEncoder::FailLibrary(int code, const char* what) {
    return Fail(StatusLibraryError,
                std::string("Apple Lossless encoder: ") + what + ": " + Av().ErrorText(code));
}

namespace {

// Packets shorter than this are coded verbatim (see ALACEncoder::Codec::Verbatim).
constexpr uint32_t ShortestCompressedPacket = 32;

AVCodecContext* OpenContext(const AVCodec* codec, AVSampleFormat format, int bits, int rate,
                            int frameSize, int level, int channels, int& code) {
    AVCodecContext* context = Av().avcodec_alloc_context3(codec);
    if (!context) {
        code = AVERROR(ENOMEM);
        return nullptr;
    }
    context->sample_fmt = format;
    context->bits_per_raw_sample = bits;
    context->sample_rate = rate;
    context->frame_size = frameSize;
    context->compression_level = level;
    // The codec takes only its own layout for each channel count.
    for (const AVChannelLayout* layout = codec->ch_layouts; layout && layout->nb_channels;
         ++layout) {
        if (layout->nb_channels == channels) {
            Av().av_channel_layout_copy(&context->ch_layout, layout);
            break;
        }
    }
    if (context->ch_layout.nb_channels != channels)
        Av().av_channel_layout_default(&context->ch_layout, channels);
    code = Av().avcodec_open2(context, codec, nullptr);
    return context;
}

} // namespace

int32_t ALACEncoder::InitializeEncoder(const AudioFormatDescription& output) {
    m_error.clear();
    if (output.FormatId != AlacFormatId)
        return Fail(StatusParameterError, "Apple Lossless encoder: the output is not ALAC");
    if (output.FormatFlags == AlacFlags32Bit)
        return Fail(StatusParameterError,
                    "Apple Lossless cannot store 32-bit samples without loss in this build; "
                    "16, 20 and 24-bit input is supported");
    if (output.FormatFlags < AlacFlags16Bit || output.FormatFlags > AlacFlags24Bit)
        return Fail(StatusParameterError, "Apple Lossless encoder: unsupported bit depth");
    if (output.ChannelsPerFrame < 1 || output.ChannelsPerFrame > 8)
        return Fail(StatusParameterError, "Apple Lossless supports 1 to 8 channels, not " +
                                              std::to_string(output.ChannelsPerFrame));
    if (output.SampleRate < 1 || output.SampleRate > 4294967295.0)
        return Fail(StatusParameterError, "Apple Lossless encoder: invalid sample rate");
    if (m_frameSize < 1 || m_frameSize > DefaultFrameSize)
        return Fail(StatusParameterError, "Apple Lossless encoder: invalid frame size");

    // Opened when the first Apple Lossless file starts: a host that never writes one never pays
    // for the library's dependencies.
    if (std::string why; !ZrLibav::Open(ZrLibav::Codec, &why))
        return Fail(StatusLibraryError, "Apple Lossless encoder: " + why);
    const AVCodec* codec = Av().avcodec_find_encoder(AV_CODEC_ID_ALAC);
    if (!codec)
        return Fail(StatusLibraryError, "Apple Lossless encoder: libavcodec has no ALAC encoder");
    m_bitDepth = output.FormatFlags == AlacFlags16Bit ? 16 : 24;
    m_sourceBits = output.FormatFlags == AlacFlags16Bit   ? 16
                   : output.FormatFlags == AlacFlags20Bit ? 20
                                                          : 24;
    m_channels = output.ChannelsPerFrame;
    m_sampleRate = static_cast<uint32_t>(output.SampleRate);
    const AVSampleFormat format = m_bitDepth == 16 ? AV_SAMPLE_FMT_S16P : AV_SAMPLE_FMT_S32P;
    int code = 0;
    m_codec->Context.reset(
        OpenContext(codec, format, static_cast<int>(m_bitDepth), static_cast<int>(m_sampleRate),
                    static_cast<int>(m_frameSize), m_fastMode ? 1 : FF_COMPRESSION_DEFAULT,
                    static_cast<int>(m_channels), code));
    if (code < 0)
        return FailLibrary(code, "cannot open the codec");
    m_codec->Verbatim.reset(
        OpenContext(codec, format, static_cast<int>(m_bitDepth), static_cast<int>(m_sampleRate),
                    static_cast<int>(m_frameSize), 0, static_cast<int>(m_channels), code));
    if (code < 0)
        return FailLibrary(code, "cannot open the codec");
    m_codec->Frame.reset(Av().av_frame_alloc());
    m_codec->Packet.reset(Av().av_packet_alloc());
    if (!m_codec->Frame || !m_codec->Packet)
        return Fail(StatusLibraryError, "Apple Lossless encoder: out of memory");
    AVCodecContext* context = m_codec->Context.get();
    // The record we write names these Rice parameters: the codec must use the same.
    const uint8_t* extra = context->extradata;
    if (context->extradata_size < 36 || extra[18] != HistoryMult || extra[19] != InitialHistory ||
        extra[20] != KModifier || static_cast<uint32_t>(context->frame_size) != m_frameSize)
        return Fail(StatusLibraryError, "Apple Lossless encoder: unexpected codec configuration");

    AVFrame* frame = m_codec->Frame.get();
    frame->format = context->sample_fmt;
    frame->nb_samples = static_cast<int>(m_frameSize);
    frame->sample_rate = context->sample_rate;
    if (Av().av_channel_layout_copy(&frame->ch_layout, &context->ch_layout) < 0)
        return Fail(StatusLibraryError, "Apple Lossless encoder: out of memory");
    if (const int code = Av().av_frame_get_buffer(frame, 0); code < 0)
        return FailLibrary(code, "cannot allocate a frame");
    m_maxFrameBytes = 0;
    m_totalBytes = 0;
    m_totalFrames = 0;
    return StatusOk;
}

size_t ALACEncoder::MaxPacketBytes() const {
    return ((m_sourceBits + 10) / 8) * size_t{m_channels} * m_frameSize + 1024;
}

void ALACEncoder::Deinterleave(const uint8_t* in, uint32_t frames, uint32_t containerBytes) {
    AVFrame* frame = m_codec->Frame.get();
    // The codec's layouts end at eight channels.
    const unsigned channels = std::min(m_channels, 8u);
    if (containerBytes == 2) {
        int16_t* planes[8] = {};
        for (unsigned c = 0; c < channels; ++c)
            planes[c] = reinterpret_cast<int16_t*>(frame->extended_data[c]);
        zrpcm::ToInt16Planar(in, frames, channels, planes);
        return;
    }
    // Three bytes per sample (24-bit, and 20-bit in its container): the codec takes 32-bit
    // samples with the significant bits at the top.
    int32_t* planes[8] = {};
    for (unsigned c = 0; c < channels; ++c)
        planes[c] = reinterpret_cast<int32_t*>(frame->extended_data[c]);
    zrpcm::ToInt32Planar(in, frames, channels, zrpcm::Sample::S24, planes, zrpcm::Align::Top);
}

int32_t ALACEncoder::Encode(const AudioFormatDescription& input, const AudioFormatDescription&,
                            const uint8_t* in, uint8_t* out, int32_t* ioNumBytes) {
    AVCodecContext* context = m_codec->Context.get();
    if (!context || !ioNumBytes || !in || !out)
        return Fail(StatusParameterError, "Apple Lossless encoder: not initialised");
    const uint32_t bytesPerFrame = input.BytesPerFrame;
    const uint32_t containerBytes = m_channels ? bytesPerFrame / m_channels : 0;
    if (input.ChannelsPerFrame != m_channels || containerBytes != (m_bitDepth == 16 ? 2u : 3u) ||
        *ioNumBytes <= 0 || static_cast<uint32_t>(*ioNumBytes) % bytesPerFrame != 0)
        return Fail(StatusParameterError, "Apple Lossless encoder: input does not match");
    const uint32_t frames = static_cast<uint32_t>(*ioNumBytes) / bytesPerFrame;
    if (frames > m_frameSize)
        return Fail(StatusParameterError, "Apple Lossless encoder: packet too long");

    AVFrame* frame = m_codec->Frame.get();
    if (const int code = Av().av_frame_make_writable(frame); code < 0)
        return FailLibrary(code, "cannot reuse the frame");
    frame->nb_samples = static_cast<int>(frames);
    frame->pts = static_cast<int64_t>(m_totalFrames);
    Deinterleave(in, frames, containerBytes);
    AVCodecContext* coder = frames < ShortestCompressedPacket ? m_codec->Verbatim.get() : context;
    if (const int code = Av().avcodec_send_frame(coder, frame); code < 0)
        return FailLibrary(code, "cannot encode");
    AVPacket* packet = m_codec->Packet.get();
    if (const int code = Av().avcodec_receive_packet(coder, packet); code < 0)
        return FailLibrary(code, "no packet for the frame");
    const size_t bytes = static_cast<size_t>(packet->size);
    if (bytes > MaxPacketBytes()) {
        Av().av_packet_unref(packet);
        return Fail(StatusLibraryError, "Apple Lossless encoder: packet larger than expected");
    }
    std::memcpy(out, packet->data, bytes);
    Av().av_packet_unref(packet);
    *ioNumBytes = static_cast<int32_t>(bytes);
    m_maxFrameBytes = std::max(m_maxFrameBytes, static_cast<uint32_t>(bytes));
    m_totalBytes += bytes;
    m_totalFrames += frames;
    return StatusOk;
}

int32_t ALACEncoder::Finish() {
    if (!m_codec->Context)
        return Fail(StatusParameterError, "Apple Lossless encoder: not initialised");
    for (AVCodecContext* context : {m_codec->Context.get(), m_codec->Verbatim.get()}) {
        if (const int code = Av().avcodec_send_frame(context, nullptr);
            code < 0 && code != AVERROR_EOF)
            return FailLibrary(code, "cannot finish");
        // The codec has no delay: draining must give nothing.
        AVPacket* packet = m_codec->Packet.get();
        const int code = Av().avcodec_receive_packet(context, packet);
        if (code >= 0) {
            Av().av_packet_unref(packet);
            return Fail(StatusLibraryError, "Apple Lossless encoder: unexpected delayed packet");
        }
        if (code != AVERROR_EOF && code != AVERROR(EAGAIN))
            return FailLibrary(code, "cannot finish");
    }
    return StatusOk;
}

uint32_t ALACEncoder::GetAverageBitRate() const {
    if (!m_totalFrames)
        return 0;
    const double rate = double(m_totalBytes) * 8.0 * m_sampleRate / double(m_totalFrames);
    return rate > 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(rate);
}
