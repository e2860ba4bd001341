#include "tools/ZrStoreFormat.h"

#include "foundation/ZrUtf.h"

#include <algorithm>
#include <cwctype>
#include <locale.h>
#include <utility>

namespace {

bool IsSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}
bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}
bool IsControl(char16_t c) {
    return c < 0x20 || c == 0x7F;
}
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Case folding through a fixed locale, so that two processes with different locales agree on
// which names are the same.
char16_t Fold(char16_t c) {
    if (c < 0x80)
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 0x20) : c;
    if (IsSurrogate(c))
        return c;
    static const locale_t fixed = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    if (!fixed)
        return c;
    const wint_t lowered = ::towlower_l(static_cast<wint_t>(c), fixed);
    return lowered <= 0xFFFF ? static_cast<char16_t>(lowered) : c;
}

void AppendHex(std::string& out, uint32_t value, int digits) {
    static const char hex[] = "0123456789ABCDEF";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out += hex[(value >> shift) & 0xF];
}

bool HasUnpairedSurrogate(std::u16string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]))
            ++i;
        else if (IsSurrogate(text[i]))
            return true;
    }
    return false;
}

// Whether a name or key path has to be written in quotes to read back as it is.
bool NeedsQuotes(std::u16string_view text, bool isKeyPath) {
    if (text.empty())
        return !isKeyPath;
    if (text.front() == u' ' || text.front() == u'\t' || text.back() == u' ' ||
        text.back() == u'\t' || text.front() == u'"')
        return true;
    if (!isKeyPath && (text.front() == u'[' || text.front() == u';' || text.front() == u'#'))
        return true;
    for (char16_t c : text)
        if (IsControl(c) || (!isKeyPath && c == u'='))
            return true;
    return HasUnpairedSurrogate(text);
}

void AppendQuoted(std::string& out, std::u16string_view text) {
    out += '"';
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        switch (c) {
        case u'\\':
            out += "\\\\";
            continue;
        case u'"':
            out += "\\\"";
            continue;
        case u'\n':
            out += "\\n";
            continue;
        case u'\r':
            out += "\\r";
            continue;
        case u'\t':
            out += "\\t";
            continue;
        default:
            break;
        }
        if (IsControl(c)) {
            out += "\\x";
            AppendHex(out, c, 2);
        } else if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            out += ZrUtf16ToUtf8(text.substr(i, 2));
            ++i;
        } else if (IsSurrogate(c)) {
            out += "\\u";
            AppendHex(out, c, 4);
        } else {
            ZrAppendCodeUnitUtf8(out, c);
        }
    }
    out += '"';
}

void AppendName(std::string& out, std::u16string_view text, bool isKeyPath) {
    if (NeedsQuotes(text, isKeyPath))
        AppendQuoted(out, text);
    else
        out += ZrUtf16ToUtf8(text);
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads a quoted text starting at text[0] == '"'. Returns the number of bytes taken (through
// the closing quote), or 0 with `error` set.
size_t ReadQuoted(std::string_view text, std::u16string& out, std::string& error) {
    std::string run; // plain UTF-8 between escapes
    auto flush = [&] {
        out += ZrUtf8ToUtf16(run);
        run.clear();
    };
    for (size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            flush();
            return i + 1;
        }
        if (c != '\\') {
            run += c;
            continue;
        }
        if (++i >= text.size())
            break;
        const char e = text[i];
        char16_t unit = 0;
        switch (e) {
        case '\\':
            unit = u'\\';
            break;
        case '"':
            unit = u'"';
            break;
        case 'n':
            unit = u'\n';
            break;
        case 'r':
            unit = u'\r';
            break;
        case 't':
            unit = u'\t';
            break;
        case 'x':
        case 'u': {
            const size_t digits = e == 'x' ? 2 : 4;
            if (i + digits >= text.size()) {
                error = "escape cut short";
                return 0;
            }
            uint32_t value = 0;
            for (size_t d = 1; d <= digits; ++d) {
                const int h = HexDigit(text[i + d]);
                if (h < 0) {
                    error = "bad hexadecimal escape";
                    return 0;
                }
                value = value * 16 + static_cast<uint32_t>(h);
            }
            if (value == 0) {
                error = "a NUL character cannot be stored";
                return 0;
            }
            unit = static_cast<char16_t>(value);
            i += digits;
            break;
        }
        default:
            error = std::string("unknown escape \\") + e;
            return 0;
        }
        flush();
        out += unit;
    }
    error = "missing closing quote";
    return 0;
}

bool ParseInteger(std::string_view text, int32_t& value) {
    const bool negative = !text.empty() && text.front() == '-';
    if (negative)
        text.remove_prefix(1);
    if (text.empty() || text.size() > 10)
        return false;
    int64_t magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        magnitude = magnitude * 10 + (c - '0');
    }
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue < INT32_MIN || signedValue > INT32_MAX)
        return false;
    value = static_cast<int32_t>(signedValue);
    return true;
}

