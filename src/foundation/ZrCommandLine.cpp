#include "foundation/ZrCommandLine.h"

#include "foundation/ZrUtf.h"

namespace {

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

} // namespace

std::vector<std::string> ZrSplitCommandLine(std::u16string_view line) {
    if (const size_t nul = line.find(u'\0'); nul != std::u16string_view::npos)
        line = line.substr(0, nul);
    std::vector<std::string> arguments;
    size_t i = 0;
    for (;;) {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        if (i == line.size())
            return arguments;
        std::u16string argument;
        bool quoted = false;
        while (i < line.size() && (quoted || !IsBlank(line[i]))) {
            size_t backslashes = 0;
            while (i < line.size() && line[i] == u'\\') {
                ++backslashes;
                ++i;
            }
            if (i == line.size() || line[i] != u'"') {
                argument.append(backslashes, u'\\');
                if (backslashes == 0)
                    argument += line[i++];
                continue;
            }
            argument.append(backslashes / 2, u'\\');
            if (backslashes % 2 == 1) {
                argument += u'"';
            } else if (quoted && i + 1 < line.size() && line[i + 1] == u'"') {
                argument += u'"';
                ++i;
            } else {
                quoted = !quoted;
            }
            ++i;
        }
        arguments.push_back(ZrUtf16ToUtf8(argument));
    }
}

std::u16string ZrQuoteArgument(std::u16string_view argument) {
    if (const size_t nul = argument.find(u'\0'); nul != std::u16string_view::npos)
        argument = argument.substr(0, nul);
    if (!argument.empty() && argument.find_first_of(u" \t\"") == std::u16string_view::npos)
        return std::u16string(argument);
    std::u16string token = u"\"";
    size_t backslashes = 0;
    for (const char16_t c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote: there (and before the closing quote) they
        // are doubled.
        token.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
        backslashes = 0;
        token += c;
    }
    token.append(backslashes * 2, u'\\');
    token += u'"';
    return token;
}
