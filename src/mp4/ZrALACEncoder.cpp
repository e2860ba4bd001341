#include "mp4/ZrALACEncoder.h"

#include "foundation/ZrByteOrder.h"
#include "foundation/ZrLog.h"
#include "frame/ZrEncoderFactory.h"
#include "tessary/ZrTools.h"

namespace {

uint32_t OutputFlagsFor(uint16_t bits) {
    switch (bits) {
    case 16:
        return AlacFlags16Bit;
    case 20:
        return AlacFlags20Bit;
    case 24:
        return AlacFlags24Bit;
    case 32:
        return AlacFlags32Bit;
    default:
        return 0;
    }
}

// The one speaker layout the format defines for each channel count, and its name.
struct AlacLayout {
    uint32_t mask;
    const char* name;
};
constexpr AlacLayout AlacLayouts[9] = {
    {0, ""},
    {0x4, "mono"},
    {0x3, "stereo"},
    {0x7, "3.0"},
    {0x107, "4.0"},
    {0x37, "5.0 (back)"},
    {0x3F, "5.1 (back)"},
    {0x13F, "6.1 (back)"},
    {0xFF, "7.1 (wide: front centre pair)"},
};

} // namespace

ZrALACEncoder::ZrALACEncoder(IZrEncoderCallback* callback) : ZrEncoderBase(callback) {}

ZrALACEncoder::~ZrALACEncoder() {
    Release();
}

void ZrALACEncoder::Release() {
    m_carryOver.clear();
    m_inputDescription.reset();
    m_outputDescription.reset();
    m_file.reset();
    m_encoder.reset();
}

ZrString& ZrALACEncoder::GetDisplayName(ZrString& out) {
    return out = u"Apple Lossless Audio Codec (ALAC)";
}

ZrString& ZrALACEncoder::GetExtension(ZrString& out) {
    return out = u"m4a";
}

bool ZrALACEncoder::StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) {
    ZrTraceScope scope(u"ZrALACEncoder::StartBufferBased");
    return Guarded(
        scope, [&] { return Start(scope, format, expectedBytes); }, [&] { Release(); });
}

bool ZrALACEncoder::Start(ZrTraceScope& scope, const WAVEFORMATEX* format, int64_t expectedBytes) {
    if (!ZrEncoderBase::StartBufferBased(format, expectedBytes))
        return false;
    m_hostFormat = format;
    Release();
    // Other speakers would be stored as the format's own and played from the wrong places.
    if (Format.ChannelMask != 0 && Format.Channels < std::size(AlacLayouts) &&
        Format.ChannelMask != AlacLayouts[Format.Channels].mask)
        return Fail(scope,
                    ZrString::Format("Apple Lossless has one layout for %u channels, %s; "
                                     "this input's speakers (mask 0x%X) are others",
                                     unsigned{Format.Channels}, AlacLayouts[Format.Channels].name,
                                     unsigned{Format.ChannelMask}));
    m_file = std::make_unique<CMP4File>();
    m_encoder = std::make_unique<ALACEncoder>(FramesPerPacket, false);
    m_inputDescription = std::make_unique<AudioFormatDescription>();
    m_outputDescription = std::make_unique<AudioFormatDescription>();

    if (!m_file->CreateAudioFile(DestinationFilename, format)) {
        const ZrString reason = m_file->ErrorText();
        Release();
        return Fail(scope, reason);
    }

    // 20-bit samples arrive in 3-byte containers: every size counts whole bytes.
    const uint16_t bits = format->wBitsPerSample;
    const uint32_t channels = format->nChannels;
    AudioFormatDescription& in = *m_inputDescription;
    in.SampleRate = format->nSamplesPerSec;
    in.FormatId = LinearPcmFormatId;
    in.FormatFlags = LinearPcmFlagsSignedPacked;
    in.BytesPerPacket = in.BytesPerFrame = (bits + 7u) / 8u * channels;
    in.FramesPerPacket = 1;
    in.ChannelsPerFrame = channels;
    in.BitsPerChannel = bits;
    if (bits < 8 || in.BytesPerFrame == 0) {
        Release();
        return Fail(scope, ZrString::Format("Unsupported input format: %u bits, %u channels", bits,
                                            channels));
    }
    if (!Format.IsIntegerPcm()) {
        Release();
        return Fail(scope, ZrString(u"Apple Lossless encodes integer PCM only; this input is ") +
                               (Format.IsIeeeFloat() ? u"floating point" : u"not PCM"));
    }

    AudioFormatDescription& out = *m_outputDescription;
    out.SampleRate = format->nSamplesPerSec;
    out.FormatId = AlacFormatId;
    out.FormatFlags = OutputFlagsFor(bits);
    out.FramesPerPacket = FramesPerPacket;
    out.ChannelsPerFrame = channels;
    if (out.FormatFlags == 0) {
        Release();
        return Fail(
            scope,
            ZrString::Format(
                "Apple Lossless cannot store %u-bit samples; 16, 20 and 24-bit input is supported",
                bits));
    }

    m_encoder->SetFrameSize(out.FramesPerPacket);
    if (m_encoder->InitializeEncoder(out) != ALACEncoder::StatusOk) {
        const ZrString reason = ZrString::FromUtf8(m_encoder->ErrorText());
        Release();
        return Fail(scope, reason);
    }
    m_packetInputBytes = in.BytesPerFrame * FramesPerPacket;
    m_carryOver.clear();
    m_carryOver.reserve(m_packetInputBytes);
    m_packet.resize(m_encoder->MaxPacketBytes());
    return true;
}