bool IsValidUtf8(std::string_view text) {
    return ZrIsValidUtf8(text);
}

// A name or key path: quoted, or bare up to the end of `text`.
bool ReadName(std::string_view text, std::u16string& name, std::string& error) {
    text = Trim(text);
    if (text.empty() || text.front() != '"') {
        name = ZrUtf8ToUtf16(text);
        return true;
    }
    const size_t used = ReadQuoted(text, name, error);
    if (used == 0)
        return false;
    if (!Trim(text.substr(used)).empty()) {
        error = "text after the closing quote";
        return false;
    }
    return true;
}

class Parser {
public:
    explicit Parser(ZrStoreParseResult& result) : m_result(result) {}

    void Line(std::string_view line, size_t number) {
        std::string error;
        if (!ParseLine(line, error))
            m_result.Problems.push_back("line " + std::to_string(number) + ": " + error);
    }

private:
    bool ParseLine(std::string_view line, std::string& error) {
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = Trim(line);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            return true;
        if (!IsValidUtf8(line)) {
            error = "not valid UTF-8";
            return false;
        }
        // Names and texts cross the interfaces NUL-terminated, so none can hold a NUL.
        if (line.find('\0') != std::string_view::npos) {
            error = "a NUL character cannot be stored";
            return false;
        }
        if (line.front() == '[')
            return KeyLine(line, error);
        if (!m_current) {
            error = "value outside any key";
            return false;
        }
        return ValueLine(line, error);
    }

    bool KeyLine(std::string_view line, std::string& error) {
        m_current = nullptr;
        if (line.back() != ']' || line.size() < 2) {
            error = "a key line must end with \"]\"";
            return false;
        }
        std::u16string path;
        if (!ReadName(line.substr(1, line.size() - 2), path, error))
            return false;
        m_current = &m_result.Root.FindOrCreate(ZrSplitKeyPath(path));
        return true;
    }

    bool ValueLine(std::string_view line, std::string& error) {
        ZrStoreValue value;
        std::string_view rest;
        if (line.front() == '"') {
            const size_t used = ReadQuoted(line, value.Name, error);
            if (used == 0)
                return false;
            rest = Trim(line.substr(used));
            if (rest.empty() || rest.front() != '=') {
                error = "missing \"=\" after the name";
                return false;
            }
            rest.remove_prefix(1);
        } else {
            const size_t equals = line.find('=');
            if (equals == std::string_view::npos) {
                error = "missing \"=\"";
                return false;
            }
            const std::string_view name = Trim(line.substr(0, equals));
            if (name.empty()) {
                error = "missing name before \"=\"";
                return false;
            }
            value.Name = ZrUtf8ToUtf16(name);
            rest = line.substr(equals + 1);
        }
        rest = Trim(rest);
        if (!rest.empty() && rest.front() == '"') {
            const size_t used = ReadQuoted(rest, value.Text, error);
            if (used == 0)
                return false;
            if (!Trim(rest.substr(used)).empty()) {
                error = "text after the closing quote";
                return false;
            }
        } else if (ParseInteger(rest, value.Integer)) {
            value.IsInteger = true;
        } else {
            error = "a value is a decimal integer or a quoted text";
            return false;
        }
        m_current->SetValue(std::move(value));
        return true;
    }

    ZrStoreParseResult& m_result;
    ZrStoreNode* m_current = nullptr;
};

void FormatNode(std::string& out, const ZrStoreNode& node, std::u16string& path, bool isRoot) {
    if (!node.Values.empty() || (node.Children.empty() && !isRoot)) {
        if (!out.empty())
            out += '\n';
        out += '[';
        AppendName(out, path, true);
        out += "]\n";
        for (const ZrStoreValue& value : node.Values) {
            AppendName(out, value.Name, false);
            out += " = ";
            if (value.IsInteger)
                out += std::to_string(value.Integer);
            else
                AppendQuoted(out, value.Text);
            out += '\n';
        }
    }
    for (const ZrStoreNode& child : node.Children) {
        const size_t length = path.size();
        if (!isRoot)
            path += u'\\';
        path += child.Name;
        FormatNode(out, child, path, false);
        path.resize(length);
    }
}

} // namespace

