// The plug-in library's exports: the encoder factory and the registration of every encoder in
// the host's settings store.
#include "frame/ZrEncoderFactory.h"
#include "frame/ZrHostLibraries.h"
#include "frame/ZrHostLibraryManager.h"
#include "frame/ZrPluginRegistry.h"
#include "frame/entry/ZrEncoderApp.h"
#include "frame/entry/ZrVendor.h"

#include <array>
#include <memory>

#define ZR_EXPORT extern "C" __attribute__((visibility("default")))

ZR_EXPORT IZrEncoder* CreateEncoder(int32_t index, IZrEncoderCallback* callback);
ZR_EXPORT int32_t DllRegisterServer();
ZR_EXPORT int32_t DllUnregisterServer();

namespace {

using Creator = IZrEncoder* (*)(IZrEncoderCallback*);

constexpr std::array<Creator, ZrEncoderCount> MakeEncoderTable() {
    namespace I = ZrEncoderIndex;
    std::array<Creator, ZrEncoderCount> table{};
    table[I::Ape] = CreateApeEncoder;
    table[I::Ogg] = CreateOggEncoder;
    table[I::Wav] = CreateWavEncoder;
    table[I::Mp3] = CreateMp3Encoder;
    table[I::External] = CreateExternalEncoder;
    table[I::Wma] = CreateWmaEncoder;
    table[I::Flac] = CreateFlacEncoder;
    table[I::Mpc] = CreateMpcEncoder;
    table[I::Wv] = CreateWvEncoder;
    table[I::Aiff] = CreateAiffEncoder;
    table[I::Alac] = CreateAlacEncoder;
    table[I::Dsd] = CreateDsdEncoder;
    return table;
}

// Indices are part of the host contract: they are stored in the host's settings as "Index".
// (An empty row would show as a null encoder in the entry tests, which create every index.)
constexpr std::array<Creator, ZrEncoderCount> EncoderTable = MakeEncoderTable();

ZrString Property(IZrEncoder& encoder, const char16_t* name) {
    return ZrTakeSysString(encoder.GetProperty(name));
}

void RemoveEncoderKey(const ZrString& displayName) {
    GetTools(true);
    // Both openings of the parent: the one registration writes through and the plain one.
    if (ZrRegKeyPtr key = ZrOpenHostKey(ZrPluginRegistry::EncodersKey, 1))
        key->DeleteSubKey(displayName.c_str());
    if (ZrRegKeyPtr key = ZrOpenHostKey(ZrPluginRegistry::EncodersKey, 0))
        key->DeleteSubKey(displayName.c_str());
}

void WriteEncoderKey(IZrEncoder& encoder, const ZrString& displayName, int32_t index) {
    const ZrString extension = Property(encoder, u"Extension");
    namespace R = ZrPluginRegistry;
    ZrRegKeyPtr key = ZrOpenHostKey(R::EncoderKey(displayName), 1);
    if (!key)
        return;
    key->Prepare();
    key->SetInt(R::InterfaceVersionValue, ZrEncoderInterfaceVersion);
    key->SetString(R::CompanyValue, ZrVendorCompany);
    key->SetString(R::PathValue, ZrModuleFileName().c_str());
    key->SetInt(R::IndexValue, index);
    key->SetString(R::VersionValue, ZrPluginVersion);
    key->SetString(R::ExtensionValue, extension.c_str());
    key->SetString(R::UrlValue, ZrVendorUrl);
    key->SetString(R::CopyrightValue, ZrVendorCopyright);
    key->SetString(R::DescriptionValue, ZrPluginDescription);
}

void RegisterEncoders(bool doRegister) {
    std::unique_ptr<IZrEncoder> encoder;
    for (int32_t index = 0; index < ZrEncoderCount; ++index) {
        // Replacing the pointer destroys the previous index's encoder after this one exists.
        encoder.reset(CreateEncoder(index, nullptr));
        if (!encoder)
            continue;
        const ZrString displayName = Property(*encoder, u"Display Name");
        if (displayName.IsEmpty())
            continue;
        if (doRegister)
            WriteEncoderKey(*encoder, displayName, index);
        else
            RemoveEncoderKey(displayName);
    }
}

int32_t RunRegistration(bool doRegister) {
    if (!ZrEncoderApp::Instance().IsReady())
        return 0;
    try {
        RegisterEncoders(doRegister);
    } catch (...) {
        // Nothing crosses the export; what was written stays written.
    }
    return 0;
}

} // namespace

ZR_EXPORT IZrEncoder* CreateEncoder(int32_t index, IZrEncoderCallback* callback) {
    if (index < 0 || index >= ZrEncoderCount || !ZrEncoderApp::Instance().IsReady())
        return nullptr;
    try {
        return EncoderTable[index](callback);
    } catch (...) {
        return nullptr;
    }
}

ZR_EXPORT int32_t DllRegisterServer() {
    return RunRegistration(true);
}

ZR_EXPORT int32_t DllUnregisterServer() {
    return RunRegistration(false);
}
