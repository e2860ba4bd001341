#include "codecs/flac/FlacEncoder.h"

#include "codecs/flac/FlacSettings.h"
#include "foundation/ZrLog.h"
#include "foundation/ZrPcm.h"
#include "frame/ZrEncoderFactory.h"
#include "options/FlacEncoderOptionsWnd.h"
#include "tessary/ZrTools.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

namespace {

static_assert(CFlacEncoder::SliceFrames * CFlacEncoder::MaxChannels * 3 <=
                  CFlacEncoder::StagingBytes,
              "a slice of 24-bit frames must fit the staging buffer");
static_assert(CFlacEncoder::SliceFrames <= CFlacEncoder::ChannelSamples);

// The longest stream STREAMINFO can describe (36 bits of samples).
constexpr uint64_t MaxTotalSamples = (uint64_t{1} << 36) - 1;

// The speakers a decoder assumes for each channel count when the file does not name them.
constexpr uint32_t DefaultMasks[9] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x70F, 0x63F};

const char* YesNo(bool value) {
    return value ? "True" : "False";
}

} // namespace

IZrEncoder* CreateFlacEncoder(IZrEncoderCallback* callback) {
    return new (std::nothrow) CFlacEncoder(callback);
}

CFlacEncoder::CFlacEncoder(IZrEncoderCallback* hostCallback)
    : ZrEncoderBase(hostCallback), m_padding{} {
    ZrTraceScope scope(u"CFlacEncoder::CFlacEncoder");
    m_padding.type = FLAC__METADATA_TYPE_PADDING;
}

CFlacEncoder::~CFlacEncoder() {
    ZrTraceScope scope(u"CFlacEncoder::~CFlacEncoder");
    m_file.Close();
    // The base's destructor would finish an open stream after this object's callbacks are gone;
    // finishing here lets them fail fast on the closed file instead.
    if (is_valid())
        finish();
}

ZrString& CFlacEncoder::GetDisplayName(ZrString& out) {
    out = u"FLAC Encoder";
    return out;
}

ZrString& CFlacEncoder::GetExtension(ZrString& out) {
    out = FlacSettings::Ogg.Get(Settings) ? u"ogg" : u"flac";
    return out;
}

void CFlacEncoder::SaveSettings() {
    for (const ZrIntSetting* setting : FlacSettings::All)
        setting->Save(Settings);
}

ZrString CFlacEncoder::ProcessFailure() {
    // A failed write (a full disk) says what the system said, not the library's state name.
    if (m_writeFailed && m_file.Error() != 0)
        return ZrString::Format("Cannot write to \"%s\": %s", m_file.Path().ToUtf8().c_str(),
                                m_file.ErrorText().ToUtf8().c_str());
    const ::FLAC__StreamEncoderState state = get_state();
    return ZrString::Format("Failed to process data correctly (state: %s)",
                            FLAC__StreamEncoderStateString[state]);
}

// --- Start -----------------------------------------------------------------------------------

bool CFlacEncoder::StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) {
    ZrTraceScope scope(u"CFlacEncoder::StartBufferBased");
    return Guarded(scope, [&] { return Start(scope, format, expectedBytes); });
}

bool CFlacEncoder::Start(ZrTraceScope& scope, const WAVEFORMATEX* format, int64_t expectedBytes) {
    if (!ZrEncoderBase::StartBufferBased(format, expectedBytes))
        return false;

    const uint32_t bits = Format.BitsPerSample;
    if (!Format.IsIntegerPcm() || (bits != 8 && bits != 16 && bits != 24))
        return Fail(scope, u"unsupported wave header");
    // STREAMINFO could hold a zero rate, but no player plays it and seek points need seconds.
    if (Format.SamplesPerSec == 0)
        return Fail(scope, u"unsupported sample rate: 0 Hz");

    // Total-sample estimate from the expected byte count; 0 means unknown.
    uint64_t totalSamples = 0;
    if (expectedBytes > 0) {
        uint64_t bitsPerFrame = uint64_t{Format.BlockAlign} * 8;
        if (bitsPerFrame == 0)
            bitsPerFrame = uint64_t{bits} * Format.Channels;
        if (bitsPerFrame == 0)
            bitsPerFrame = 8;
        // Every candidate is whole bytes, so dividing bytes by bytes cannot overflow.
        totalSamples = static_cast<uint64_t>(expectedBytes) / (bitsPerFrame / 8);
        if (totalSamples > MaxTotalSamples)
            totalSamples = 0;
    }
    scope.Log("Blocks: %llu", static_cast<unsigned long long>(totalSamples));

    const bool configured = Configure(totalSamples, scope);
    const bool withMetadata = AddMetadata(totalSamples, scope);
    if (!configured || !withMetadata)
        return Fail(scope, u"settings error");

    const bool ogg = FlacSettings::Ogg.Get(Settings) != 0;
    // Only the Ogg layer reads its pages back, to rewrite the first ones when it finishes.
    if (!m_file.Open(DestinationFilename, ogg ? ZrFile::Mode::ReadWrite : ZrFile::Mode::Write))
        return Fail(scope, ZrString::Format("Failed to create / open output file:\r\n%s: %s",
                                            DestinationFilename.ToUtf8().c_str(),
                                            m_file.ErrorText().ToUtf8().c_str()));
    m_writeFailed = false;

    scope.Log("Initializing the encoder with the following settings:");
    scope.Log("bits per sample = %u", get_bits_per_sample());
    scope.Log("channel         = %u", get_channels());
    scope.Log("sample rate     = %u", get_sample_rate());
    scope.Log("verify          = %s", YesNo(get_verify()));
    scope.Log("ogg             = %s", YesNo(ogg));

    ::FLAC__StreamEncoderInitStatus status;
    if (ogg) {
        // Encoders started within the same second share a serial number.
        std::srand(static_cast<unsigned>(std::time(nullptr)));
        set_ogg_serial_number(std::rand());
        status = init_ogg();
    } else {
        status = init();
    }
    if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
        return Fail(scope, u"Failed to init");

    for (uint32_t c = 0; c < MaxChannels; ++c)
        m_channels[c] = m_channelData[c];
    m_started = true;
    return true;
}

