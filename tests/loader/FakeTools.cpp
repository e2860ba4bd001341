#include "loader/FakeTools.h"

#include <memory>

namespace zrtest {

namespace {

class FakeKey final : public IZrRegKey {
public:
    FakeKey(FakeTools& tools, std::u16string path) : m_tools(tools), m_path(std::move(path)) {}

    void Release() override { delete this; }
    void Prepare() override { m_tools.keys[m_path]; }
    bool SetInt(const char16_t* name, int32_t value) override {
        m_tools.keys[m_path][name] = value;
        return true;
    }
    bool SetString(const char16_t* name, const char16_t* value) override {
        m_tools.keys[m_path][name] = std::u16string(value);
        return true;
    }
    bool DeleteSubKey(const char16_t* name) override {
        return m_tools.keys.erase(m_path + u"\\" + name) > 0;
    }
    bool GetInt(const char16_t* name, int32_t* value) override {
        const auto v = m_tools.Read(m_path, name);
        if (!v || !std::holds_alternative<int32_t>(*v))
            return false;
        *value = std::get<int32_t>(*v);
        return true;
    }
    ZrSysString GetString(const char16_t* name) override {
        const auto v = m_tools.Read(m_path, name);
        if (!v || !std::holds_alternative<std::u16string>(*v))
            return nullptr;
        const std::u16string& text = std::get<std::u16string>(*v);
        return SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
    }
    bool DeleteValue(const char16_t* name) override {
        auto key = m_tools.keys.find(m_path);
        return key != m_tools.keys.end() && key->second.erase(name) > 0;
    }
    ZrSysString EnumSubKey(uint32_t index) override {
        const std::u16string prefix = m_path + u"\\";
        for (const auto& [path, values] : m_tools.keys) {
            if (!path.starts_with(prefix) || path.find(u'\\', prefix.size()) != path.npos)
                continue;
            if (index-- == 0)
                return SysAllocString(path.substr(prefix.size()).c_str());
        }
        return nullptr;
    }
    ZrSysString EnumValue(uint32_t) override { return nullptr; }

private:
    FakeTools& m_tools;
    std::u16string m_path;
};

} // namespace

std::optional<FakeTools::Value> FakeTools::Read(const std::u16string& path,
                                                const std::u16string& name) const {
    const auto key = keys.find(path);
    if (key == keys.end())
        return std::nullopt;
    const auto value = key->second.find(name);
    if (value == key->second.end())
        return std::nullopt;
    return value->second;
}

IZrRegKey* FakeTools::OpenHostKey(const char16_t* path, int32_t flag) {
    if (flag & 1)
        keys[path];
    return new FakeKey(*this, path);
}

IZrRegKey* FakeTools::OpenKey(intptr_t root, const char16_t* path) {
    if (root != ZR_HKEY_LOCAL_MACHINE)
        return nullptr;
    return new FakeKey(*this, MachinePath(path));
}

} // namespace zrtest