bool ZrALACEncoder::EncodePacket(ZrTraceScope& scope, const uint8_t* pcm, uint32_t bytes,
                                 uint32_t frames) {
    int32_t io = static_cast<int32_t>(bytes);
    if (m_encoder->Encode(*m_inputDescription, *m_outputDescription, pcm, m_packet.data(), &io) !=
        ALACEncoder::StatusOk)
        return Fail(scope, ZrString::FromUtf8(m_encoder->ErrorText()));
    if (!m_file->AddPacket(m_packet.data(), static_cast<uint32_t>(io), frames))
        return Fail(scope, m_file->ErrorText());
    return true;
}

bool ZrALACEncoder::EncodeBuffer(uint8_t* data, uint64_t bytes) {
    ZrTraceScope scope(u"ZrALACEncoder::EncodeBuffer", ZrLogCategoryEncoder, false);
    return Guarded(scope, [&] { return Encode(scope, data, bytes); });
}

bool ZrALACEncoder::Encode(ZrTraceScope& scope, const uint8_t* data, uint64_t bytes) {
    if (!m_file || !m_encoder)
        return Fail(scope, ZrString(u"The encoder was not started"));
    if (!data || bytes == 0)
        return true;
    const uint32_t packetBytes = m_packetInputBytes;
    // Bytes left over from the last call first: they make a packet with the front of this one.
    if (!m_carryOver.empty()) {
        const uint64_t take = std::min<uint64_t>(packetBytes - m_carryOver.size(), bytes);
        m_carryOver.insert(m_carryOver.end(), data, data + take);
        data += take;
        bytes -= take;
        if (m_carryOver.size() < packetBytes)
            return true;
        if (!EncodePacket(scope, m_carryOver.data(), packetBytes, FramesPerPacket))
            return false;
        m_carryOver.clear();
    }
    // Whole packets straight from the host's buffer.
    for (; bytes >= packetBytes; data += packetBytes, bytes -= packetBytes)
        if (!EncodePacket(scope, data, packetBytes, FramesPerPacket))
            return false;
    m_carryOver.insert(m_carryOver.end(), data, data + bytes);
    return true;
}

bool ZrALACEncoder::FinishBufferBased() {
    ZrTraceScope scope(u"ZrALACEncoder::FinishBufferBased");
    return Guarded(scope, [&] { return Finish(scope); });
}

bool ZrALACEncoder::Finish(ZrTraceScope& scope) {
    if (!m_file || !m_encoder)
        return Fail(scope, ZrString(u"The encoder was not started"));

    // The last, short packet.
    const uint32_t frameBytes = m_inputDescription->BytesPerFrame;
    const uint32_t frames = static_cast<uint32_t>(m_carryOver.size() / frameBytes);
    if (m_carryOver.size() % frameBytes)
        scope.Log("Ignoring %u bytes of an incomplete last frame",
                  static_cast<unsigned>(m_carryOver.size() % frameBytes));
    if (frames && !EncodePacket(scope, m_carryOver.data(), frames * frameBytes, frames))
        return false;
    m_carryOver.clear();
    if (m_encoder->Finish() != ALACEncoder::StatusOk)
        return Fail(scope, ZrString::FromUtf8(m_encoder->ErrorText()));

    uint8_t config[CMP4File::ConfigRecordSize] = {};
    zrbytes::StoreBE32(config + 0, m_encoder->GetFrameSize());
    config[4] = 0; // compatible version
    config[5] = static_cast<uint8_t>(m_encoder->GetBitDepth());
    config[6] = ALACEncoder::HistoryMult;
    config[7] = ALACEncoder::InitialHistory;
    config[8] = ALACEncoder::KModifier;
    config[9] = static_cast<uint8_t>(m_encoder->GetChannelCount());
    zrbytes::StoreBE16(config + 10, 255); // maximum run
    zrbytes::StoreBE32(config + 12, m_encoder->GetMaxFrameBytes());
    zrbytes::StoreBE32(config + 16, m_encoder->GetAverageBitRate());
    zrbytes::StoreBE32(config + 20, m_encoder->GetOutputSampleRate());

    const bool saved = m_file->FinishAudioFile(config, m_encoder->GetTotalBytes());
    const ZrString reason = m_file->ErrorText();
    Release();
    scope.SetResult(saved);
    if (!saved)
        return Fail(scope, reason.IsEmpty() ? ZrString(u"Cannot save the M4A file") : reason);
    return true;
}

IZrEncoder* CreateAlacEncoder(IZrEncoderCallback* callback) {
    return new ZrALACEncoder(callback);
}