bool ZrStoreNamesEqual(std::u16string_view a, std::u16string_view b) noexcept {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && Fold(a[i]) != Fold(b[i]))
            return false;
    return true;
}

int ZrStoreCompareNames(std::u16string_view a, std::u16string_view b) noexcept {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char16_t x = Fold(a[i]), y = Fold(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::vector<std::u16string> ZrSplitKeyPath(std::u16string_view path) {
    std::vector<std::u16string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos)
            end = path.size();
        if (end > start)
            parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

const ZrStoreNode* ZrStoreNode::Child(std::u16string_view name) const {
    const auto at = std::lower_bound(Children.begin(), Children.end(), name,
                                     [](const ZrStoreNode& node, std::u16string_view n) {
                                         return ZrStoreCompareNames(node.Name, n) < 0;
                                     });
    return at != Children.end() && ZrStoreCompareNames(at->Name, name) == 0 ? &*at : nullptr;
}

ZrStoreNode* ZrStoreNode::Child(std::u16string_view name) {
    return const_cast<ZrStoreNode*>(std::as_const(*this).Child(name));
}

const ZrStoreNode* ZrStoreNode::Find(const std::vector<std::u16string>& path) const {
    const ZrStoreNode* node = this;
    for (const std::u16string& part : path)
        if (!(node = node->Child(part)))
            return nullptr;
    return node;
}

ZrStoreNode* ZrStoreNode::Find(const std::vector<std::u16string>& path) {
    return const_cast<ZrStoreNode*>(std::as_const(*this).Find(path));
}

ZrStoreNode& ZrStoreNode::FindOrCreate(const std::vector<std::u16string>& path, bool* created) {
    if (created)
        *created = false;
    ZrStoreNode* node = this;
    for (const std::u16string& part : path) {
        auto at = std::lower_bound(node->Children.begin(), node->Children.end(), part,
                                   [](const ZrStoreNode& child, const std::u16string& n) {
                                       return ZrStoreCompareNames(child.Name, n) < 0;
                                   });
        if (at == node->Children.end() || ZrStoreCompareNames(at->Name, part) != 0) {
            ZrStoreNode child;
            child.Name = part;
            at = node->Children.insert(at, std::move(child));
            if (created)
                *created = true;
        }
        node = &*at;
    }
    return *node;
}

const ZrStoreValue* ZrStoreNode::Value(std::u16string_view name) const {
    for (const ZrStoreValue& value : Values)
        if (ZrStoreNamesEqual(value.Name, name))
            return &value;
    return nullptr;
}

bool ZrStoreNode::SetValue(ZrStoreValue value) {
    for (ZrStoreValue& existing : Values) {
        if (!ZrStoreNamesEqual(existing.Name, value.Name))
            continue;
        value.Name = existing.Name;
        if (existing == value)
            return false;
        existing = std::move(value);
        return true;
    }
    Values.push_back(std::move(value));
    return true;
}

bool ZrStoreNode::RemoveValue(std::u16string_view name) {
    return std::erase_if(Values, [&](const ZrStoreValue& value) {
               return ZrStoreNamesEqual(value.Name, name);
           }) > 0;
}

bool ZrStoreNode::RemoveSubtree(const std::vector<std::u16string>& path) {
    if (path.empty())
        return false;
    ZrStoreNode* parent = Find(std::vector<std::u16string>(path.begin(), path.end() - 1));
    if (!parent)
        return false;
    return std::erase_if(parent->Children, [&](const ZrStoreNode& child) {
               return ZrStoreNamesEqual(child.Name, path.back());
           }) > 0;
}

bool ZrStoreNode::operator==(const ZrStoreNode& other) const {
    return Name == other.Name && Values == other.Values && Children == other.Children;
}

ZrStoreParseResult ZrParseStore(std::string_view text) {
    ZrStoreParseResult result;
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    Parser parser(result);
    size_t number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        parser.Line(text.substr(0, end), ++number);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return result;
}

std::string ZrFormatStore(const ZrStoreNode& root, std::string_view banner) {
    std::string body;
    std::u16string path;
    FormatNode(body, root, path, true);
    std::string out(banner);
    if (!out.empty() && !body.empty())
        out += '\n';
    return out + body;
}
