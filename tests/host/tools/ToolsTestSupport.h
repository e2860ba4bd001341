// Shared by the tests that load the real libZrTools.so: the library is opened once per test
// process, with TESSARY_HOME pointing at a fresh folder (it is read once per process), and the
// probe program runs it in processes of their own.
#pragma once

#include "support/TestSupport.h"
#include "tessary/ZrTools.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zrtools_test {

namespace fs = std::filesystem;

// The library of this test process; its TESSARY_HOME is Home(). LANG is set to de_DE.UTF-8 and
// Home()/data/translations/de.txt holds TranslationTable() before the library is opened.
ZrTools* Tools();
const fs::path& Home();
fs::path LibraryPath();
extern const char* const TranslationTable;

struct KeyRelease {
    void operator()(IZrRegKey* key) const {
        if (key)
            key->Release();
    }
};
using Key = std::unique_ptr<IZrRegKey, KeyRelease>;

Key HostKey(const std::u16string& path, int32_t flag = 0);
Key MachineKey(const std::u16string& path);

// Moves a system string into a std::u16string (null gives nullopt-like "absent" marker).
struct Text {
    bool Present = false;
    std::u16string Value;
};
Text Take(ZrSysString text);

std::vector<std::u16string> SubKeys(IZrRegKey* key);
std::vector<std::u16string> ValueNames(IZrRegKey* key);

// The text's UTF-16 code units as hexadecimal digits, the probe's way of passing texts.
std::string Hex(const std::u16string& text);
std::u16string FromHex(const std::string& hex);
std::string Utf8(const std::u16string& text);
std::u16string Utf16(const std::string& text);

// Runs zrtools_probe with the library and `arguments`; `home` becomes its TESSARY_HOME.
zrtest::RunResult Probe(const std::vector<std::string>& arguments, const fs::path& home,
                        const std::vector<std::string>& environment = {});

} // namespace zrtools_test
