#include "codecs/wavpack/WvEncoder.h"

#include "codecs/wavpack/WvSettings.h"
#include "foundation/ZrFileSystem.h"
#include "foundation/ZrLog.h"
#include "frame/ZrEncoderFactory.h"
#include "options/WvEncoderOptionsWnd.h"

#include <cinttypes>
#include <cstring>
#include <vector>
#include <wavpack/wavpack.h>

namespace {

// The library keeps its samples in 32-bit words and refuses counts beyond 40 bits.
constexpr int64_t MaxLibrarySamples = (int64_t{1} << 40) - 257;
constexpr int64_t UnknownSampleCount = -1;
constexpr size_t BlockHeaderSize = 32;

int32_t ChannelMaskFor(uint32_t channels) {
    if (channels == 1)
        return 4; // front centre
    if (channels == 2)
        return 3; // front left and right
    return static_cast<int32_t>((1u << channels) - 1);
}

} // namespace

IZrEncoder* CreateWvEncoder(IZrEncoderCallback* callback) {
    return new CWvEncoder(callback);
}

void CWvEncoder::ContextCloser::operator()(WavpackContext* context) const {
    WavpackCloseFile(context);
}

CWvEncoder::CWvEncoder(IZrEncoderCallback* callback) : ZrEncoderBase(callback) {
    ZrTraceScope scope(u"CWvEncoder::CWvEncoder");
}

CWvEncoder::~CWvEncoder() {
    ZrTraceScope scope(u"CWvEncoder::~CWvEncoder");
    m_context.reset();
    CloseOutputs();
}

void CWvEncoder::SaveSettings() {
    using namespace WvSettings;
    Compression.Save(Settings);
    CompressionType.Save(Settings);
    ExtraProcessing.Save(Settings);
    TargetBitrate.Save(Settings);
    CorrectionFile.Save(Settings);
}

void CWvEncoder::LoadSettings() {
    using namespace WvSettings;
    if (!IsOneOf(Compression.Get(Settings), QualityValues))
        Compression.Set(Settings, QualityNormal);
    const ZrString type = CompressionType.Get(Settings);
    if (type != TypeLossless && type != TypeHybrid)
        CompressionType.Set(Settings, TypeLossless);
    const int32_t extra = ExtraProcessing.Get(Settings);
    if (extra < 0 || extra > MaxExtraProcessing)
        ExtraProcessing.Set(Settings, 0);
    if (!IsOneOf(TargetBitrate.Get(Settings), BitrateValues))
        TargetBitrate.Set(Settings, TargetBitrate.Default);
    const int32_t correction = CorrectionFile.Get(Settings);
    if (correction != 0 && correction != 1)
        CorrectionFile.Set(Settings, CorrectionFile.Default);
}

int CWvEncoder::WriteBlock(void* id, void* data, int32_t bytes) {
    auto* sink = static_cast<WvOutputSink*>(id);
    if (sink->WriteFailed)
        return false;
    if (!data || bytes <= 0)
        return true;
    if (!sink->File.WriteAll(data, static_cast<size_t>(bytes))) {
        sink->File.Close();
        sink->WriteFailed = true;
        return false;
    }
    if (sink->FirstBlockSize == 0)
        sink->FirstBlockSize = static_cast<uint32_t>(bytes);
    return true;
}

bool CWvEncoder::CheckFormat(const WAVEFORMATEX* format, ZrString& reason) const {
    // The host's own record decides: the descriptor maps unknown tags to PCM and recomputes
    // the block alignment, which would hide exactly what is checked here.
    const uint32_t bits = format->wBitsPerSample;
    bool integer = format->wFormatTag == WAVE_FORMAT_PCM;
    if (format->wFormatTag == WAVE_FORMAT_EXTENSIBLE && format->cbSize >= 22) {
        // The extensible record brings the speaker mask; padded containers are refused as in
        // the plain case.
        const auto& ext = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(*format);
        integer = ext.SubFormat == KSDATAFORMAT_SUBTYPE_PCM &&
                  (ext.Samples.wValidBitsPerSample == 0 || ext.Samples.wValidBitsPerSample == bits);
    }
    const bool plainPcm = integer && (bits == 8 || bits == 16 || bits == 24 || bits == 32) &&
                          format->nBlockAlign == bits / 8 * format->nChannels;
    if (!plainPcm) {
        reason = u"unsupported wave header";
        return false;
    }
    if (format->nChannels == 0 || format->nChannels > MaxChannels) {
        reason = ZrString::Format("unsupported channel count %u: WavPack encoding takes 1 to %u "
                                  "channels",
                                  unsigned{format->nChannels}, unsigned{MaxChannels});
        return false;
    }
    return true;
}

bool CWvEncoder::CreateOutput(WvOutputSink& sink, const ZrString& path, ZrString& reason) {
    sink = WvOutputSink{};
    if (sink.File.Open(path, ZrFile::Mode::ReadWrite))
        return true;
    reason = ZrString::Format("Failed to create / open output file:\r\n%s: %s",
                              path.ToUtf8().c_str(), sink.File.ErrorText().ToUtf8().c_str());
    return false;
}

