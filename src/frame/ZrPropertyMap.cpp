#include "frame/ZrPropertyMap.h"

#include <string>

#include "foundation/ZrNumber.h"
#include "foundation/ZrStringManager.h"
#include "foundation/ZrUtf.h"

namespace {

constexpr uint32_t InitialBuckets = 7;

// 2^k - 1 buckets, 2^k the smallest power of two above n (at least 16 from n = 8 on).
uint32_t BucketsFor(uint32_t n) {
    uint32_t power = n >= 8 ? 16 : 8;
    while (power <= n)
        power <<= 1;
    return power - 1;
}

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

void AppendXmlEscaped(std::u16string& out, std::u16string_view text) {
    for (char16_t c : text) {
        switch (c) {
        case u'&': out += u"&amp;"; break;
        case u'<': out += u"&lt;"; break;
        case u'>': out += u"&gt;"; break;
        case u'"': out += u"&quot;"; break;
        default: out += c;
        }
    }
}

std::u16string XmlUnescape(std::u16string_view text) {
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'&') {
            static constexpr struct {
                std::u16string_view entity;
                char16_t c;
            } entities[] = {{u"&amp;", u'&'}, {u"&lt;", u'<'}, {u"&gt;", u'>'}, {u"&quot;", u'"'},
                            {u"&apos;", u'\''}};
            bool matched = false;
            for (const auto& e : entities) {
                if (text.substr(i, e.entity.size()) == e.entity) {
                    out += e.c;
                    i += e.entity.size() - 1;
                    matched = true;
                    break;
                }
            }
            if (matched)
                continue;
        }
        out += text[i];
    }
    return out;
}

// The value of attribute `name` inside one tag's text, or false.
bool XmlAttribute(std::u16string_view tag, std::u16string_view name, std::u16string& value) {
    size_t at = 0;
    while ((at = tag.find(name, at)) != std::u16string_view::npos) {
        size_t p = at + name.size();
        const bool boundary = at == 0 || tag[at - 1] == u' ' || tag[at - 1] == u'\t' ||
                              tag[at - 1] == u'\n' || tag[at - 1] == u'\r';
        while (p < tag.size() && tag[p] == u' ')
            ++p;
        if (boundary && p < tag.size() && tag[p] == u'=') {
            ++p;
            while (p < tag.size() && tag[p] == u' ')
                ++p;
            if (p < tag.size() && (tag[p] == u'"' || tag[p] == u'\'')) {
                const char16_t quote = tag[p];
                const size_t end = tag.find(quote, p + 1);
                if (end == std::u16string_view::npos)
                    return false;
                value = XmlUnescape(tag.substr(p + 1, end - p - 1));
                return true;
            }
        }
        at += name.size();
    }
    return false;
}

} // namespace

ZrPropertyMap::~ZrPropertyMap() { ReleaseTable(); }

uint32_t ZrPropertyMap::Hash(std::u16string_view key) noexcept {
    const ZrStringManager& manager = ZrStringManager::Instance();
    uint32_t h = 0;
    for (char16_t c : key)
        h = h * 0x1003Fu + manager.Lower(c);
    return h;
}

ZrPropertyMap::Entry* ZrPropertyMap::Find(std::u16string_view key) const {
    if (m_buckets.empty())
        return nullptr;
    Entry* e = m_buckets[Hash(key) % m_buckets.size()].get();
    for (; e; e = e->Next.get())
        if (ZrEqualsNoCase(e->Key.View(), key))
            return e;
    return nullptr;
}

void ZrPropertyMap::ReleaseTable() {
    // Chains are short, but unlink iteratively so that no chain length can deepen the stack.
    for (auto& head : m_buckets) {
        while (head)
            head = std::move(head->Next);
    }
    m_buckets.clear();
    m_buckets.shrink_to_fit();
    m_count = 0;
}

void ZrPropertyMap::Rebuild(uint32_t newCount) {
    std::vector<std::unique_ptr<Entry>> buckets(BucketsFor(newCount));
    for (auto& head : m_buckets) {
        while (head) {
            std::unique_ptr<Entry> e = std::move(head);
            head = std::move(e->Next);
            auto& target = buckets[Hash(e->Key.View()) % buckets.size()];
            e->Next = std::move(target);
            target = std::move(e);
        }
    }
    m_buckets = std::move(buckets);
}

bool ZrPropertyMap::Has(std::u16string_view key) const { return Find(key) != nullptr; }

ZrString& ZrPropertyMap::GetString(ZrString& out, std::u16string_view key,
                                   const char16_t* defaultValue) const {
    if (const Entry* e = Find(key))
        out = e->Value;
    else if (defaultValue)
        out = defaultValue;
    else
        out.Empty();
    return out;
}

