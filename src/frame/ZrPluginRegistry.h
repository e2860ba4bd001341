// The registration contract between the plug-in library and its hosts: where DllRegisterServer
// writes each encoder's key in the host's settings store, the value names it writes, and where
// the host keeps an encoder's settings text. The plug-in's entry, the host-side loader and zrenc
// all spell these names through this header.
#pragma once

#include "foundation/ZrString.h"

namespace ZrPluginRegistry {

// Below the host's tree: one key per encoder, named after its display name.
inline constexpr char16_t PluginsKey[] = u"Plugins";
inline constexpr char16_t EncodersCategory[] = u"Encoders";
inline constexpr char16_t EncodersKey[] = u"Plugins\\Encoders";
// Where an earlier host registered its plug-ins, in the machine tree (category and name follow).
inline constexpr char16_t MachinePluginsKey[] = u"SOFTWARE\\Vantor\\Orrelin\\Plugins";

// The values of an encoder's key, in the order registration writes them.
inline constexpr char16_t InterfaceVersionValue[] = u"IVersion"; // ZrEncoderInterfaceVersion
inline constexpr char16_t CompanyValue[] = u"Company";
inline constexpr char16_t PathValue[] = u"Path";   // the library's full path
inline constexpr char16_t IndexValue[] = u"Index"; // the factory index
inline constexpr char16_t VersionValue[] = u"Version";
inline constexpr char16_t ExtensionValue[] = u"Ext";
inline constexpr char16_t UrlValue[] = u"URL";
inline constexpr char16_t CopyrightValue[] = u"Copyright";
inline constexpr char16_t DescriptionValue[] = u"Description";

// "Plugins\Encoders\<display name>".
inline ZrString EncoderKey(const ZrString& displayName) {
    return ZrString(EncodersKey) + u"\\" + displayName;
}

// The value of an encoder's key that holds its settings text: "Settings", or
// "Settings (<client name>)" for a named feature of the host.
inline ZrString SettingsValueName(const ZrString& clientName) {
    if (clientName.IsEmpty())
        return u"Settings";
    return ZrString(u"Settings (") + clientName + u")";
}

} // namespace ZrPluginRegistry
