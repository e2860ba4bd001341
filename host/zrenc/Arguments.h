// The command line of zrenc: what the user asked for, checked for consistency, with no access
// to the store, the encoders or the files yet.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zrenc {

enum class Command {
    Encode,
    Help,
    Version,
    List,
    Dependencies,
    ShowSettings,
    SaveSettings,
    EditOptions,
    Register,
    Unregister,
};

struct Options {
    Command command = Command::Encode;
    std::string encoder;                    // -e, or the argument of --settings / --set / --options
    std::optional<std::string> runSettings; // -s: a settings text for this run only
    std::string output;                     // -o: the exact output of the one input
    std::string outputFolder;               // -d
    bool force = false;                     // -f
    unsigned jobs = 0;                      // -j; 0 = one per processor
    bool quiet = false;                     // -q
    bool verify = false;                    // --verify
    int64_t corruptSample = -1;             // --debug-corrupt-sample (tests only)
    std::string profile;                    // -p: settings kept under this client name
    std::string settingsText;               // the text of --set
    std::vector<std::string> inputs;
};

struct ParseResult {
    Options options;
    std::string error; // not empty: a usage error, to be shown with a hint at --help
};

// `args` without the program name.
ParseResult ParseArguments(const std::vector<std::string>& args);

std::string UsageText();
std::string VersionText();

} // namespace zrenc