int32_t ZrPropertyMap::GetInt(std::u16string_view key, int32_t defaultValue) const {
    const Entry* e = Find(key);
    return e ? ZrParseInt32(e->Value.View()) : defaultValue;
}

int64_t ZrPropertyMap::GetInt64(std::u16string_view key, int64_t defaultValue) const {
    const Entry* e = Find(key);
    return e ? ZrParseInt64(e->Value.View()) : defaultValue;
}

uint64_t ZrPropertyMap::GetUInt64(std::u16string_view key, uint64_t defaultValue) const {
    const Entry* e = Find(key);
    return e ? static_cast<uint64_t>(ZrParseInt64(e->Value.View())) : defaultValue;
}

double ZrPropertyMap::GetDouble(std::u16string_view key, double defaultValue) const {
    const Entry* e = Find(key);
    return e ? ZrParseDouble(e->Value.View()) : defaultValue;
}

uint32_t ZrPropertyMap::GetHex(std::u16string_view key, uint32_t defaultValue) const {
    const Entry* e = Find(key);
    return e ? ZrParseHex(e->Value.View()) : defaultValue;
}

void ZrPropertyMap::Set(std::u16string_view key, std::u16string_view value, bool removeIfEmpty) {
    if (removeIfEmpty && value.empty()) {
        Remove(key);
        return;
    }
    if (m_buckets.empty())
        m_buckets.resize(InitialBuckets);
    if (Entry* e = Find(key)) {
        e->Value = value;
        return;
    }
    if (m_count + 1 > 2 * m_buckets.size() + 2)
        Rebuild(m_count + 1);
    auto entry = std::make_unique<Entry>();
    entry->Key = key;
    entry->Value = value;
    std::unique_ptr<Entry>* slot = &m_buckets[Hash(key) % m_buckets.size()];
    while (*slot)
        slot = &(*slot)->Next;
    *slot = std::move(entry);
    ++m_count;
}

void ZrPropertyMap::SetInt(std::u16string_view key, int32_t value) { Set(key, ZrFormatInt(value)); }

void ZrPropertyMap::SetInt64(std::u16string_view key, int64_t value) {
    Set(key, ZrFormatInt(value));
}

void ZrPropertyMap::SetUInt64(std::u16string_view key, uint64_t value) {
    Set(key, ZrFormatUInt(value));
}

void ZrPropertyMap::SetHex(std::u16string_view key, uint32_t value) { Set(key, ZrFormatHex(value)); }

void ZrPropertyMap::SetDouble(std::u16string_view key, double value) {
    Set(key, ZrFormatDouble(value));
}

void ZrPropertyMap::Clear() { ReleaseTable(); }

void ZrPropertyMap::Remove(std::u16string_view key) {
    if (m_buckets.empty())
        return;
    std::unique_ptr<Entry>* slot = &m_buckets[Hash(key) % m_buckets.size()];
    while (*slot && !ZrEqualsNoCase((*slot)->Key.View(), key))
        slot = &(*slot)->Next;
    if (!*slot)
        return;
    *slot = std::move((*slot)->Next);
    if (--m_count == 0)
        ReleaseTable();
}

bool ZrPropertyMap::Assign(const ZrPropertyMap& other) {
    if (&other == this)
        return true;
    Clear();
    other.ForEach([this](const ZrString& k, const ZrString& v) { Set(k.View(), v.View()); });
    return true;
}

bool ZrPropertyMap::Equals(const ZrPropertyMap& other) const {
    if (m_count != other.m_count)
        return false;
    bool equal = true;
    ForEach([&](const ZrString& k, const ZrString& v) {
        const Entry* e = other.Find(k.View());
        if (!e || e->Value != v)
            equal = false;
    });
    return equal;
}

void ZrPropertyMap::ForEach(
    const std::function<void(const ZrString&, const ZrString&)>& f) const {
    for (const auto& head : m_buckets)
        for (const Entry* e = head.get(); e; e = e->Next.get())
            f(e->Key, e->Value);
}

void ZrPropertyMap::Merge(const ZrPropertyMap& other) {
    if (&other == this)
        return;
    other.ForEach([this](const ZrString& k, const ZrString& v) { Set(k.View(), v.View()); });
}

ZrString& ZrPropertyMap::ToText(ZrString& out, std::u16string_view separator) const {
    std::u16string text;
    ForEach([&](const ZrString& k, const ZrString& v) {
        if (!text.empty())
            text += separator;
        text += k.View();
        text += u'=';
        text += v.View();
    });
    return out = std::u16string_view(text);
}

