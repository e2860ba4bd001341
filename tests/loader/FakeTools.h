// An in-memory stand-in for the host's tools library: a settings store with a host tree and a
// machine tree, and nothing else. Tests hand it to ZrHostTools::Provide.
#pragma once

#include "tessary/ZrTools.h"

#include <map>
#include <optional>
#include <string>
#include <variant>

namespace zrtest {

class FakeTools final : public ZrTools {
public:
    using Value = std::variant<int32_t, std::u16string>;
    using Key = std::map<std::u16string, Value>;
    // Trees by full key path; the machine tree's paths start with "machine:".
    std::map<std::u16string, Key> keys;

    static std::u16string MachinePath(const std::u16string& path) { return u"machine:" + path; }
    std::optional<Value> Read(const std::u16string& path, const std::u16string& name) const;

    bool Initialize(void*, void*) override { return true; }
    void Uninitialize(void*) override {}
    void OnProductInfoLoaded(intptr_t) override {}
    IZrTranslator* GetTranslator(int32_t) override { return nullptr; }
    IZrProductInfo* GetProductInfo(bool) override { return nullptr; }
    IZrLogger* GetLogger(uint32_t) override { return nullptr; }
    IZrUIService* GetUIService(int32_t) override { return nullptr; }
    IZrRegKey* OpenHostKey(const char16_t* path, int32_t flag) override;
    IZrRegKey* OpenKey(intptr_t root, const char16_t* path) override;
    IZrStringService* GetStringService() override { return nullptr; }
    IZrMainThreadMessages* GetMainThreadMessages() override { return nullptr; }
    IZrNamedLocks* GetNamedLocks() override { return nullptr; }
    IZrWaitWindow* GetWaitWindow() override { return nullptr; }
    IZrArchiveUnpacker* GetArchiveUnpacker() override { return nullptr; }
    IZrFileLoader* GetFileLoader() override { return nullptr; }
};

} // namespace zrtest
