// ZrPropertyMap: an encoder's settings, text keys to text values, with typed getters and
// setters that convert on the way in and out.
//
// Keys are compared without regard to case. The hash table and its growth are fixed so that the
// iteration order, and with it the settings text, is the same for the same keys inserted in the
// same order: h = h * 0x1003F + lower(c); 7 buckets at first; when an insertion would make the
// count exceed 2 x buckets + 2 the table is rebuilt with 2^k - 1 buckets, 2^k the smallest power
// of two above the new count (at least 16 from 8 entries on, 8 below that).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "foundation/ZrString.h"

class ZrPropertyMap {
public:
    ZrPropertyMap() = default;
    ZrPropertyMap(const ZrPropertyMap& other) { Assign(other); }
    ZrPropertyMap& operator=(const ZrPropertyMap& other) {
        Assign(other);
        return *this;
    }
    virtual ~ZrPropertyMap();

    virtual bool Has(std::u16string_view key) const;
    // The value, or `defaultValue` when the key is absent (empty for null).
    virtual ZrString& GetString(ZrString& out, std::u16string_view key,
                                const char16_t* defaultValue = nullptr) const;
    virtual int32_t GetInt(std::u16string_view key, int32_t defaultValue) const;
    virtual int64_t GetInt64(std::u16string_view key, int64_t defaultValue) const;
    virtual uint64_t GetUInt64(std::u16string_view key, uint64_t defaultValue) const;
    virtual double GetDouble(std::u16string_view key, double defaultValue) const;
    virtual uint32_t GetHex(std::u16string_view key, uint32_t defaultValue) const;
    // With `removeIfEmpty` an empty value removes the key instead.
    virtual void Set(std::u16string_view key, std::u16string_view value,
                     bool removeIfEmpty = false);
    virtual void SetInt(std::u16string_view key, int32_t value);
    virtual void SetInt64(std::u16string_view key, int64_t value);
    virtual void SetUInt64(std::u16string_view key, uint64_t value);
    virtual void SetHex(std::u16string_view key, uint32_t value);
    virtual void SetDouble(std::u16string_view key, double value);
    virtual void Clear();
    virtual void Remove(std::u16string_view key);
    // Makes this map an entry-by-entry copy of `other`, in `other`'s order.
    virtual bool Assign(const ZrPropertyMap& other);
    // Same count and, for every key, an equal value (values compared exactly).
    virtual bool Equals(const ZrPropertyMap& other) const;
    // Whole-map text forms: "key=value" lines joined by `separator` (values unescaped), and
    // an XML form. Reading either clears the map first.
    virtual ZrString& ToText(ZrString& out, std::u16string_view separator) const;
    virtual void FromText(std::u16string_view text, std::u16string_view separator);
    virtual ZrString& ToXml(ZrString& out) const;
    virtual bool FromXml(std::u16string_view xml);
    virtual uint32_t Count() const { return m_count; }
    virtual void ForEach(const std::function<void(const ZrString&, const ZrString&)>& f) const;
    virtual void Merge(const ZrPropertyMap& other);
    // One line per entry: prefix, key, ": ", value, suffix ("%s%s: %s%s").
    virtual ZrString& Describe(ZrString& out, std::u16string_view prefix,
                               std::u16string_view suffix) const;

    // The settings text: pairs "key=value" joined by "|", values percent-encoded as UTF-8.
    ZrString ToSettingsText() const;
    // Stores every pair of a settings text (the map is not cleared first).
    void StoreSettingsText(std::u16string_view text);

    // For tests: the bucket count (0 when there is no table).
    uint32_t BucketCount() const { return static_cast<uint32_t>(m_buckets.size()); }
    static uint32_t Hash(std::u16string_view key) noexcept;

private:
    struct Entry {
        std::unique_ptr<Entry> Next;
        ZrString Key;
        ZrString Value;
    };

    Entry* Find(std::u16string_view key) const;
    void Rebuild(uint32_t newCount);
    void ReleaseTable();

    std::vector<std::unique_ptr<Entry>> m_buckets; // empty: no hash table yet
    uint32_t m_count = 0;
};

// Percent-encoding of a settings value: a-z A-Z 0-9 - . _ ~ stay, every other character
// becomes its UTF-8 bytes as "%XX" (upper-case hex; a surrogate half alone is three bytes).
ZrString ZrEncodeSettingValue(std::u16string_view value);
// "%" and two hex digits become that byte; when a decoded byte is 0x80 or above, the whole
// text is read again as UTF-8. A malformed "%" stays as it is.
ZrString ZrDecodeSettingValue(std::u16string_view text);
