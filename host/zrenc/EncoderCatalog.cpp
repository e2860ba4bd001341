#include "zrenc/EncoderCatalog.h"

#include "frame/ZrEncoderFactory.h"
#include "frame/ZrPluginRegistry.h"
#include "loader/CEncoderPlugin.h"
#include "loader/ZrHostTools.h"
#include "tessary/IZrEncoder.h"

#include <charconv>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>

namespace zrenc {

namespace fs = std::filesystem;

const std::array<EncoderKind, ZrEncoderCount> EncoderKinds = {{
    {ZrEncoderIndex::Ape, "ape", true},
    {ZrEncoderIndex::Ogg, "ogg", false},
    {ZrEncoderIndex::Wav, "wav", true},
    {ZrEncoderIndex::Mp3, "mp3", false},
    {ZrEncoderIndex::External, "external", false},
    {ZrEncoderIndex::Wma, "wma", false},
    {ZrEncoderIndex::Flac, "flac", true},
    {ZrEncoderIndex::Mpc, "mpc", false},
    {ZrEncoderIndex::Wv, "wavpack", true},
    {ZrEncoderIndex::Aiff, "aiff", true},
    {ZrEncoderIndex::Alac, "alac", true},
    {ZrEncoderIndex::Dsd, "dsd", false},
}};

const EncoderKind* KindByShortName(const std::string& name) {
    for (const EncoderKind& kind : EncoderKinds)
        if (ZrString::FromUtf8(name).EqualsNoCase(ZrString::FromUtf8(kind.shortName).View()))
            return &kind;
    return nullptr;
}

namespace {

ZrString HostEncodersPath() {
    return ZrPluginRegistry::EncodersKey;
}
ZrString MachineEncodersPath() {
    return ZrString(ZrPluginRegistry::MachinePluginsKey) + u"\\" +
           ZrPluginRegistry::EncodersCategory;
}

bool SameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty())
        return false;
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

void AddSubKeys(IZrRegKey* key, std::vector<ZrString>& names) {
    if (!key)
        return;
    for (uint32_t i = 0;; ++i) {
        ZrSysString name = key->EnumSubKey(i);
        if (!name)
            break;
        ZrString text = ZrTakeSysString(name);
        bool known = false;
        for (const ZrString& n : names)
            known = known || n.EqualsNoCase(text.View());
        if (!known && !text.IsEmpty())
            names.push_back(text);
    }
}

bool KeyNamesPath(ZrRegKeyPtr key, const std::string& path) {
    return key && SameFile(ZrReadString(key.get(), ZrPluginRegistry::PathValue).ToUtf8(), path);
}

} // namespace

bool PluginLibrary::Load(const std::vector<std::string>& folders, std::string& error) {
    std::vector<std::string> candidates;
    if (const char* dir = std::getenv("TESSARY_PROGRAM_DIR"); dir && *dir)
        candidates.push_back((fs::path(dir) / FileName).string());
    for (const std::string& folder : folders)
        candidates.push_back((fs::path(folder) / FileName).string());
    for (const std::string& candidate : candidates) {
        std::error_code ec;
        if (!fs::is_regular_file(candidate, ec))
            continue;
        m_module = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!m_module) {
            const char* why = ::dlerror();
            error = why ? why : "cannot load " + candidate;
            return false;
        }
        m_path = fs::canonical(candidate, ec).string();
        if (ec)
            m_path = candidate;
        return true;
    }
    error = std::string("cannot find ") + FileName + " (looked in $TESSARY_PROGRAM_DIR";
    for (const std::string& folder : folders)
        error += ", " + folder;
    error += ")";
    return false;
}

bool PluginLibrary::Call(const char* name, std::string& error) const {
    auto fn = reinterpret_cast<ZrRegisterServerFn>(m_module ? ::dlsym(m_module, name) : nullptr);
    if (!fn) {
        error = m_path + " has no " + name;
        return false;
    }
    fn();
    return true;
}

bool PluginLibrary::Register(std::string& error) const {
    return Call("DllRegisterServer", error);
}
bool PluginLibrary::Unregister(std::string& error) const {
    return Call("DllUnregisterServer", error);
}

EncoderCatalog::EncoderCatalog(const std::string& shippedPath, const ZrString& profile) {
    ZrRegKeyPtr hostRoot = ZrHostTools::OpenHostKey(HostEncodersPath(), 0);
    ZrRegKeyPtr machineRoot = ZrHostTools::OpenMachineKey(MachineEncodersPath());
    std::vector<ZrString> names;
    AddSubKeys(hostRoot.get(), names);
    AddSubKeys(machineRoot.get(), names);

    for (const ZrString& name : names) {
        const ZrString relative = ZrString(u"\\") + name;
        m_mentioned =
            m_mentioned ||
            KeyNamesPath(ZrHostTools::OpenHostKey(HostEncodersPath() + relative, 0), shippedPath) ||
            KeyNamesPath(ZrHostTools::OpenMachineKey(MachineEncodersPath() + relative),
                         shippedPath);
        CEncoderPlugin plugin(name, profile);
        Registration r;
        r.name = name;
        r.path = plugin.GetPath();
        r.index = plugin.GetIndex();
        r.shipped = SameFile(r.path.ToUtf8(), shippedPath);
        m_registrations.push_back(r);
    }
}

const Registration* EncoderCatalog::ByIndex(int32_t index) const {
    for (const Registration& r : m_registrations)
        if (r.shipped && r.usable() && r.index == index)
            return &r;
    return nullptr;
}

const Registration* EncoderCatalog::Resolve(const std::string& text, std::string& error,
                                            bool& unknown) const {
    unknown = false;
    int32_t index = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), index);
    const bool isNumber = ec == std::errc() && end == text.data() + text.size();
    if (isNumber && (index < 0 || index >= static_cast<int32_t>(EncoderKinds.size()))) {
        error = "there is no encoder " + text + " (the indices run from 0 to 11)";
        unknown = true;
        return nullptr;
    }
    if (!isNumber) {
        if (const EncoderKind* kind = KindByShortName(text))
            index = kind->index;
    }
    if (index >= 0) {
        if (const Registration* r = ByIndex(index))
            return r;
        error = "encoder " + text + " is not registered (zrenc --register registers it)";
        return nullptr;
    }
    const ZrString wanted = ZrString::FromUtf8(text);
    for (const Registration& r : m_registrations) {
        if (!r.name.EqualsNoCase(wanted.View()))
            continue;
        if (r.usable())
            return &r;
        error = "encoder \"" + r.name.ToUtf8() + "\" has no usable registration";
        return nullptr;
    }
    error = "unknown encoder \"" + text + "\" (zrenc --list shows the encoders)";
    unknown = true;
    return nullptr;
}

} // namespace zrenc
