// zrenc: the command-line host of the encoder plug-ins.
#include "zrenc/Arguments.h"
#include "zrenc/Commands.h"

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // Character classes only: numbers keep their dot whatever the user's locale.
    std::setlocale(LC_CTYPE, "");
    const std::vector<std::string> args(argv + 1, argv + argc);
    const zrenc::ParseResult parsed = zrenc::ParseArguments(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "zrenc: %s\nTry 'zrenc --help' for more information.\n",
                     parsed.error.c_str());
        return zrenc::ExitUsage;
    }
    switch (parsed.options.command) {
    case zrenc::Command::Help:
        std::fputs(zrenc::UsageText().c_str(), stdout);
        return zrenc::ExitOk;
    case zrenc::Command::Version:
        std::fputs(zrenc::VersionText().c_str(), stdout);
        return zrenc::ExitOk;
    default:
        break;
    }
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return zrenc::RunCommand(parsed.options, ec ? std::string(".") : self.parent_path().string());
}
