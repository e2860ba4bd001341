#include "tools/ZrToolsService.h"

#include "tools/ZrArchiveUnpacker.h"
#include "tools/ZrFileLoader.h"
#include "tools/ZrMainThreadMessages.h"
#include "tools/ZrNamedLocks.h"
#include "tools/ZrNoDestroy.h"
#include "tools/ZrRegKey.h"
#include "tools/ZrToolsLogger.h"
#include "tools/ZrToolsPaths.h"
#include "tools/ZrToolsStrings.h"
#include "tools/ZrWaitWindow.h"
#include "tools/ui/ZrUIServiceImpl.h"

#include <memory>

namespace {

std::u16string_view PathOf(const char16_t* path) {
    return path ? std::u16string_view(path) : std::u16string_view();
}

} // namespace

ZrToolsService& ZrToolsService::Instance() {
    static ZrNoDestroy<ZrToolsService> service;
    return service.Value;
}

// The host's tree is private to the user; the machine tree is readable by everyone.
ZrToolsService::ZrToolsService()
    : m_hostStore(ZrToolsPaths::Get().UserStoreFile, "host", 0600),
      m_machineStore(ZrToolsPaths::Get().MachineStoreFile, "machine", 0644),
      m_translator(ZrToolsPaths::Get().TranslationsFolder()),
      m_productInfo(ZrToolsPaths::Get().DataFolder, m_hostStore) {}

// Nothing here depends on who uses the library: the stores and the log live for the process.
bool ZrToolsService::Initialize(void*, void*) {
    ZrMainThreadMessages::Instance().NoteInitialisingThread();
    return true;
}

void ZrToolsService::Uninitialize(void*) {}

void ZrToolsService::OnProductInfoLoaded(intptr_t) {
    if (!m_productInfoLoaded.exchange(true))
        ZrToolsLog("ZrTools::OnProductInfoLoaded", "Product information loaded");
}

IZrTranslator* ZrToolsService::GetTranslator(int32_t) {
    return &m_translator;
}

IZrProductInfo* ZrToolsService::GetProductInfo(bool create) {
    if (create)
        m_productInfoCreated.store(true);
    return m_productInfoCreated.load() ? &m_productInfo : nullptr;
}

IZrLogger* ZrToolsService::GetLogger(uint32_t) {
    return &ZrToolsLogger::Instance();
}

IZrUIService* ZrToolsService::GetUIService(int32_t) {
    return ZrToolsUIService();
}

IZrRegKey* ZrToolsService::OpenHostKey(const char16_t* path, int32_t flag) {
    auto key = std::make_unique<ZrRegKey>(m_hostStore, ZrSplitKeyPath(PathOf(path)));
    if ((flag & 1) && !key->Create())
        return nullptr;
    return key.release();
}

IZrRegKey* ZrToolsService::OpenKey(intptr_t root, const char16_t* path) {
    if (root != ZR_HKEY_LOCAL_MACHINE)
        return nullptr;
    return std::make_unique<ZrRegKey>(m_machineStore, ZrSplitKeyPath(PathOf(path))).release();
}

// Slots 26 to 31.
IZrStringService* ZrToolsService::GetStringService() {
    return &ZrToolsStrings::Instance();
}
IZrMainThreadMessages* ZrToolsService::GetMainThreadMessages() {
    return &ZrMainThreadMessages::Instance();
}
IZrNamedLocks* ZrToolsService::GetNamedLocks() {
    return &ZrNamedLocks::Instance();
}
IZrWaitWindow* ZrToolsService::GetWaitWindow() {
    return &ZrWaitWindow::Instance();
}
IZrArchiveUnpacker* ZrToolsService::GetArchiveUnpacker() {
    return &ZrArchiveUnpacker::Instance();
}
IZrFileLoader* ZrToolsService::GetFileLoader() {
    return &ZrFileLoader::Instance();
}