// Hands the format and the settings to libFLAC. Block size, apodization and every other coding
// parameter come from the compression level's preset.
bool CFlacEncoder::Configure(uint64_t totalSamples, ZrTraceScope& scope) {
    bool ok = is_valid();
    if (ok) {
        // Every setter runs even after one has refused, as each may log its own complaint.
        ok &= set_bits_per_sample(Format.BitsPerSample);
        ok &= set_channels(Format.Channels);
        ok &= set_sample_rate(Format.SamplesPerSec);
        ok &= set_total_samples_estimate(totalSamples);
        ok &= set_streamable_subset(true);
        ok &= set_verify(FlacSettings::Verify.Get(Settings) != 0);
        ok &= set_compression_level(static_cast<uint32_t>(FlacSettings::Quality.Get(Settings)));
    }
    scope.Log(ok ? "Successfully completed Encoder setup" : "WARNING - error in Encoder setup");
    return ok;
}

bool CFlacEncoder::AddMetadata(uint64_t totalSamples, ZrTraceScope& scope) {
    scope.Log("Setting up MetaData blocks");
    uint32_t count = 0;
    bool ok = true;
    if (FlacSettings::AddST.Get(Settings) != 0 && totalSamples != 0) {
        scope.Log("Adding SeekTable");
        ok = m_seekTable.Build(totalSamples, Format.SamplesPerSec);
        m_metadata[count++] = m_seekTable.Block();
    } else {
        scope.Log("Not Adding SeekTable");
    }
    // Common readers take the surround pair of 5 and 6 channels for side speakers, the format
    // for back ones: those counts name theirs even when they are the format's own.
    const uint32_t mask = Format.ChannelMask;
    if (mask != 0 && Format.Channels < std::size(DefaultMasks) &&
        (mask != DefaultMasks[Format.Channels] || Format.Channels == 5 || Format.Channels == 6)) {
        char value[16];
        std::snprintf(value, sizeof value, "0x%04X", mask);
        scope.Log("Adding the channel mask %s", value);
        m_layout = FLAC::Metadata::VorbisComment();
        m_layout.append_comment(
            FLAC::Metadata::VorbisComment::Entry("WAVEFORMATEXTENSIBLE_CHANNEL_MASK", value));
        m_metadata[count++] =
            const_cast<FLAC__StreamMetadata*>(static_cast<const FLAC__StreamMetadata*>(m_layout));
    }
    if (FlacSettings::AddPB.Get(Settings) != 0) {
        scope.Log("    Adding Padding Block");
        m_padding.length = PaddingBytes;
        m_metadata[count++] = &m_padding;
    } else {
        scope.Log("Not Adding Padding Block");
    }
    if (count != 0 && is_valid())
        ok &= set_metadata(m_metadata, count);
    return ok;
}

// --- Encode ----------------------------------------------------------------------------------

bool CFlacEncoder::EncodeBuffer(uint8_t* data, uint64_t bytes) {
    // Silent per buffer: only a failure writes a line.
    ZrTraceScope scope(u"CFlacEncoder::EncodeBuffer", ZrLogCategoryEncoder, false);
    return Guarded(scope, [&] { return Encode(scope, data, bytes); });
}

