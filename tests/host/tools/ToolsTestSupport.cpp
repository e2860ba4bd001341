#include "ToolsTestSupport.h"

#include "foundation/ZrUtf.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <stdexcept>

namespace zrtools_test {

const char* const TranslationTable =
    "# test table\n"
    "Adding required components...\tFehlende Komponenten werden installiert...\n"
    "Line one\\nLine two\tZeile eins\\nZeile zwei\n"
    "no tab on this line\n"
    "Critical Error\tKritischer Fehler\n";

namespace {

struct Loaded {
    zrtest::TempDir Folder;
    ZrTools* Interface = nullptr;

    Loaded() {
        fs::create_directories(Folder.Path() / "data" / "translations");
        zrtest::WriteFile(Folder.Path() / "data" / "translations" / "de.txt", TranslationTable,
                          std::char_traits<char>::length(TranslationTable));
        ::setenv("TESSARY_HOME", Folder.Path().c_str(), 1);
        ::unsetenv("TESSARY_LOG");
        ::unsetenv("LC_ALL");
        ::unsetenv("LC_MESSAGES");
        ::setenv("LANG", "de_DE.UTF-8", 1);
        void* library = ::dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library)
            throw std::runtime_error(std::string("dlopen: ") + ::dlerror());
        auto entry = reinterpret_cast<ZrGetToolsFn>(::dlsym(library, "GetZrToolsDLL"));
        if (!entry)
            throw std::runtime_error("no GetZrToolsDLL export");
        Interface = entry(ZrToolsVersion);
        if (!Interface || !Interface->Initialize(nullptr, nullptr))
            throw std::runtime_error("GetZrToolsDLL(ZrToolsVersion) failed");
    }
};

Loaded& Library() {
    static Loaded loaded;
    return loaded;
}

} // namespace

ZrTools* Tools() {
    return Library().Interface;
}
const fs::path& Home() {
    return Library().Folder.Path();
}
fs::path LibraryPath() {
    return zrtest::LibDir() / "libZrTools.so";
}

Key HostKey(const std::u16string& path, int32_t flag) {
    return Key(Tools()->OpenHostKey(path.c_str(), flag));
}

Key MachineKey(const std::u16string& path) {
    return Key(Tools()->OpenKey(ZR_HKEY_LOCAL_MACHINE, path.c_str()));
}

Text Take(ZrSysString text) {
    Text out;
    if (text) {
        out.Present = true;
        out.Value.assign(text, SysStringLen(text));
        SysFreeString(text);
    }
    return out;
}

std::vector<std::u16string> SubKeys(IZrRegKey* key) {
    std::vector<std::u16string> names;
    for (uint32_t i = 0;; ++i) {
        Text name = Take(key->EnumSubKey(i));
        if (!name.Present)
            return names;
        names.push_back(name.Value);
    }
}

std::vector<std::u16string> ValueNames(IZrRegKey* key) {
    std::vector<std::u16string> names;
    for (uint32_t i = 0;; ++i) {
        Text name = Take(key->EnumValue(i));
        if (!name.Present)
            return names;
        names.push_back(name.Value);
    }
}

std::string Hex(const std::u16string& text) {
    std::string hex;
    char unit[8];
    for (char16_t c : text) {
        std::snprintf(unit, sizeof unit, "%04X", static_cast<unsigned>(c));
        hex += unit;
    }
    return hex;
}

std::u16string FromHex(const std::string& hex) {
    std::u16string text;
    for (size_t i = 0; i + 4 <= hex.size(); i += 4)
        text += static_cast<char16_t>(std::stoul(hex.substr(i, 4), nullptr, 16));
    return text;
}

std::string Utf8(const std::u16string& text) {
    return ZrUtf16ToUtf8(text);
}
std::u16string Utf16(const std::string& text) {
    return ZrUtf8ToUtf16(text);
}

zrtest::RunResult Probe(const std::vector<std::string>& arguments, const fs::path& home,
                        const std::vector<std::string>& environment) {
    std::vector<std::string> argv{(zrtest::BuildDir() / "tests" / "zrtools_probe").string(),
                                  LibraryPath().string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> env{"TESSARY_HOME=" + home.string(), "TESSARY_LOG=file"};
    env.insert(env.end(), environment.begin(), environment.end());
    return zrtest::Run(argv, env);
}

} // namespace zrtools_test
