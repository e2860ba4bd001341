// A stand-in for the host's tools library that writes every call it receives to the file named
// by ZR_FAKE_TOOLS_LOG, one line per call, so that tests can check what the plug-in asks of the
// host and in which order. Its behaviour is chosen through the environment:
//   ZR_FAKE_TOOLS_ENTRY=null      GetZrToolsDLL serves no interface
//   ZR_FAKE_TOOLS_LOAD=fail:TEXT  product information fails with TEXT
//   ZR_FAKE_TOOLS_LOAD=fail       product information fails without a reason
// Built with ZR_FAKE_WITHOUT_ENTRY it exports no GetZrToolsDLL at all.
#include "tessary/ZrTools.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

std::string Utf8(const char16_t* text) {
    std::string out;
    for (; text && *text; ++text) {
        uint32_t c = *text;
        if (c >= 0xD800 && c < 0xDC00 && text[1] >= 0xDC00 && text[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[1] - 0xDC00);
            ++text;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

ZrSysString Sys(const std::string& ascii) {
    std::u16string wide(ascii.begin(), ascii.end());
    return SysAllocStringLen(wide.data(), static_cast<uint32_t>(wide.size()));
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

void Record(const std::string& line) {
    const std::string path = Env("ZR_FAKE_TOOLS_LOG");
    if (path.empty())
        return;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const std::string text = line + "\n";
    (void)!::write(fd, text.data(), text.size());
    ::close(fd);
}

std::string Pointer(const void* p) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%p", p);
    return buffer;
}

class FakeKey final : public IZrRegKey {
public:
    explicit FakeKey(std::string path) : m_path(std::move(path)) {}
    void Release() override { delete this; }
    void Prepare() override { Record("Prepare " + m_path); }
    bool SetInt(const char16_t* name, int32_t value) override {
        Record("SetInt " + Utf8(name) + "=" + std::to_string(value));
        return true;
    }
    bool SetString(const char16_t* name, const char16_t* value) override {
        Record("SetString " + Utf8(name) + "=" + Utf8(value));
        return true;
    }
    bool DeleteSubKey(const char16_t* name) override {
        Record("DeleteSubKey " + m_path + " " + Utf8(name));
        return true;
    }
    bool GetInt(const char16_t*, int32_t*) override { return false; }
    ZrSysString GetString(const char16_t*) override { return nullptr; }
    bool DeleteValue(const char16_t*) override { return false; }
    ZrSysString EnumSubKey(uint32_t) override { return nullptr; }
    ZrSysString EnumValue(uint32_t) override { return nullptr; }

private:
    std::string m_path;
};

class FakeLogger final : public IZrLogger {
public:
    bool IsEnabled(uint32_t) override { return true; }
    void Write(uint32_t category, const char16_t* scope, const char16_t* text) override {
        Record("Log " + std::to_string(category) + " " + Utf8(scope) + ": " + Utf8(text));
    }
};

class FakeProductInfo final : public IZrProductInfo {
public:
    bool Load(const char16_t* name, ZrSysString* errorText) override {
        Record("Load \"" + Utf8(name) + "\"");
        const std::string mode = Env("ZR_FAKE_TOOLS_LOAD");
        if (mode.rfind("fail", 0) != 0)
            return true;
        if (errorText)
            *errorText = mode.size() > 5 ? Sys(mode.substr(5)) : nullptr;
        return false;
    }
    ZrSysString GetDataFolder() override { return Sys("/nonexistent"); }
    ZrSysString GetDownloadAddress(const char16_t*, const char16_t*, const char16_t*) override {
        return nullptr;
    }
};

class FakeTools final : public ZrTools {
public:
    bool Initialize(void* context, void* module) override {
        Record("Initialize " + Pointer(context) + " " + Pointer(module));
        return true;
    }
    void Uninitialize(void* module) override { Record("Uninitialize " + Pointer(module)); }
    void OnProductInfoLoaded(intptr_t value) override {
        Record("OnProductInfoLoaded " + std::to_string(value));
    }
    IZrTranslator* GetTranslator(int32_t) override { return nullptr; }
    IZrProductInfo* GetProductInfo(bool create) override {
        if (create)
            m_created = true;
        return m_created ? &m_info : nullptr;
    }
    IZrLogger* GetLogger(uint32_t) override { return &m_logger; }
    IZrUIService* GetUIService(int32_t) override { return nullptr; }
    IZrRegKey* OpenHostKey(const char16_t* path, int32_t flag) override {
        Record("OpenHostKey " + Utf8(path) + " " + std::to_string(flag));
        return new FakeKey(Utf8(path));
    }
    IZrRegKey* OpenKey(intptr_t, const char16_t*) override { return nullptr; }
    IZrStringService* GetStringService() override { return nullptr; }
    IZrMainThreadMessages* GetMainThreadMessages() override { return nullptr; }
    IZrNamedLocks* GetNamedLocks() override { return nullptr; }
    IZrWaitWindow* GetWaitWindow() override { return nullptr; }
    IZrArchiveUnpacker* GetArchiveUnpacker() override { return nullptr; }
    IZrFileLoader* GetFileLoader() override { return nullptr; }

private:
    bool m_created = false;
    FakeProductInfo m_info;
    FakeLogger m_logger;
};

} // namespace

#ifndef ZR_FAKE_WITHOUT_ENTRY
extern "C" __attribute__((visibility("default"))) ZrTools* GetZrToolsDLL(int32_t version) {
    Record("GetZrToolsDLL " + std::to_string(version));
    if (Env("ZR_FAKE_TOOLS_ENTRY") == "null")
        return nullptr;
    static FakeTools tools;
    return &tools;
}
#else
// A library that is no tools library: the plug-in must not take it for one.
extern "C" __attribute__((visibility("default"))) int NotTheToolsEntry() {
    return 0;
}
#endif