void ZrPropertyMap::FromText(std::u16string_view text, std::u16string_view separator) {
    Clear();
    if (separator.empty())
        separator = u"\n";
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(separator, pos);
        if (end == std::u16string_view::npos)
            end = text.size();
        const std::u16string_view piece = text.substr(pos, end - pos);
        const size_t eq = piece.find(u'=');
        if (!piece.empty())
            Set(piece.substr(0, eq), eq == std::u16string_view::npos ? u"" : piece.substr(eq + 1));
        pos = end + separator.size();
    }
}

ZrString& ZrPropertyMap::ToXml(ZrString& out) const {
    std::u16string xml = u"<Properties version=\"1\">";
    ForEach([&](const ZrString& k, const ZrString& v) {
        xml += u"<Item Name=\"";
        AppendXmlEscaped(xml, k.View());
        xml += u"\">";
        AppendXmlEscaped(xml, v.View());
        xml += u"</Item>";
    });
    xml += u"</Properties>";
    return out = std::u16string_view(xml);
}

bool ZrPropertyMap::FromXml(std::u16string_view xml) {
    Clear();
    if (xml.find(u"version=") == std::u16string_view::npos)
        return false;
    size_t pos = 0;
    while ((pos = xml.find(u"<Item", pos)) != std::u16string_view::npos) {
        const size_t tagEnd = xml.find(u'>', pos);
        if (tagEnd == std::u16string_view::npos)
            return false;
        const std::u16string_view tag = xml.substr(pos + 5, tagEnd - pos - 5);
        std::u16string name;
        if (!XmlAttribute(tag, u"Name", name))
            return false;
        if (!tag.empty() && tag.back() == u'/') {
            Set(name, u"");
            pos = tagEnd + 1;
            continue;
        }
        const size_t close = xml.find(u"</Item>", tagEnd);
        if (close == std::u16string_view::npos)
            return false;
        Set(name, XmlUnescape(xml.substr(tagEnd + 1, close - tagEnd - 1)));
        pos = close + 7;
    }
    return true;
}

ZrString& ZrPropertyMap::Describe(ZrString& out, std::u16string_view prefix,
                                  std::u16string_view suffix) const {
    std::u16string text;
    ForEach([&](const ZrString& k, const ZrString& v) {
        if (!text.empty())
            text += u'\n';
        text += prefix;
        text += k.View();
        text += u": ";
        text += v.View();
        text += suffix;
    });
    return out = std::u16string_view(text);
}

ZrString ZrEncodeSettingValue(std::u16string_view value) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::u16string out;
    out.reserve(value.size());
    std::string bytes;
    for (char16_t c : value) {
        const bool unreserved = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                                (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' ||
                                c == u'_' || c == u'~';
        if (unreserved) {
            out += c;
            continue;
        }
        bytes.clear();
        ZrAppendCodeUnitUtf8(bytes, c);
        for (unsigned char b : bytes) {
            out += u'%';
            out += static_cast<char16_t>(Hex[b >> 4]);
            out += static_cast<char16_t>(Hex[b & 15]);
        }
    }
    return ZrString(out);
}

ZrString ZrDecodeSettingValue(std::u16string_view text) {
    // Two readings side by side: the decoded bytes taken as characters, and the same bytes with
    // every character that was not percent-encoded written as its own UTF-8. The second one is
    // the result as soon as a decoded byte is 0x80 or above.
    std::u16string plain;
    std::string bytes;
    plain.reserve(text.size());
    bool high = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            const int byte = HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]);
            high |= byte >= 0x80;
            plain += static_cast<char16_t>(byte);
            bytes += static_cast<char>(byte);
            i += 2;
        } else {
            plain += text[i];
            ZrAppendCodeUnitUtf8(bytes, text[i]);
        }
    }
    return high ? ZrString(ZrUtf8ToUtf16(bytes, true)) : ZrString(plain);
}

ZrString ZrPropertyMap::ToSettingsText() const {
    std::u16string text;
    ForEach([&](const ZrString& k, const ZrString& v) {
        if (!text.empty())
            text += u'|';
        text += k.View();
        text += u'=';
        text += ZrEncodeSettingValue(v.View()).View();
    });
    return ZrString(text);
}

void ZrPropertyMap::StoreSettingsText(std::u16string_view text) {
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(u'|', pos);
        if (end == std::u16string_view::npos)
            end = text.size();
        const std::u16string_view piece = text.substr(pos, end - pos);
        pos = end + 1;
        if (piece.empty())
            continue;
        const size_t eq = piece.find(u'=');
        const std::u16string_view key = piece.substr(0, eq);
        std::u16string_view value;
        if (eq != std::u16string_view::npos) {
            value = piece.substr(eq + 1);
            const size_t second = value.find(u'=');
            if (second != std::u16string_view::npos)
                value = value.substr(0, second);
        }
        Set(key, ZrDecodeSettingValue(value).View());
    }
}
