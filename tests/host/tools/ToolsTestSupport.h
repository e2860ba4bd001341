// Shared by the tests that load the real libZrTools.so: the library is opened once per test
// process, with TESSARY_HOME pointing at a fresh folder (it is read once per process), and the
// test program itself, run with --probe, drives it in processes of their own.
#pragma once

#include "support/TestSupport.h"
#include "tessary/ZrTools.h"
#include "tessary/ZrToolsServices.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zrtools_test {

namespace fs = std::filesystem;

// The library of this test process; its TESSARY_HOME is Home(). LANG is set to de_DE.UTF-8 and
// Home()/data/translations/de.txt holds TranslationTable before the library is opened.
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

// A system string moved into a std::u16string; a null one is not Present.
struct Text {
    bool Present = false;
    std::u16string Value;
};
Text Take(ZrSysString text);

std::vector<std::u16string> SubKeys(IZrRegKey* key);
std::vector<std::u16string> ValueNames(IZrRegKey* key);

using zrtest::Lines;
using zrtest::ReadText;

// The text's UTF-16 code units as hexadecimal digits, the probe's way of passing texts.
std::string Hex(const std::u16string& text);
std::u16string FromHex(const std::string& hex);

// Runs the probe with `arguments` in a process whose TESSARY_HOME is `home`. Commands, several
// of them separated by "--":
//   set <key> <name> <int:N | text:HEX>   writes a value; prints "true" or "false"
//   get <key> <name>...                   prints "int N", "text HEX" or "absent" per name
//   hammer <key> <prefix> <count>         writes <prefix><i> = i for i < count
//   load                                  product information: "before: null|object", then
//                                         "ok <folder HEX>" or "fail <reason HEX>"
//   log <category> <scope> <text>         one log line; prints "enabled" or "disabled"
//   logmany <count> <length>              <count> lines of <length> characters
//   lock <name HEX> <timeout ms>          named lock: "true" (held until exit) or "false"
//   wait <delay ms> <ms>                  wait window: "shown" or "hidden", then after <ms> or
//                                         the user's cancel "closed" or "cancelled"
zrtest::RunResult Probe(const std::vector<std::string>& arguments, const fs::path& home,
                        const std::vector<std::string>& environment = {});

} // namespace zrtools_test
