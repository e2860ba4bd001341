// The process's one ZrTools object, served by GetZrToolsDLL.
//
// OpenHostKey opens a key of the host's own tree (ZrToolsPaths.h: config/settings.ini). Its
// flag: bit 0 set creates the key when it is missing (null when it cannot be created, for
// example in a read-only store); 0 opens it as it is, and a key that does not exist yet still
// gives an object whose reads find nothing and whose first write creates it. OpenKey serves
// the root HKEY_LOCAL_MACHINE only, from the machine tree, and never creates anything; the
// path there is absolute ("SOFTWARE\...").
//
// Uninitialize does nothing; unbalanced or repeated calls are harmless.
// The user-interface service comes from ui/. Slots 26 to 31 each have a file of their own:
// ZrToolsStrings, ZrMainThreadMessages, ZrNamedLocks, ZrWaitWindow, ZrArchiveUnpacker,
// ZrFileLoader. Initialize makes the calling thread the main thread until someone pumps.
#pragma once

#include "tessary/ZrTools.h"
#include "tools/ZrProductInfo.h"
#include "tools/ZrSettingsStore.h"
#include "tools/ZrToolsTranslator.h"

#include <atomic>

class ZrToolsService final : public ZrTools {
public:
    static ZrToolsService& Instance();

    ZrToolsService();
    ~ZrToolsService() = default;

    bool Initialize(void* context, void* module) override;
    void Uninitialize(void* module) override;
    void OnProductInfoLoaded(intptr_t value) override;
    IZrTranslator* GetTranslator(int32_t flag) override;
    IZrProductInfo* GetProductInfo(bool create) override;
    IZrLogger* GetLogger(uint32_t flags) override;
    IZrUIService* GetUIService(int32_t flag) override;
    IZrRegKey* OpenHostKey(const char16_t* path, int32_t flag) override;
    IZrRegKey* OpenKey(intptr_t root, const char16_t* path) override;
    IZrStringService* GetStringService() override;
    IZrMainThreadMessages* GetMainThreadMessages() override;
    IZrNamedLocks* GetNamedLocks() override;
    IZrWaitWindow* GetWaitWindow() override;
    IZrArchiveUnpacker* GetArchiveUnpacker() override;
    IZrFileLoader* GetFileLoader() override;

private:
    ZrSettingsStore m_hostStore;
    ZrSettingsStore m_machineStore;
    ZrToolsTranslator m_translator;
    ZrProductInfo m_productInfo;
    std::atomic<bool> m_productInfoCreated{false};
    std::atomic<bool> m_productInfoLoaded{false};
};
