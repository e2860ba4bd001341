// CEncoderPlugin: the host's client for one registered encoder. Given the encoder's display
// name it finds the registration in the host's settings store, loads the registered library,
// creates the encoder through the library's CreateEncoder and gives it its saved settings text.
//
// Registrations live below "Plugins\Encoders\<display name>" in the host's tree, or, for
// libraries registered by an earlier host, below the machine-wide tree; only a key whose
// "IVersion" is 5 counts. The settings text lives in the host's key, in the value "Settings",
// or "Settings (<client name>)" when a client name is given (frame/ZrPluginRegistry.h).
//
// Built into the plug-in library and, as the same static library zr_loader, into zrenc.
//
// Not thread-safe: one thread uses an object at a time. Objects on different threads may load
// at once; library loading and CreateEncoder are serialised process-wide.
#pragma once

#include "foundation/ZrString.h"
#include "tessary/IZrEncoder.h"
#include "tessary/IZrEncoderCallback.h"

#include <cstdint>
#include <memory>

class CEncoderPlugin {
public:
    // Reads the registration ("Path" and "Index") at once; loads nothing. `callback` is handed
    // to CreateEncoder; the host keeps it alive for as long as this object.
    CEncoderPlugin(const ZrString& name, const ZrString& clientName,
                   IZrEncoderCallback* callback = nullptr);
    CEncoderPlugin(const CEncoderPlugin&) = delete;
    CEncoderPlugin& operator=(const CEncoderPlugin&) = delete;
    ~CEncoderPlugin();

    // Loads the library, creates the encoder and gives it its settings text. False when an
    // encoder is already held and `force` is false, and when the registration is missing, the
    // library does not load, has no CreateEncoder or creates nothing.
    bool Load(bool force);
    // Keeps `text` for later loads, gives it to the encoder when one is held, and stores it in
    // the host's settings.
    void SaveSettings(const ZrString& text);
    // Loads when needed, then the encoder's property; empty without an encoder.
    ZrString GetProperty(const char16_t* name);

    // The held encoder (null before a successful Load); owned by this object.
    IZrEncoder* GetEncoder() const { return Encoder.get(); }
    const ZrString& GetPath() const { return Path; }
    int32_t GetIndex() const { return Index; }
    // "Settings", or "Settings (<client name>)".
    ZrString SettingsValueName() const;
    // The text that the next Load gives the encoder: the text last saved through this object,
    // else the one kept in the host's settings.
    ZrString StoredSettings() const;

private:
    struct ModuleClose {
        void operator()(void* module) const noexcept;
    };
    using ModulePtr = std::unique_ptr<void, ModuleClose>;

    void Unload();

    ZrString Name;
    ZrString ClientName;
    ZrString Path;
    int32_t Index = 0;
    ZrString SettingsText;
    ModulePtr Module; // declared before Encoder: the encoder's code lives there
    std::unique_ptr<IZrEncoder> Encoder;
    IZrEncoderCallback* m_callback;
};
