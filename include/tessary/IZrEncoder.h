// The encoder interface: what a host holds for every encoder that CreateEncoder returns.
//
// The order of the virtual operations is a binary contract with hosts; never reorder them.
// A host talks to an encoder almost only through GetProperty and SetProperty. Property names
// and values are NUL-terminated UTF-16 texts; GetProperty returns a system string that the
// caller frees with SysFreeString (SysString.h). Slots 10 and 11 take the library's own string
// type and are meant for the library itself; hosts read "Display Name" and "Extension" instead.
//
// One host thread drives an encoder at a time; only Cancel may come from another thread while
// EncodeFile runs. The host owns the object and destroys it with delete.
#pragma once

#include <cstdint>
#include <vector>

#include "tessary/SysString.h"
#include "tessary/WaveFormat.h"

class ZrString;

class IZrEncoder {
public:
    virtual ~IZrEncoder() = default;                                             // slot 0
    virtual bool EncodeFile() = 0;                                               // slot 1
    virtual bool Cancel() = 0;                                                   // slot 2
    // `format` is a WAVEFORMATEX, or a WAVEFORMATEXTENSIBLE when its tag is 0xFFFE.
    // `expectedBytes` is the PCM byte count the host expects to deliver; 0 or less is unknown.
    virtual bool StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) = 0; // 3
    // Interleaved PCM in the started format. The encoder may modify the buffer in place.
    virtual bool EncodeBuffer(uint8_t* data, uint64_t bytes) = 0;                // slot 4
    virtual bool FinishBufferBased() = 0;                                        // slot 5
    virtual bool Options() = 0;                                                  // slot 6
    virtual bool CheckDependencies() = 0;                                        // slot 7
    // Never null; the caller frees the result with SysFreeString.
    virtual ZrSysString GetProperty(const char16_t* name) = 0;                   // slot 8
    virtual bool SetProperty(const char16_t* name, const char16_t* value) = 0;   // slot 9
    virtual ZrString& GetDisplayName(ZrString& out) = 0;                         // slot 10
    virtual ZrString& GetExtension(ZrString& out) = 0;                           // slot 11
    virtual int32_t GetEstimatedBitrate() = 0;                                   // slot 12
    virtual bool IsWavFileInput() = 0;                                           // slot 13
    virtual bool IsAnyFormatFileInput() = 0;                                     // slot 14
    virtual bool IsBufferInput() = 0;                                            // slot 15
    virtual bool IsStreaming() = 0;                                              // slot 16
    virtual bool IsUncompressedWavOutput() = 0;                                  // slot 17
    virtual void SaveSettings() = 0;                                             // slot 18
    virtual void LoadSettings() = 0;                                             // slot 19
    // 0 = no options, 1 = has options, 2 = must be configured before it can encode.
    virtual int32_t GetConfigurable() = 0;                                       // slot 20
    // Appends the accepted input bit depths; nothing appended means every depth.
    virtual void GetSupportedBitdepths(std::vector<int32_t>& out) = 0;           // slot 21
};

class IZrEncoderCallback;

// The exports of an encoder library, for hosts that look them up with dlsym.
extern "C" {
typedef IZrEncoder* (*ZrCreateEncoderFn)(int32_t index, IZrEncoderCallback* callback);
typedef int32_t (*ZrRegisterServerFn)();
}

inline constexpr int32_t ZrEncoderInterfaceVersion = 5;
