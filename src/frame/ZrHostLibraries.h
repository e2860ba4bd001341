// Access to the host's libraries from inside the plug-in library.
#pragma once

#include <memory>

#include "foundation/ZrString.h"
#include "tessary/ZrTools.h"
#include "tessary/ZrToolsServices.h"

// The host's tools interface. With `load` true the tools library is loaded first when it is not
// loaded yet. Callers that only log or read optional information pass false and skip their work
// when the result is null.
ZrTools* GetTools(bool load);

// The text as the host's translator gives it; the text itself without a host.
ZrString ZrTranslate(const ZrString& text);

// An owned key of the host's settings store; released when the owner goes.
struct ZrRegKeyRelease {
    void operator()(IZrRegKey* key) const noexcept {
        if (key)
            key->Release();
    }
};
using ZrRegKeyPtr = std::unique_ptr<IZrRegKey, ZrRegKeyRelease>;

// OpenHostKey of the tools interface (loading the tools library when needed); null without a
// host or when the key cannot be opened.
ZrRegKeyPtr ZrOpenHostKey(const ZrString& path, int32_t flag);
// Reads through a key; `fallback` when the key is null or the value absent.
int32_t ZrReadInt(IZrRegKey* key, const char16_t* name, int32_t fallback);
ZrString ZrReadString(IZrRegKey* key, const char16_t* name, const ZrString& fallback = {});
// Moves a system string into a ZrString and frees it.
ZrString ZrTakeSysString(ZrSysString text);

// Case-insensitive search and replace-all, through the host's string service when there is one
// (the same rules here without a host). Find returns -1 when `what` is absent.
int32_t ZrFindNoCase(const ZrString& text, const ZrString& what, int32_t start = 0);
ZrString ZrReplaceNoCase(const ZrString& text, const ZrString& what, const ZrString& with);
// Posts through the host's main-thread message service; false (the message is dropped) when the
// host has none.
bool ZrPostMainThreadMessage(IMainThreadMessageManagerCallback* target, uint32_t message,
                             uintptr_t wParam, intptr_t lParam);
