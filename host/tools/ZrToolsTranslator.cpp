#include "tools/ZrToolsTranslator.h"

#include "foundation/ZrString.h"
#include "foundation/ZrUtf.h"
#include "tools/ZrToolsFiles.h"
#include "tools/ZrToolsLogger.h"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr size_t MaxTableBytes = 16u << 20;

std::u16string Unescape(std::string_view text) {
    std::string plain;
    plain.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            plain += text[i];
            continue;
        }
        switch (text[++i]) {
        case 'n':
            plain += '\n';
            break;
        case 'r':
            plain += '\r';
            break;
        case 't':
            plain += '\t';
            break;
        case '\\':
            plain += '\\';
            break;
        default:
            plain += '\\';
            plain += text[i];
        }
    }
    return ZrUtf8ToUtf16(plain);
}

const char* LocaleName() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* value = std::getenv(variable); value && *value)
            return value;
    return "";
}

} // namespace

std::vector<std::string> ZrToolsTranslator::LanguageFiles(std::string_view locale) {
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale.empty() || locale == "C" || locale == "POSIX" ||
        locale.find('/') != std::string_view::npos)
        return {};
    std::vector<std::string> files{std::string(locale) + ".txt"};
    if (const size_t underscore = locale.find('_'); underscore != std::string_view::npos)
        files.push_back(std::string(locale.substr(0, underscore)) + ".txt");
    return files;
}

ZrToolsTranslator::Table ZrToolsTranslator::ParseTable(std::string_view content) {
    Table table;
    while (!content.empty()) {
        const size_t end = content.find('\n');
        std::string_view line = content.substr(0, end);
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const size_t tab = line.find('\t');
        if (line.empty() || line.front() == '#' || tab == std::string_view::npos || tab == 0)
            continue;
        table[Unescape(line.substr(0, tab))] = Unescape(line.substr(tab + 1));
    }
    return table;
}

void ZrToolsTranslator::LoadTable() {
    for (const std::string& name : LanguageFiles(LocaleName())) {
        const std::string path = m_folder + "/" + name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        std::string content;
        const bool read = ZrToolsFiles::ReadAll(fd, content, MaxTableBytes);
        ::close(fd);
        if (!read) {
            ZrToolsLog("ZrToolsTranslator", "Cannot read the translations in \"" + path + "\"");
            continue;
        }
        m_table = ParseTable(content);
        ZrToolsLog("ZrToolsTranslator", "Loaded " + std::to_string(m_table.size()) +
                                            " translations from \"" + path + "\"");
        return;
    }
}

void ZrToolsTranslator::Translate(ZrString& text) {
    std::call_once(m_loaded, [this] { LoadTable(); });
    if (m_table.empty())
        return;
    const auto found = m_table.find(std::u16string(text.View()));
    if (found != m_table.end())
        text = std::u16string_view(found->second);
}
