#include "frame/ZrHostLibraries.h"

// The host-library manager that loads the tools library lands with the plug-in entry point;
// until then there is no host and every service is absent.
ZrTools* GetTools(bool) { return nullptr; }

ZrString ZrTranslate(const ZrString& text) {
    ZrString out(text);
    if (ZrTools* tools = GetTools(false))
        if (IZrTranslator* translator = tools->GetTranslator(1))
            translator->Translate(out);
    return out;
}

ZrRegKeyPtr ZrOpenHostKey(const ZrString& path, int32_t flag) {
    ZrTools* tools = GetTools(true);
    return ZrRegKeyPtr(tools ? tools->OpenHostKey(path.c_str(), flag) : nullptr);
}

int32_t ZrReadInt(IZrRegKey* key, const char16_t* name, int32_t fallback) {
    int32_t value = fallback;
    if (key && key->GetInt(name, &value))
        return value;
    return fallback;
}

ZrString ZrReadString(IZrRegKey* key, const char16_t* name, const ZrString& fallback) {
    if (!key)
        return fallback;
    ZrSysString text = key->GetString(name);
    if (!text)
        return fallback;
    return ZrTakeSysString(text);
}

ZrString ZrTakeSysString(ZrSysString text) {
    ZrString out(text, SysStringLen(text));
    SysFreeString(text);
    return out;
}
