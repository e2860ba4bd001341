// ZrString: the reference-counted UTF-16 string used throughout the library.
//
// A string is one pointer to its first character. In front of the characters lies a
// ZrStringHeader (manager, length, capacity, reference count); the characters are always
// NUL-terminated. Copies share the block and count references atomically; a string is made
// unique before it changes (copy on write). The shared empty string and other static blocks
// carry ZrStringStaticRefs and are never counted or freed. A block handed out for writing
// (GetBuffer) carries ZrStringWritingRefs until ReleaseBuffer.
#pragma once

#include <compare>
#include <iosfwd>
#include <cstdint>
#include <string>
#include <string_view>

class ZrStringManager;

struct ZrStringHeader {
    ZrStringManager* Manager; // the manager that allocated the block and takes it back
    uint32_t Length;          // characters, without the terminator
    uint32_t Capacity;        // characters the block holds, without the terminator
    uint32_t RefCount;        // owners; or one of the two marker values below

    char16_t* Chars() { return reinterpret_cast<char16_t*>(this + 1); }
};

inline constexpr uint32_t ZrStringStaticRefs = 0x7FFFFC17;
inline constexpr uint32_t ZrStringWritingRefs = 0xFFFFFFFF;

class ZrString {
public:
    ZrString() noexcept;
    ZrString(const char16_t* text);
    ZrString(const char16_t* text, size_t length);
    ZrString(std::u16string_view text) : ZrString(text.data(), text.size()) {}
    ZrString(const ZrString& other) noexcept;
    ZrString(ZrString&& other) noexcept;
    ZrString& operator=(const ZrString& other) noexcept;
    ZrString& operator=(ZrString&& other) noexcept;
    ZrString& operator=(const char16_t* text);
    ZrString& operator=(std::u16string_view text);
    ~ZrString();

    // Conversions. Invalid UTF-8 becomes U+FFFD; unpaired surrogates become U+FFFD in UTF-8.
    static ZrString FromUtf8(std::string_view utf8);
    std::string ToUtf8() const;
    // printf into a UTF-8 buffer, then UTF-16. Pass ZrString arguments as .ToUtf8().c_str().
    static ZrString Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static ZrString FromInt(int64_t value);

    const char16_t* c_str() const noexcept { return m_chars; }
    operator const char16_t*() const noexcept { return m_chars; }
    std::u16string_view View() const noexcept { return {m_chars, Length()}; }
    uint32_t Length() const noexcept { return Header()->Length; }
    bool IsEmpty() const noexcept { return Length() == 0; }
    char16_t operator[](size_t index) const noexcept { return m_chars[index]; }

    void Empty();
    ZrString& Append(const char16_t* text, size_t length);
    ZrString& Append(std::u16string_view text) { return Append(text.data(), text.size()); }
    ZrString& operator+=(const ZrString& text) { return Append(text.View()); }
    ZrString& operator+=(const char16_t* text) { return Append(std::u16string_view(text)); }
    ZrString& operator+=(char16_t c) { return Append(&c, 1); }

    // Writing in place: GetBuffer returns room for at least `minLength` characters (keeping the
    // current contents); ReleaseBuffer sets the length (-1: up to the first NUL) and ends the
    // writing state. No other operation may run on the string between the two.
    char16_t* GetBuffer(uint32_t minLength);
    void ReleaseBuffer(int64_t newLength = -1);

    // Case-insensitive comparisons use the string manager's tables (see ZrStringManager).
    int Compare(std::u16string_view other) const noexcept;
    int CompareNoCase(std::u16string_view other) const noexcept;
    bool EqualsNoCase(std::u16string_view other) const noexcept { return CompareNoCase(other) == 0; }
    ZrString Lower() const;

    // Position of `needle` at or after `start`, or -1.
    int64_t Find(std::u16string_view needle, size_t start = 0) const noexcept;
    int64_t FindNoCase(std::u16string_view needle, size_t start = 0) const noexcept;
    int64_t ReverseFind(char16_t c) const noexcept;
    ZrString Mid(size_t start, size_t count = SIZE_MAX) const;
    ZrString Left(size_t count) const { return Mid(0, count); }
    bool StartsWith(std::u16string_view prefix) const noexcept;
    bool EndsWith(std::u16string_view suffix) const noexcept;
    bool EndsWithNoCase(std::u16string_view suffix) const noexcept;
    // Replaces every occurrence; returns the number of replacements.
    uint32_t Replace(std::u16string_view from, std::u16string_view to);
    ZrString Trimmed() const;

    friend bool operator==(const ZrString& a, const ZrString& b) noexcept {
        return a.View() == b.View();
    }
    friend bool operator==(const ZrString& a, std::u16string_view b) noexcept {
        return a.View() == b;
    }
    friend bool operator==(const ZrString& a, const char16_t* b) noexcept {
        return a.View() == std::u16string_view(b);
    }
    friend std::strong_ordering operator<=>(const ZrString& a, const ZrString& b) noexcept {
        return a.View() <=> b.View();
    }
    friend ZrString operator+(const ZrString& a, std::u16string_view b) {
        ZrString r(a);
        r.Append(b);
        return r;
    }
    friend ZrString operator+(const ZrString& a, const ZrString& b) { return a + b.View(); }
    friend ZrString operator+(const ZrString& a, const char16_t* b) {
        return a + std::u16string_view(b);
    }

    // For tests and diagnostics: the block header.
    const ZrStringHeader* Header() const noexcept {
        return reinterpret_cast<const ZrStringHeader*>(m_chars) - 1;
    }

private:
    ZrStringHeader* MutableHeader() const noexcept {
        return reinterpret_cast<ZrStringHeader*>(m_chars) - 1;
    }
    void Assign(const char16_t* text, size_t length);
    // Makes the block unique and able to hold `capacity` characters; keeps the contents.
    void PrepareWrite(uint32_t capacity);
    static void AddRef(ZrStringHeader* header) noexcept;
    static void ReleaseBlock(ZrStringHeader* header) noexcept;

    char16_t* m_chars;
};

// Writes the text as UTF-8 (for diagnostics and test failure messages).
std::ostream& operator<<(std::ostream& out, const ZrString& text);

// Lower-casing of one character and case-insensitive equality of texts, through the tables.
char16_t ZrLowerChar(char16_t c) noexcept;
bool ZrEqualsNoCase(std::u16string_view a, std::u16string_view b) noexcept;
