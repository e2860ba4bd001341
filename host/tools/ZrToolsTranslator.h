// The host's translator (ZrTools::GetTranslator).
//
// Without a table every text stays as it is. The table of the user's language is the file
// <data folder>/translations/<lang>.txt, where <lang> comes from LC_ALL, LC_MESSAGES or LANG
// (the first that is set): "de_DE.UTF-8" tries de_DE.txt, then de.txt. It is read once, at the
// first translation. Each line is "source<TAB>translation" in UTF-8; "\n", "\r", "\t" and "\\"
// stand for those characters on both sides; blank lines, lines starting with "#" and lines
// without a tab are skipped. A source listed twice takes its last translation.
#pragma once

#include "tessary/ZrTools.h"

#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class ZrToolsTranslator final : public IZrTranslator {
public:
    explicit ZrToolsTranslator(std::string folder) : m_folder(std::move(folder)) {}
    ~ZrToolsTranslator() = default;

    void Translate(ZrString& text) override;

    using Table = std::unordered_map<std::u16string, std::u16string>;
    // "de_DE.UTF-8@euro" -> {"de_DE", "de"}; nothing for "C", "POSIX" or an empty name.
    static std::vector<std::string> LanguageFiles(std::string_view locale);
    static Table ParseTable(std::string_view content);

private:
    void LoadTable();

    const std::string m_folder;
    std::once_flag m_loaded;
    Table m_table;
};
