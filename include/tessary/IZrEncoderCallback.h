// The host's callback interface, handed to CreateEncoder and kept by the encoder.
//
// Only file-based encoders call it, and only on the host's main thread (through the host's
// main-thread message service). The host keeps the object alive for as long as any encoder
// that received it exists.
#pragma once

#include <cstdint>

class IZrEncoder;

class IZrEncoderCallback {
public:
    // The encoder finished its job; `code` is 0.
    virtual void OnEncoderFinished(IZrEncoder* encoder, int32_t code) = 0;
    // The job was stopped or failed; `message` is a NUL-terminated text owned by the caller.
    virtual void OnEncoderFailed(IZrEncoder* encoder, int32_t code, const char16_t* message) = 0;
    // Progress of a running job in percent.
    virtual void OnEncoderProgress(IZrEncoder* encoder, int32_t percent) = 0;

protected:
    // The library never destroys the host's callback object.
    ~IZrEncoderCallback() = default;
};