bool CWvEncoder::CloseOutputs(ZrString& reason) {
    bool closed = true;
    for (WvOutputSink* sink : {&m_correction, &m_main})
        if (!sink->File.Close() && closed) {
            reason =
                ZrString::Format("Failed to close \"%s\": %s", sink->File.Path().ToUtf8().c_str(),
                                 sink->File.ErrorText().ToUtf8().c_str());
            closed = false;
        }
    return closed;
}

void CWvEncoder::CloseOutputs() {
    ZrString ignored;
    CloseOutputs(ignored);
}

void CWvEncoder::DeleteOutputs() {
    CloseOutputs();
    ZrFileSystem::DeleteFile(m_main.File.Path());
    if (m_useCorrectionFile)
        ZrFileSystem::DeleteFile(m_correction.File.Path());
}

bool CWvEncoder::StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) {
    ZrTraceScope scope(u"CWvEncoder::StartBufferBased");
    return Guarded(scope, [&] { return Start(scope, format, expectedBytes); });
}

bool CWvEncoder::Start(ZrTraceScope& scope, const WAVEFORMATEX* format, int64_t expectedBytes) {
    // A new job on the same object: let go of whatever an earlier one left open.
    m_context.reset();
    CloseOutputs();
    m_framesPacked = 0;
    if (!ZrEncoderBase::StartBufferBased(format, expectedBytes))
        return false;

    // Step 1: the input format and what the host expects to deliver.
    const int64_t fileSize = expectedBytes < 1 ? 0 : expectedBytes;
    scope.Log("  m_nFileSize is now %" PRId64, fileSize);
    scope.Log("Passed WaveFormatEx valid");
    ZrString reason;
    if (!CheckFormat(format, reason))
        return Fail(scope, reason);
    m_channels = format->nChannels;
    m_bytesPerSample = (format->wBitsPerSample + 7u) / 8u;
    if (!zrpcm::SampleFor(m_bytesPerSample * 8, false, m_sample))
        m_sample = zrpcm::Sample::S32;
    const int64_t samples = fileSize / (int64_t{m_channels} * m_bytesPerSample);
    scope.Log("nSamples is now %" PRId64, samples);

    // Step 2: the mode and the output files.
    m_hybrid = WvSettings::CompressionType.Get(Settings) == WvSettings::TypeHybrid;
    m_useCorrectionFile = m_hybrid && WvSettings::CorrectionFile.Get(Settings) == 1;
    scope.Log("  Hybrid Format is %s\n", m_hybrid ? "true" : "false (Lossless)");
    if (m_useCorrectionFile)
        scope.Log("    Using Correction File\n");
    if (!CreateOutput(m_main, DestinationFilename, reason))
        return Fail(scope, reason);
    if (m_useCorrectionFile && !CreateOutput(m_correction, DestinationFilename + u"c", reason))
        return Fail(scope, reason);

    // Step 3: the library.
    m_context.reset(WavpackOpenFileOutput(&CWvEncoder::WriteBlock, &m_main,
                                          m_useCorrectionFile ? &m_correction : nullptr));
    if (!m_context) {
        scope.Log("  ERROR - Invalid Wavpack Context\n");
        return false;
    }
    scope.Log("Valid Context obtained.\n");
    if (!Configure(samples)) {
        scope.Log("  ERROR - Failed to set Configuration\n");
        m_context.reset();
        return false;
    }
    scope.Log("Configuration Set succeeded.\n");
    if (!WavpackPackInit(m_context.get())) {
        scope.Log("  ERROR - Failed to Init\n");
        m_context.reset();
        return false;
    }
    scope.Log("Init Succeeded.\n");
    return true;
}

bool CWvEncoder::Configure(int64_t sampleEstimate) {
    using namespace WvSettings;
    WavpackConfig config;
    std::memset(&config, 0, sizeof config);
    config.bits_per_sample = Format.BitsPerSample;
    config.bytes_per_sample = static_cast<int>(m_bytesPerSample);
    config.num_channels = static_cast<int>(m_channels);
    config.sample_rate = static_cast<int32_t>(Format.SamplesPerSec);
    // The input's speakers when it names them, as the wavpack program keeps a WAV file's mask.
    config.channel_mask = Format.ChannelMask != 0 ? static_cast<int32_t>(Format.ChannelMask)
                                                  : ChannelMaskFor(m_channels);

    const int32_t extra = ExtraProcessing.Get(Settings);
    if (extra > 0 && extra <= MaxExtraProcessing) {
        config.flags |= CONFIG_EXTRA_MODE;
        config.xmode = extra;
    }
    // Only the four quality values may reach the flags: any other bit would switch on an
    // unrelated library feature.
    const int32_t quality = Compression.Get(Settings);
    if (IsOneOf(quality, QualityValues))
        config.flags |= static_cast<uint32_t>(quality);
    if (m_hybrid) {
        config.flags |= CONFIG_HYBRID_FLAG | CONFIG_BITRATE_KBPS;
        config.bitrate = static_cast<float>(TargetBitrate.Get(Settings));
    }
    if (m_useCorrectionFile)
        config.flags |= CONFIG_CREATE_WVC;
    // Stream version 0x407, which every decoder reads.
    config.flags |= CONFIG_COMPATIBLE_WRITE;

    // The library takes -1, not 0, for an unknown length (it refuses 0). Either way the real
    // count reaches the file through the first-block rewrite at finish.
    const int64_t total = sampleEstimate > 0 && sampleEstimate <= MaxLibrarySamples
                              ? sampleEstimate
                              : UnknownSampleCount;
    return WavpackSetConfiguration64(m_context.get(), &config, total, nullptr) != 0;
}

