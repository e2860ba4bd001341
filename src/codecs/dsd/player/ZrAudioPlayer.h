// The player layer the DSD engine converts its input through: a sample-format converter that
// delivers interleaved 64-bit floats at another rate, and a processor that works in place on
// each delivered chunk. On this platform both are ours (the converter runs on libsoxr); the
// engine sees them only through these interfaces.
#pragma once

#include "frame/ZrAudioFormat.h"

#include <cstdint>
#include <memory>

// The sink a converter delivers its output to, on the caller's thread, from inside Feed and
// Drain. `data` holds `frames` frames in the converter's output format and may be changed in
// place; it is valid only during the call.
class IZrAudioPlayerFormatConverterOutput {
public:
    virtual void OnConvertedData(void* data, uint32_t frames) = 0;
    // The largest chunk, in frames, the sink takes in one call.
    virtual uint32_t GetMaxFrames() = 0;

protected:
    ~IZrAudioPlayerFormatConverterOutput() = default;
};

class IZrAudioProcessor {
public:
    virtual ~IZrAudioProcessor() = default;
    // `frames` frames in the format given to SetFormat.
    virtual void ProcessInPlace(void* data, uint32_t frames) = 0;
    virtual void Configure(double value) = 0;
    // The sample format the processor will see; a converter given the processor calls it.
    // False for a format the processor cannot work on.
    virtual bool SetFormat(const ZrAudioFormat& format) = 0;
};

class IZrAudioFormatConverter {
public:
    virtual ~IZrAudioFormatConverter() = default;

    // Prepares a conversion from `input` (integer PCM of 8 to 32 bits, or 32/64-bit float; 1 to
    // 8 channels; any rate) to `output` (64-bit float, interleaved, the same channel count, any
    // rate). False for a pair of formats or an option it cannot do. Options:
    //   quality:          0 quick, 1 high (20 bits), 2 very high (28 bits)
    //   dither:           dither integer output (float output is never dithered)
    //   clip:             clamp the output to [-1, +1]
    //   maxChunkFrames:   frames per OnConvertedData call; 0 = what the sink's GetMaxFrames says
    //   channelMask:      speaker mask of the output; 0 = the input's
    //   downmix:          fold the input's channels into fewer (not offered: must be false)
    //   interleaved:      interleaved output (the only layout offered: must be true)
    //   steep:            a steeper anti-imaging/anti-aliasing filter
    //   allowAliasing:    let the filter's transition band alias (not offered: must be false)
    //   processor:        bound to the output format; may be null
    //   applyProcessor:   run the processor on each chunk before delivery (else the sink does)
    //   channelMap:       output channel i takes input channel channelMap[i]; null = in order
    //   bigEndianInput:   integer input bytes in big-endian order
    //   phase:            filter phase response: 0 minimum, 1 intermediate, 2 linear
    //   startFrames:      output frames to discard at the start (beyond the filter delay,
    //                     which is always compensated)
    virtual bool Init(const ZrAudioFormat& input, const ZrAudioFormat& output,
                      IZrAudioPlayerFormatConverterOutput* sink, int32_t quality, bool dither,
                      bool clip, uint32_t maxChunkFrames, uint32_t channelMask, bool downmix,
                      bool interleaved, bool steep, bool allowAliasing,
                      IZrAudioProcessor* processor, bool applyProcessor, const uint8_t* channelMap,
                      bool bigEndianInput, int32_t phase, uint32_t startFrames) = 0;
    // Converts `frames` frames of interleaved input. `flags` and `discontinuity` are reserved
    // (0, false). Output that is ready goes to the sink before the call returns.
    virtual bool Feed(const void* data, uint64_t frames, uint32_t flags, bool discontinuity) = 0;
    // With `endOfStream` true, delivers everything still held; the conversion is then over.
    virtual bool Drain(bool endOfStream) = 0;
};

class IZrAudioPlayer {
public:
    // Processor code of the gain stage: scales every sample by the value given to Configure.
    static constexpr int32_t GainProcessor = -10000;

    // Null for an unknown code.
    virtual std::unique_ptr<IZrAudioProcessor> CreateProcessor(int32_t code, uint32_t flags) = 0;
    virtual std::unique_ptr<IZrAudioFormatConverter> CreateFormatConverter() = 0;

protected:
    ~IZrAudioPlayer() = default;
};

// The process-wide player; never null.
IZrAudioPlayer* ZrGetAudioPlayer();
