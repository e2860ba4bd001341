// CWvEncoder: WavPack files through libwavpack, lossless or hybrid, in hybrid mode optionally
// with a correction file (".wvc") beside the main file.
//
// The encoder owns both output files and hands the library a block-output callback. At finish
// it reads back the first block of each file, lets the library put the final sample count (and
// the matching RIFF sizes) into it and writes it back in place, so an unknown expected length
// still ends with a correct count.
#pragma once

#include "foundation/ZrFile.h"
#include "foundation/ZrPcm.h"
#include "frame/ZrEncoderBase.h"

#include <array>
#include <cstdint>
#include <memory>

struct WavpackContext;

// Where the library's blocks for one file go. A failed write is sticky: the file is closed at
// once and every later block is refused, so the library stops with an error.
struct WvOutputSink {
    uint32_t FirstBlockSize = 0; // 0 until the first block is written
    bool WriteFailed = false;
    ZrFile File;
};

class CWvEncoder final : public ZrEncoderBase {
public:
    // The sample buffers hold one slice of at most this many frames of at most MaxChannels.
    static constexpr uint32_t MaxChannels = 8;
    static constexpr uint32_t SliceFrames = 2048;

    explicit CWvEncoder(IZrEncoderCallback* callback);
    ~CWvEncoder() override;

    bool StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) override;
    bool EncodeBuffer(uint8_t* data, uint64_t bytes) override;
    bool FinishBufferBased() override;
    bool Options() override;
    ZrString& GetDisplayName(ZrString& out) override { return out = u"WavPack"; }
    ZrString& GetExtension(ZrString& out) override { return out = u"wv"; }
    int32_t GetEstimatedBitrate() override { return 750; }
    void SaveSettings() override;
    void LoadSettings() override;

    // The library's block-output callback; `id` is the WvOutputSink of the main or correction
    // file. Returns nonzero on success.
    static int WriteBlock(void* id, void* data, int32_t bytes);

private:
    struct ContextCloser {
        void operator()(WavpackContext* context) const;
    };

    // The bodies of the slots of the same names.
    bool Start(ZrTraceScope& scope, const WAVEFORMATEX* format, int64_t expectedBytes);
    bool Encode(ZrTraceScope& scope, const uint8_t* data, uint64_t bytes);
    bool Finish(ZrTraceScope& scope);
    bool CheckFormat(const WAVEFORMATEX* format, ZrString& reason) const;
    bool CreateOutput(WvOutputSink& sink, const ZrString& path, ZrString& reason);
    bool Configure(int64_t sampleEstimate);
    void ConvertSlice(const uint8_t* bytes, uint32_t frames);
    // Puts the final sample count into the file's first block; false with the reason when the
    // block cannot be read back or written over.
    bool UpdateFirstBlock(WvOutputSink& sink, ZrString& reason);
    // Closes both files; false with the reason when the system reports a late write error.
    bool CloseOutputs(ZrString& reason);
    // Why a write to the output or correction file failed; empty when none did.
    ZrString WriteFailure() const;
    void CloseOutputs();
    void DeleteOutputs();

    WvOutputSink m_main;
    WvOutputSink m_correction;
    bool m_hybrid = false;
    bool m_useCorrectionFile = false;
    std::unique_ptr<WavpackContext, ContextCloser> m_context;
    uint32_t m_bytesPerSample = 0;
    zrpcm::Sample m_sample = zrpcm::Sample::S16;
    uint32_t m_channels = 0;
    uint64_t m_framesPacked = 0;
    // One slice of interleaved 32-bit samples as the library takes them.
    std::array<int32_t, SliceFrames * MaxChannels> m_samples{};
};