bool CFlacEncoder::Encode(ZrTraceScope& scope, const uint8_t* data, uint64_t bytes) {
    if (bytes == 0)
        return true;
    if (!m_started)
        return Fail(scope, is_valid() ? ProcessFailure() : ZrString(u"Failed to init"));
    if (!data)
        return Fail(scope, u"Failed to format input samples");

    const uint32_t bits = get_bits_per_sample();
    const uint32_t channels = get_channels();
    const uint64_t bytesPerFrame = uint64_t{(bits + 7) / 8} * channels;
    const uint64_t sliceBytes = SliceFrames * bytesPerFrame;
    for (uint64_t offset = 0; offset < bytes; offset += sliceBytes) {
        const size_t size = static_cast<size_t>(std::min(sliceBytes, bytes - offset));
        std::memcpy(m_staging, data + offset, size);
        // A trailing partial frame is dropped.
        const auto frames = static_cast<uint32_t>(size / bytesPerFrame);
        if (!Deinterleave(frames, channels, bits))
            return Fail(scope, u"Failed to format input samples");
        if (frames != 0 && !process(m_channels, frames))
            return Fail(scope, ProcessFailure());
    }
    return true;
}

// Little-endian interleaved PCM as WAV stores it: 8-bit unsigned, 16- and 24-bit signed.
bool CFlacEncoder::Deinterleave(uint32_t frames, uint32_t channels, uint32_t bits) {
    if (channels > MaxChannels || frames > ChannelSamples)
        return false;
    const uint32_t container = (bits + 7) / 8 * 8;
    zrpcm::Sample sample;
    if (container > 24 || !zrpcm::SampleFor(container, false, sample))
        return false;
    FLAC__int32* planes[MaxChannels] = {};
    for (uint32_t c = 0; c < channels; ++c)
        planes[c] = m_channelData[c];
    zrpcm::ToInt32Planar(m_staging, frames, channels, sample, planes);

    // Samples narrower than their container carry their signal in the high bits.
    const uint32_t pad = container - bits;
    if (pad != 0) {
        const FLAC__int32 padMask = (FLAC__int32{1} << pad) - 1;
        for (uint32_t c = 0; c < channels; ++c)
            for (uint32_t f = 0; f < frames; ++f) {
                if (m_channelData[c][f] & padMask)
                    return false;
                m_channelData[c][f] >>= pad;
            }
    }
    return true;
}

// --- Finish ----------------------------------------------------------------------------------

bool CFlacEncoder::FinishBufferBased() {
    ZrTraceScope scope(u"CFlacEncoder::FinishBufferBased");
    return Guarded(scope, [&] {
        // A stream that failed before was reported by the call that failed; one that fails
        // only now, in its last block, its header or Ogg page rewrite or its close, is not whole.
        const bool healthy = m_started && get_state() == FLAC__STREAM_ENCODER_OK;
        // finish encodes the last partial block, then rewrites STREAMINFO (length, MD5) and the
        // seek table, or the first Ogg pages, through the seek, tell, read and write callbacks.
        const bool finished = !is_valid() || finish();
        m_started = false;
        const bool closed = m_file.Close();
        if (healthy && !finished)
            return Fail(scope, ProcessFailure());
        if (healthy && !closed)
            return Fail(scope, ZrString::Format("Failed to close the output file: %s",
                                                m_file.ErrorText().ToUtf8().c_str()));
        return true;
    });
}

// --- libFLAC callbacks -----------------------------------------------------------------------

::FLAC__StreamEncoderWriteStatus CFlacEncoder::write_callback(const FLAC__byte buffer[],
                                                              size_t bytes, uint32_t, uint32_t) {
    if (m_writeFailed || !m_file.WriteAll(buffer, bytes)) {
        m_writeFailed = true;
        return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

::FLAC__StreamEncoderReadStatus CFlacEncoder::read_callback(FLAC__byte buffer[], size_t* bytes) {
    if (m_writeFailed)
        return FLAC__STREAM_ENCODER_READ_STATUS_ABORT;
    const int64_t got = m_file.Read(buffer, *bytes);
    if (got < 0) {
        m_writeFailed = true;
        return FLAC__STREAM_ENCODER_READ_STATUS_ABORT;
    }
    *bytes = static_cast<size_t>(got);
    return m_file.Tell() == m_file.Size() ? FLAC__STREAM_ENCODER_READ_STATUS_END_OF_STREAM
                                          : FLAC__STREAM_ENCODER_READ_STATUS_CONTINUE;
}

::FLAC__StreamEncoderSeekStatus CFlacEncoder::seek_callback(FLAC__uint64 absoluteByteOffset) {
    if (m_file.Seek(absoluteByteOffset))
        return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
    m_writeFailed = true;
    return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
}

::FLAC__StreamEncoderTellStatus CFlacEncoder::tell_callback(FLAC__uint64* absoluteByteOffset) {
    const int64_t position = m_file.IsOpen() ? m_file.Tell() : -1;
    if (position < 0)
        return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
    *absoluteByteOffset = static_cast<FLAC__uint64>(position);
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

bool CFlacEncoder::Options() {
    ZrTraceScope scope(u"CFlacEncoder::Options");
    return Guarded(scope, [&] { return ZrShowOptionsWindow(ZrEncoderIndex::Flac, *this); });
}
