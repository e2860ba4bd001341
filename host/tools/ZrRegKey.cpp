#include "tools/ZrRegKey.h"

#include "foundation/ZrNumber.h"
#include "tools/ZrSettingsStore.h"

#include <memory>
#include <optional>

namespace {

std::u16string_view NameOf(const char16_t* name) {
    return name ? std::u16string_view(name) : std::u16string_view();
}

ZrSysString ToSysString(std::u16string_view text) {
    return SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
}

} // namespace

ZrRegKey::ZrRegKey(ZrSettingsStore& store, std::vector<std::u16string> path)
    : m_store(store), m_path(std::move(path)) {}

ZrRegKey::~ZrRegKey() {
    m_store.Commit(this);
}

void ZrRegKey::Release() {
    std::unique_ptr<ZrRegKey> self(this);
}

bool ZrRegKey::Create() {
    const bool exists =
        m_store.Read([&](const ZrStoreNode& root) { return root.Find(m_path) != nullptr; });
    if (exists)
        return true;
    return m_store.Stage(this, [path = m_path](ZrStoreNode& root) {
        bool created = false;
        root.FindOrCreate(path, &created);
        return created;
    });
}

void ZrRegKey::Prepare() {
    Create();
}

bool ZrRegKey::SetInt(const char16_t* name, int32_t value) {
    return SetValue(ZrStoreValue{std::u16string(NameOf(name)), true, value, {}});
}

bool ZrRegKey::SetString(const char16_t* name, const char16_t* value) {
    return SetValue(
        ZrStoreValue{std::u16string(NameOf(name)), false, 0, std::u16string(NameOf(value))});
}

bool ZrRegKey::SetValue(ZrStoreValue value) {
    return m_store.Stage(this, [path = m_path, value = std::move(value)](ZrStoreNode& root) {
        return root.FindOrCreate(path).SetValue(value);
    });
}

bool ZrRegKey::DeleteSubKey(const char16_t* name) {
    std::vector<std::u16string> path = m_path;
    for (std::u16string& part : ZrSplitKeyPath(NameOf(name)))
        path.push_back(std::move(part));
    if (path.size() == m_path.size())
        return false; // never the key itself
    bool removed = false;
    const bool staged = m_store.Stage(
        this, [path = std::move(path)](ZrStoreNode& root) { return root.RemoveSubtree(path); },
        &removed);
    return staged && removed;
}

bool ZrRegKey::GetInt(const char16_t* name, int32_t* value) {
    const std::optional<int32_t> found = m_store.Read([&](const ZrStoreNode& root) {
        const ZrStoreNode* node = root.Find(m_path);
        const ZrStoreValue* stored = node ? node->Value(NameOf(name)) : nullptr;
        return stored && stored->IsInteger ? std::optional<int32_t>(stored->Integer) : std::nullopt;
    });
    if (!found)
        return false;
    if (value)
        *value = *found;
    return true;
}

ZrSysString ZrRegKey::GetString(const char16_t* name) {
    return m_store.Read([&](const ZrStoreNode& root) -> ZrSysString {
        const ZrStoreNode* node = root.Find(m_path);
        const ZrStoreValue* stored = node ? node->Value(NameOf(name)) : nullptr;
        if (!stored)
            return nullptr;
        if (stored->IsInteger)
            return ToSysString(ZrFormatInt(stored->Integer));
        return ToSysString(stored->Text);
    });
}

bool ZrRegKey::DeleteValue(const char16_t* name) {
    bool removed = false;
    const bool staged = m_store.Stage(
        this,
        [path = m_path, name = std::u16string(NameOf(name))](ZrStoreNode& root) {
            ZrStoreNode* node = root.Find(path);
            return node && node->RemoveValue(name);
        },
        &removed);
    return staged && removed;
}

ZrSysString ZrRegKey::EnumSubKey(uint32_t index) {
    return m_store.Read([&](const ZrStoreNode& root) -> ZrSysString {
        const ZrStoreNode* node = root.Find(m_path);
        if (!node || index >= node->Children.size())
            return nullptr;
        return ToSysString(node->Children[index].Name);
    });
}

ZrSysString ZrRegKey::EnumValue(uint32_t index) {
    return m_store.Read([&](const ZrStoreNode& root) -> ZrSysString {
        const ZrStoreNode* node = root.Find(m_path);
        if (!node || index >= node->Values.size())
            return nullptr;
        return ToSysString(node->Values[index].Name);
    });
}