void CWvEncoder::ConvertSlice(const uint8_t* in, uint32_t frames) {
    zrpcm::ToInt32(in, size_t{frames} * m_channels, m_sample, m_samples.data());
}

bool CWvEncoder::EncodeBuffer(uint8_t* data, uint64_t bytes) {
    ZrTraceScope scope(u"CWvEncoder::EncodeBuffer");
    return Guarded(scope, [&] { return Encode(scope, data, bytes); });
}

bool CWvEncoder::Encode(ZrTraceScope& scope, const uint8_t* data, uint64_t bytes) {
    if (!m_context)
        return false;
    if (!data)
        return bytes == 0;
    const uint64_t frameBytes = uint64_t{m_bytesPerSample} * m_channels;
    const uint64_t sliceBytes = frameBytes * SliceFrames;
    while (bytes > 0) {
        const uint64_t take = bytes < sliceBytes ? bytes : sliceBytes;
        // A trailing partial frame is dropped.
        const auto frames = static_cast<uint32_t>(take / frameBytes);
        if (frames > 0) {
            ConvertSlice(data, frames);
            if (!WavpackPackSamples(m_context.get(), m_samples.data(), frames)) {
                const ZrString failure = WriteFailure();
                return Fail(scope, failure.IsEmpty() ? ZrString(u"Failed to format input samples")
                                                     : failure);
            }
            m_framesPacked += frames;
        }
        data += take;
        bytes -= take;
    }
    return true;
}

ZrString CWvEncoder::WriteFailure() const {
    for (const WvOutputSink* sink : {&m_main, &m_correction})
        if (sink->File.Error() != 0)
            return ZrString::Format("Cannot write to \"%s\": %s",
                                    sink->File.Path().ToUtf8().c_str(),
                                    sink->File.ErrorText().ToUtf8().c_str());
    return {};
}

bool CWvEncoder::UpdateFirstBlock(WvOutputSink& sink, ZrString& reason) {
    if (sink.FirstBlockSize < BlockHeaderSize)
        return true; // no block, nothing to count
    std::vector<uint8_t> block(sink.FirstBlockSize);
    if (sink.File.ReadAt(block.data(), block.size(), 0) == static_cast<int64_t>(block.size()) &&
        std::memcmp(block.data(), "wvpk", 4) == 0) {
        WavpackUpdateNumSamples(m_context.get(), block.data());
        if (sink.File.WriteAt(block.data(), block.size(), 0) == static_cast<int64_t>(block.size()))
            return true;
    }
    reason = ZrString::Format("Failed to write the sample count into \"%s\": %s",
                              sink.File.Path().ToUtf8().c_str(),
                              sink.File.Error() ? sink.File.ErrorText().ToUtf8().c_str()
                                                : "its first block is not as it was written");
    return false;
}

bool CWvEncoder::FinishBufferBased() {
    ZrTraceScope scope(u"CWvEncoder::FinishBufferBased");
    return Guarded(scope, [&] { return Finish(scope); });
}

bool CWvEncoder::Finish(ZrTraceScope& scope) {
    if (!m_context)
        return false;
    // WavPack decoders open no file without a sample, and nothing was written: leave no empty
    // file behind that would look like a finished one.
    if (m_framesPacked == 0) {
        m_context.reset();
        DeleteOutputs();
        return Fail(scope, u"No audio to encode: a WavPack file needs at least one sample");
    }
    if (!WavpackFlushSamples(m_context.get())) {
        scope.Log("  ERROR - Failed to Flush Samples\n");
        // A full disk is the usual cause; the host gets it as the reason.
        LastError = WriteFailure();
        return false;
    }
    // Without the real count a file whose length was unknown at start says it has none.
    ZrString reason;
    const bool counted = UpdateFirstBlock(m_main, reason) &&
                         (!m_useCorrectionFile || UpdateFirstBlock(m_correction, reason));
    m_context.reset();
    ZrString closeReason;
    const bool closed = CloseOutputs(closeReason);
    if (!counted)
        return Fail(scope, reason);
    if (!closed)
        return Fail(scope, closeReason);
    return true;
}

bool CWvEncoder::Options() {
    ZrTraceScope scope(u"CWvEncoder::Options");
    return Guarded(scope, [&] { return ZrShowOptionsWindow(ZrEncoderIndex::Wv, *this); });
}
