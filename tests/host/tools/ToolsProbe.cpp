// zrtools_probe: drives libZrTools.so from a process of its own, for the tests that need a
// second process, another environment or several writers at once.
//
//   zrtools_probe <libZrTools.so> <command> [arguments] [-- <command> [arguments]]...
//     set <key> <name> <int:N | text:HEX>     writes a value; prints "true" or "false"
//     get <key> <name>...                     prints "int N", "text HEX" or "absent", one
//                                             line per name
//     getmachine <key> <name>                 the same in the machine tree (OpenKey)
//     create <key>                            OpenHostKey with flag 1; prints "key" or "null"
//     hammer <key> <prefix> <count>           writes <prefix><i> = i for i < count, ten
//                                             values per key object
//     load                                    product information; prints "before: null|object",
//                                             then "ok <folder>" or "fail <reason>"
//     log <category> <scope> <text>           one log line; prints "enabled" or "disabled"
//     logmany <count> <length>                <count> lines of <length> characters
// HEX is the text's UTF-16 code units, four hexadecimal digits each.
#include "tessary/ZrTools.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <vector>

namespace {

std::u16string FromHex(const std::string& hex) {
    std::u16string text;
    for (size_t i = 0; i + 4 <= hex.size(); i += 4)
        text += static_cast<char16_t>(std::strtoul(hex.substr(i, 4).c_str(), nullptr, 16));
    return text;
}

std::string ToHex(const char16_t* text, uint32_t length) {
    std::string hex;
    char unit[8];
    for (uint32_t i = 0; i < length; ++i) {
        std::snprintf(unit, sizeof unit, "%04X", static_cast<unsigned>(text[i]));
        hex += unit;
    }
    return hex;
}

std::u16string Ascii(const char* text) {
    return std::u16string(text, text + std::strlen(text));
}

void PrintValue(IZrRegKey* key, const std::u16string& name) {
    int32_t number = 0;
    if (key && key->GetInt(name.c_str(), &number)) {
        std::printf("int %d\n", number);
        return;
    }
    ZrSysString text = key ? key->GetString(name.c_str()) : nullptr;
    if (!text) {
        std::printf("absent\n");
        return;
    }
    std::printf("text %s\n", ToHex(text, SysStringLen(text)).c_str());
    SysFreeString(text);
}

int Run(ZrTools* tools, int argc, char** argv) {
    const std::string command = argv[2];
    auto arg = [&](int i) { return i < argc ? Ascii(argv[i]) : std::u16string(); };
    if (command == "set" && argc == 6) {
        IZrRegKey* key = tools->OpenHostKey(arg(3).c_str(), 0);
        const std::string value = argv[5];
        bool done = false;
        if (value.rfind("int:", 0) == 0)
            done = key->SetInt(arg(4).c_str(), std::atoi(value.c_str() + 4));
        else
            done = key->SetString(arg(4).c_str(), FromHex(value.substr(5)).c_str());
        key->Release();
        std::printf("%s\n", done ? "true" : "false");
        return 0;
    }
    if ((command == "get" || command == "getmachine") && argc >= 5) {
        IZrRegKey* key = command == "get" ? tools->OpenHostKey(arg(3).c_str(), 0)
                                          : tools->OpenKey(ZR_HKEY_LOCAL_MACHINE, arg(3).c_str());
        for (int i = 4; i < argc; ++i)
            PrintValue(key, arg(i));
        if (key)
            key->Release();
        return 0;
    }
    if (command == "create" && argc == 4) {
        IZrRegKey* key = tools->OpenHostKey(arg(3).c_str(), 1);
        std::printf("%s\n", key ? "key" : "null");
        if (key)
            key->Release();
        return 0;
    }
    if (command == "hammer" && argc == 6) {
        IZrRegKey* key = nullptr;
        const int count = std::atoi(argv[5]);
        int failures = 0;
        for (int i = 0; i < count; ++i) {
            if (i % 10 == 0 && key)
                key->Release();
            if (i % 10 == 0)
                key = tools->OpenHostKey(arg(3).c_str(), 0);
            if (!key->SetInt((arg(4) + Ascii(std::to_string(i).c_str())).c_str(), i))
                ++failures;
        }
        if (key)
            key->Release();
        std::printf("failures %d\n", failures);
        return failures == 0 ? 0 : 1;
    }
    if (command == "load") {
        std::printf("before: %s\n", tools->GetProductInfo(false) ? "object" : "null");
        IZrProductInfo* info = tools->GetProductInfo(true);
        ZrSysString error = nullptr;
        if (info->Load(u"", &error)) {
            ZrSysString folder = info->GetDataFolder();
            std::printf("ok %s\n", ToHex(folder, SysStringLen(folder)).c_str());
            SysFreeString(folder);
        } else {
            std::printf("fail %s\n", error ? ToHex(error, SysStringLen(error)).c_str() : "");
            SysFreeString(error);
        }
        return 0;
    }
    if (command == "log" && argc == 6) {
        IZrLogger* logger = tools->GetLogger(0);
        const uint32_t category = static_cast<uint32_t>(std::atoi(argv[3]));
        std::printf("%s\n", logger->IsEnabled(category) ? "enabled" : "disabled");
        std::fflush(stdout);
        logger->Write(category, arg(4).c_str(), arg(5).c_str());
        return 0;
    }
    if (command == "logmany" && argc == 5) {
        IZrLogger* logger = tools->GetLogger(0);
        const std::u16string text(static_cast<size_t>(std::atoi(argv[4])), u'x');
        for (int i = std::atoi(argv[3]); i > 0; --i)
            logger->Write(512, u"Probe", text.c_str());
        return 0;
    }
    std::fprintf(stderr, "unknown command or wrong arguments: %s\n", command.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: zrtools_probe <libZrTools.so> <command> [arguments]\n");
        return 2;
    }
    void* library = ::dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[1], ::dlerror());
        return 2;
    }
    auto entry = reinterpret_cast<ZrGetToolsFn>(::dlsym(library, "GetZrToolsDLL"));
    ZrTools* tools = entry ? entry(ZrToolsVersion) : nullptr;
    if (!tools || !tools->Initialize(nullptr, nullptr)) {
        std::fprintf(stderr, "no tools interface in %s\n", argv[1]);
        return 2;
    }
    // Commands separated by "--" run one after the other in this process. Each sees the
    // arguments as if it were alone: argv[0..1] are kept in front of it.
    int result = 0;
    for (int start = 2; start < argc && result == 0;) {
        int end = start;
        while (end < argc && std::strcmp(argv[end], "--") != 0)
            ++end;
        std::vector<char*> one{argv[0], argv[1]};
        one.insert(one.end(), argv + start, argv + end);
        result = Run(tools, static_cast<int>(one.size()), one.data());
        start = end + 1;
    }
    tools->Uninitialize(nullptr);
    return result;
}
