#include "tools/ZrProductInfo.h"

#include "foundation/ZrFileSystem.h"
#include "foundation/ZrUtf.h"
#include "tools/ZrSettingsStore.h"
#include "tools/ZrToolsFiles.h"
#include "tools/ZrToolsLogger.h"

namespace {

std::string Utf8(const char16_t* text) {
    return text ? ZrUtf16ToUtf8(std::u16string_view(text)) : std::string();
}

ZrSysString ToSysString(std::string_view utf8) {
    const std::u16string wide = ZrUtf8ToUtf16(utf8);
    return SysAllocStringLen(wide.data(), static_cast<uint32_t>(wide.size()));
}

std::string PercentEncoded(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
    return out;
}

} // namespace

bool ZrProductInfo::Load(const char16_t*, ZrSysString* errorText) {
    if (errorText)
        *errorText = nullptr;
    std::lock_guard<std::mutex> guard(m_lock);
    std::string error;
    if (ZrFileSystem::MakeDirectories(m_dataFolder, &error))
        return true;
    const std::string reason = "Cannot create the data folder \"" + m_dataFolder + "\": " + error;
    ZrToolsLog("ZrProductInfo::Load", reason);
    if (errorText)
        *errorText = ToSysString(reason);
    return false;
}

ZrSysString ZrProductInfo::GetDataFolder() {
    return ToSysString(m_dataFolder);
}

std::string ZrProductInfo::ComposeAddress(std::string_view base, std::string_view package,
                                          std::string_view version, std::string_view archiveType) {
    while (!base.empty() && base.back() == '/')
        base.remove_suffix(1);
    if (base.empty() || package.empty())
        return {};
    std::string address = std::string(base) + "/" + PercentEncoded(package);
    if (!version.empty())
        address += "_v" + PercentEncoded(version);
    if (!archiveType.empty()) {
        if (archiveType.front() != '.')
            address += '.';
        address += PercentEncoded(archiveType);
    }
    return address;
}

ZrSysString ZrProductInfo::GetDownloadAddress(const char16_t* package, const char16_t* version,
                                              const char16_t* archiveType) {
    const std::string base = m_hostStore.Read([](const ZrStoreNode& root) {
        const ZrStoreNode* key = root.Child(u"Dependencies");
        const ZrStoreValue* value = key ? key->Value(u"DownloadBase") : nullptr;
        return value && !value->IsInteger ? ZrUtf16ToUtf8(value->Text) : std::string();
    });
    const std::string address =
        ComposeAddress(base, Utf8(package), Utf8(version), Utf8(archiveType));
    return address.empty() ? nullptr : ToSysString(address);
}
