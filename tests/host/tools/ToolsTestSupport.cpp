#include "ToolsTestSupport.h"

#include "foundation/ZrUtf.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace zrtools_test {

const char* const TranslationTable =
    "# test table\n"
    "Adding required components...\tFehlende Komponenten werden installiert...\n"
    "Line one\\nLine two\tZeile eins\\nZeile zwei\n"
    "no tab on this line\n"
    "Critical Error\tKritischer Fehler\n";

namespace {

ZrTools* Open(const fs::path& path) {
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library)
        throw std::runtime_error(std::string("dlopen: ") + ::dlerror());
    auto entry = reinterpret_cast<ZrGetToolsFn>(::dlsym(library, "GetZrToolsDLL"));
    ZrTools* tools = entry ? entry(ZrToolsVersion) : nullptr;
    if (!tools || !tools->Initialize(nullptr, nullptr))
        throw std::runtime_error("no tools interface in " + path.string());
    return tools;
}

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
        Interface = Open(LibraryPath());
    }
};

Loaded& Library() {
    static Loaded loaded;
    return loaded;
}

void PrintValue(IZrRegKey* key, const std::u16string& name) {
    int32_t number = 0;
    if (key && key->GetInt(name.c_str(), &number)) {
        std::printf("int %d\n", number);
        return;
    }
    const Text text = Take(key ? key->GetString(name.c_str()) : nullptr);
    std::printf(text.Present ? "text %s\n" : "absent\n", Hex(text.Value).c_str());
}

int ProbeCommand(ZrTools* tools, const std::vector<std::string>& a) {
    const std::string& command = a[0];
    if (command == "set" && a.size() == 4) {
        Key key(tools->OpenHostKey(ZrUtf8ToUtf16(a[1]).c_str(), 0));
        const bool done =
            a[3].starts_with("int:")
                ? key->SetInt(ZrUtf8ToUtf16(a[2]).c_str(), std::atoi(a[3].c_str() + 4))
                : key->SetString(ZrUtf8ToUtf16(a[2]).c_str(), FromHex(a[3].substr(5)).c_str());
        std::printf("%s\n", done ? "true" : "false");
    } else if (command == "get" && a.size() >= 3) {
        Key key(tools->OpenHostKey(ZrUtf8ToUtf16(a[1]).c_str(), 0));
        for (size_t i = 2; i < a.size(); ++i)
            PrintValue(key.get(), ZrUtf8ToUtf16(a[i]));
    } else if (command == "hammer" && a.size() == 4) {
        // A key object writes when it is released: a new one every ten values keeps the two
        // writing processes interleaved.
        int failures = 0;
        for (int i = 0; i < std::atoi(a[3].c_str()); i += 10) {
            Key key(tools->OpenHostKey(ZrUtf8ToUtf16(a[1]).c_str(), 0));
            for (int j = i; j < std::min(i + 10, std::atoi(a[3].c_str())); ++j)
                failures += !key->SetInt(ZrUtf8ToUtf16(a[2] + std::to_string(j)).c_str(), j);
        }
        std::printf("failures %d\n", failures);
        return failures == 0 ? 0 : 1;
    } else if (command == "load") {
        std::printf("before: %s\n", tools->GetProductInfo(false) ? "object" : "null");
        IZrProductInfo* info = tools->GetProductInfo(true);
        ZrSysString error = nullptr;
        if (info->Load(u"", &error))
            std::printf("ok %s\n", Hex(Take(info->GetDataFolder()).Value).c_str());
        else
            std::printf("fail %s\n", Hex(Take(error).Value).c_str());
    } else if (command == "log" && a.size() == 4) {
        IZrLogger* logger = tools->GetLogger(0);
        const auto category = static_cast<uint32_t>(std::atoi(a[1].c_str()));
        std::printf("%s\n", logger->IsEnabled(category) ? "enabled" : "disabled");
        std::fflush(stdout);
        logger->Write(category, ZrUtf8ToUtf16(a[2]).c_str(), ZrUtf8ToUtf16(a[3]).c_str());
    } else if (command == "logmany" && a.size() == 3) {
        const std::u16string text(static_cast<size_t>(std::atoi(a[2].c_str())), u'x');
        for (int i = std::atoi(a[1].c_str()); i > 0; --i)
            tools->GetLogger(0)->Write(512, u"Probe", text.c_str());
    } else if (command == "lock" && a.size() == 3) {
        // Held until the probe ends.
        const bool held =
            tools->GetNamedLocks()->Acquire(FromHex(a[1]).c_str(), std::atoi(a[2].c_str()), true);
        std::printf("%s\n", held ? "true" : "false");
    } else if (command == "wait" && a.size() == 3) {
        struct Cancel : IZrWaitMessageCallback {
            std::atomic<bool> Called{false};
            void OnWaitCancelled() override { Called = true; }
        } cancel;
        IZrWaitWindow* window = tools->GetWaitWindow();
        const bool shown =
            window->Show(u"Downloading the encoder", std::atoi(a[1].c_str()), 0, &cancel);
        std::printf("%s\n", shown ? "shown" : "hidden");
        std::fflush(stdout);
        for (int ms = 0; ms < std::atoi(a[2].c_str()) && !cancel.Called; ms += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        window->Close();
        std::printf("%s\n", cancel.Called ? "cancelled" : "closed");
    } else {
        std::fprintf(stderr, "unknown command or wrong arguments: %s\n", command.c_str());
        return 2;
    }
    return 0;
}

// The probe: commands separated by "--" run one after the other in this process.
int ProbeMain(int argc, char** argv) {
    ZrTools* tools = Open(LibraryPath());
    int result = 0;
    std::vector<std::string> command;
    for (int i = 0; i <= argc && result == 0; ++i) {
        if (i < argc && std::string(argv[i]) != "--") {
            command.emplace_back(argv[i]);
            continue;
        }
        if (!command.empty())
            result = ProbeCommand(tools, command);
        command.clear();
    }
    tools->Uninitialize(nullptr);
    return result;
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
    for (Text name; (name = Take(key->EnumSubKey(static_cast<uint32_t>(names.size())))).Present;)
        names.push_back(name.Value);
    return names;
}

std::vector<std::u16string> ValueNames(IZrRegKey* key) {
    std::vector<std::u16string> names;
    for (Text name; (name = Take(key->EnumValue(static_cast<uint32_t>(names.size())))).Present;)
        names.push_back(name.Value);
    return names;
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

zrtest::RunResult Probe(const std::vector<std::string>& arguments, const fs::path& home,
                        const std::vector<std::string>& environment) {
    std::vector<std::string> argv{fs::read_symlink("/proc/self/exe").string(), "--probe"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> env{"TESSARY_HOME=" + home.string(), "TESSARY_LOG=file"};
    env.insert(env.end(), environment.begin(), environment.end());
    return zrtest::Run(argv, env);
}

} // namespace zrtools_test

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--probe")
        return zrtools_test::ProbeMain(argc - 2, argv + 2);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
