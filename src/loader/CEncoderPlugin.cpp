#include "loader/CEncoderPlugin.h"

#include "frame/ZrPluginRegistry.h"
#include "loader/ZrHostTools.h"

#include <dlfcn.h>
#include <mutex>

namespace {

namespace R = ZrPluginRegistry;

// Loading a library and creating its encoder happen one at a time in the process.
std::mutex& LoadLock() {
    static std::mutex lock;
    return lock;
}

bool HasInterfaceVersion(IZrRegKey* key) {
    return key && ZrReadInt(key, R::InterfaceVersionValue, -1) == ZrEncoderInterfaceVersion;
}

// The plug-in's registration key: the host's own, or an earlier host's machine-wide one.
ZrRegKeyPtr OpenPluginKey(const ZrString& category, const ZrString& name) {
    const ZrString relative = ZrString(u"\\") + category + u"\\" + name;
    ZrRegKeyPtr key = ZrHostTools::OpenHostKey(ZrString(R::PluginsKey) + relative, 1);
    if (HasInterfaceVersion(key.get()))
        return key;
    key.reset();
    key = ZrHostTools::OpenMachineKey(ZrString(R::MachinePluginsKey) + relative);
    if (HasInterfaceVersion(key.get()))
        return key;
    return nullptr;
}

} // namespace

void CEncoderPlugin::ModuleClose::operator()(void* module) const noexcept {
    if (module)
        ::dlclose(module);
}

CEncoderPlugin::CEncoderPlugin(const ZrString& name, const ZrString& clientName,
                               IZrEncoderCallback* callback)
    : Name(name), ClientName(clientName), m_callback(callback) {
    if (ZrRegKeyPtr key = OpenPluginKey(R::EncodersCategory, Name)) {
        Path = ZrReadString(key.get(), R::PathValue);
        Index = ZrReadInt(key.get(), R::IndexValue, 0);
    }
}

CEncoderPlugin::~CEncoderPlugin() {
    Unload();
}

void CEncoderPlugin::Unload() {
    Encoder.reset();
    Module.reset();
}

ZrString CEncoderPlugin::SettingsValueName() const {
    return R::SettingsValueName(ClientName);
}

ZrString CEncoderPlugin::StoredSettings() const {
    if (!SettingsText.IsEmpty())
        return SettingsText;
    // The uncompressed-wave encoder of the host's own converter always starts from defaults.
    if (ClientName.IsEmpty() && Name.EqualsNoCase(u"Uncompressed Wave"))
        return {};
    ZrRegKeyPtr key = ZrHostTools::OpenHostKey(R::EncoderKey(Name), 0);
    return ZrReadString(key.get(), SettingsValueName().c_str());
}

bool CEncoderPlugin::Load(bool force) {
    if (Encoder && !force)
        return false;
    Unload();
    {
        std::lock_guard lock(LoadLock());
        if (Path.IsEmpty())
            return false;
        ModulePtr module(::dlopen(Path.ToUtf8().c_str(), RTLD_NOW | RTLD_LOCAL));
        if (!module)
            return false;
        auto create = reinterpret_cast<ZrCreateEncoderFn>(::dlsym(module.get(), "CreateEncoder"));
        if (!create)
            return false;
        Encoder.reset(create(Index, m_callback));
        Module = std::move(module);
    }
    if (!Encoder) {
        Module.reset();
        return false;
    }
    const ZrString text = StoredSettings();
    Encoder->SetProperty(u"Settings", text.c_str());
    return true;
}

void CEncoderPlugin::SaveSettings(const ZrString& text) {
    SettingsText = text;
    if (Encoder)
        Encoder->SetProperty(u"Settings", text.c_str());
    if (ZrRegKeyPtr key = ZrHostTools::OpenHostKey(R::EncoderKey(Name), 0))
        key->SetString(SettingsValueName().c_str(), text.c_str());
}

ZrString CEncoderPlugin::GetProperty(const char16_t* name) {
    Load(false);
    if (!Encoder)
        return {};
    ZrSysString value = Encoder->GetProperty(name);
    return value ? ZrTakeSysString(value) : ZrString();
}
