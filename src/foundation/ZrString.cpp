#include "foundation/ZrString.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "foundation/ZrStringManager.h"
#include "foundation/ZrUtf.h"

namespace {

std::atomic_ref<uint32_t> Refs(ZrStringHeader* header) {
    return std::atomic_ref<uint32_t>(header->RefCount);
}

// Other threads may copy or release the same block at any moment: every read of the count is
// atomic too.
uint32_t RefsNow(ZrStringHeader* header) {
    return Refs(header).load(std::memory_order_acquire);
}

uint32_t CheckedLength(size_t length) {
    if (length > 0x7FFFFFF0u)
        throw std::length_error("ZrString: text too long");
    return static_cast<uint32_t>(length);
}

} // namespace

ZrString::ZrString() noexcept : m_chars(ZrStringManager::Instance().EmptyString()->Chars()) {}

ZrString::ZrString(const char16_t* text) : ZrString() {
    if (text)
        Assign(text, std::char_traits<char16_t>::length(text));
}

ZrString::ZrString(const char16_t* text, size_t length) : ZrString() {
    if (text)
        Assign(text, length);
}

ZrString::ZrString(const ZrString& other) noexcept : m_chars(other.m_chars) {
    ZrStringHeader* header = MutableHeader();
    if (RefsNow(header) == ZrStringWritingRefs) {
        // The other string's owner is writing into its buffer: take a real copy.
        m_chars = ZrStringManager::Instance().EmptyString()->Chars();
        Assign(other.m_chars, header->Length);
        return;
    }
    AddRef(header);
}

ZrString::ZrString(ZrString&& other) noexcept : m_chars(other.m_chars) {
    other.m_chars = ZrStringManager::Instance().EmptyString()->Chars();
}

ZrString& ZrString::operator=(const ZrString& other) noexcept {
    if (this != &other) {
        ZrString copy(other);
        std::swap(m_chars, copy.m_chars);
    }
    return *this;
}

ZrString& ZrString::operator=(ZrString&& other) noexcept {
    if (this != &other)
        std::swap(m_chars, other.m_chars);
    return *this;
}

ZrString& ZrString::operator=(const char16_t* text) {
    if (!text) {
        Empty();
        return *this;
    }
    return *this = std::u16string_view(text);
}

ZrString& ZrString::operator=(std::u16string_view text) {
    // The text may point into this string's own block: build first, then swap.
    ZrString built(text.data(), text.size());
    std::swap(m_chars, built.m_chars);
    return *this;
}

ZrString::~ZrString() { ReleaseBlock(MutableHeader()); }

void ZrString::AddRef(ZrStringHeader* header) noexcept {
    if (RefsNow(header) != ZrStringStaticRefs)
        Refs(header).fetch_add(1, std::memory_order_relaxed);
}

void ZrString::ReleaseBlock(ZrStringHeader* header) noexcept {
    const uint32_t refs = RefsNow(header);
    if (refs == ZrStringStaticRefs)
        return;
    if (refs == ZrStringWritingRefs) {
        header->Manager->Free(header);
        return;
    }
    const uint32_t old = Refs(header).fetch_sub(1, std::memory_order_acq_rel);
    if (old <= 1)
        header->Manager->Free(header);
}

void ZrString::Empty() {
    ZrStringHeader* header = MutableHeader();
    m_chars = ZrStringManager::Instance().EmptyString()->Chars();
    ReleaseBlock(header);
}

void ZrString::Assign(const char16_t* text, size_t length) {
    if (length == 0) {
        Empty();
        return;
    }
    const uint32_t n = CheckedLength(length);
    ZrStringHeader* block = ZrStringManager::Instance().Allocate(n);
    std::memcpy(block->Chars(), text, size_t{n} * sizeof(char16_t));
    block->Chars()[n] = 0;
    block->Length = n;
    ZrStringHeader* old = MutableHeader();
    m_chars = block->Chars();
    ReleaseBlock(old);
}

void ZrString::PrepareWrite(uint32_t capacity) {
    ZrStringHeader* header = MutableHeader();
    const uint32_t refs = RefsNow(header);
    const bool shared = refs != 1 && refs != ZrStringWritingRefs;
    if (!shared && header->Capacity >= capacity)
        return;
    if (!shared && header->Manager == &ZrStringManager::Instance()) {
        uint32_t grown = header->Capacity + header->Capacity / 2;
        if (grown < capacity)
            grown = capacity;
        m_chars = header->Manager->Reallocate(header, grown)->Chars();
        return;
    }
    // Shared, static or from another module's manager: copy into a block of our own.
    uint32_t wanted = capacity > header->Length ? capacity : header->Length;
    ZrStringHeader* block = ZrStringManager::Instance().Allocate(wanted);
    std::memcpy(block->Chars(), m_chars, (size_t{header->Length} + 1) * sizeof(char16_t));
    block->Length = header->Length;
    m_chars = block->Chars();
    ReleaseBlock(header);
}

ZrString& ZrString::Append(const char16_t* text, size_t length) {
    if (length == 0)
        return *this;
    const uint32_t oldLength = Length();
    const uint32_t newLength = CheckedLength(size_t{oldLength} + length);
    // `text` may point into our own block, which PrepareWrite may move.
    const bool aliased = text >= m_chars && text <= m_chars + oldLength;
    const size_t offset = aliased ? static_cast<size_t>(text - m_chars) : 0;
    const ZrString keepAlive = aliased ? *this : ZrString();
    if (aliased)
        text = keepAlive.m_chars + offset;
    PrepareWrite(newLength);
    std::memmove(m_chars + oldLength, text, length * sizeof(char16_t));
    m_chars[newLength] = 0;
    MutableHeader()->Length = newLength;
    return *this;
}

char16_t* ZrString::GetBuffer(uint32_t minLength) {
    PrepareWrite(minLength > Length() ? minLength : Length());
    Refs(MutableHeader()).store(ZrStringWritingRefs, std::memory_order_relaxed);
    return m_chars;
}

void ZrString::ReleaseBuffer(int64_t newLength) {
    ZrStringHeader* header = MutableHeader();
    if (RefsNow(header) != ZrStringWritingRefs)
        return;
    uint32_t length;
    if (newLength < 0) {
        length = 0;
        while (length < header->Capacity && m_chars[length])
            ++length;
    } else {
        length = newLength > header->Capacity ? header->Capacity : static_cast<uint32_t>(newLength);
    }
    m_chars[length] = 0;
    header->Length = length;
    Refs(header).store(1, std::memory_order_release);
    if (length == 0)
        Empty();
}

ZrString ZrString::FromUtf8(std::string_view utf8) {
    const std::u16string wide = ZrUtf8ToUtf16(utf8);
    return ZrString(wide.data(), wide.size());
}

std::string ZrString::ToUtf8() const { return ZrUtf16ToUtf8(View()); }

ZrString ZrString::Format(const char* format, ...) {
    char small[512];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (needed < 0) {
        va_end(again);
        return ZrString();
    }
    if (static_cast<size_t>(needed) < sizeof small) {
        va_end(again);
        return FromUtf8(std::string_view(small, static_cast<size_t>(needed)));
    }
    std::vector<char> big(static_cast<size_t>(needed) + 1);
    std::vsnprintf(big.data(), big.size(), format, again);
    va_end(again);
    return FromUtf8(std::string_view(big.data(), static_cast<size_t>(needed)));
}

ZrString ZrString::FromInt(int64_t value) {
    char buffer[24];
    const int n = std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(value));
    char16_t wide[24];
    for (int i = 0; i < n; ++i)
        wide[i] = static_cast<char16_t>(buffer[i]);
    return ZrString(wide, static_cast<size_t>(n));
}

int ZrString::Compare(std::u16string_view other) const noexcept {
    const int c = View().compare(other);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

char16_t ZrLowerChar(char16_t c) noexcept { return ZrStringManager::Instance().Lower(c); }

int ZrString::CompareNoCase(std::u16string_view other) const noexcept {
    const ZrStringManager& manager = ZrStringManager::Instance();
    const std::u16string_view self = View();
    const size_t n = self.size() < other.size() ? self.size() : other.size();
    for (size_t i = 0; i < n; ++i) {
        const char16_t a = manager.Lower(self[i]);
        const char16_t b = manager.Lower(other[i]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    if (self.size() == other.size())
        return 0;
    return self.size() < other.size() ? -1 : 1;
}

bool ZrEqualsNoCase(std::u16string_view a, std::u16string_view b) noexcept {
    if (a.size() != b.size())
        return false;
    const ZrStringManager& manager = ZrStringManager::Instance();
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && manager.Lower(a[i]) != manager.Lower(b[i]))
            return false;
    return true;
}

ZrString ZrString::Lower() const {
    ZrString out(*this);
    const ZrStringManager& manager = ZrStringManager::Instance();
    const uint32_t n = Length();
    if (n == 0)
        return out;
    char16_t* chars = out.GetBuffer(n);
    for (uint32_t i = 0; i < n; ++i)
        chars[i] = manager.Lower(chars[i]);
    out.ReleaseBuffer(n);
    return out;
}

int64_t ZrString::Find(std::u16string_view needle, size_t start) const noexcept {
    const size_t at = View().find(needle, start);
    return at == std::u16string_view::npos ? -1 : static_cast<int64_t>(at);
}

int64_t ZrString::FindNoCase(std::u16string_view needle, size_t start) const noexcept {
    const std::u16string_view self = View();
    if (needle.size() > self.size())
        return -1;
    for (size_t i = start; i + needle.size() <= self.size(); ++i)
        if (ZrEqualsNoCase(self.substr(i, needle.size()), needle))
            return static_cast<int64_t>(i);
    return -1;
}

int64_t ZrString::ReverseFind(char16_t c) const noexcept {
    const size_t at = View().rfind(c);
    return at == std::u16string_view::npos ? -1 : static_cast<int64_t>(at);
}

ZrString ZrString::Mid(size_t start, size_t count) const {
    const std::u16string_view self = View();
    if (start >= self.size())
        return ZrString();
    if (start == 0 && count >= self.size())
        return *this;
    return ZrString(self.substr(start, count));
}

bool ZrString::StartsWith(std::u16string_view prefix) const noexcept {
    return View().substr(0, prefix.size()) == prefix;
}

bool ZrString::EndsWith(std::u16string_view suffix) const noexcept {
    const std::u16string_view self = View();
    return self.size() >= suffix.size() && self.substr(self.size() - suffix.size()) == suffix;
}

bool ZrString::EndsWithNoCase(std::u16string_view suffix) const noexcept {
    const std::u16string_view self = View();
    return self.size() >= suffix.size() &&
           ZrEqualsNoCase(self.substr(self.size() - suffix.size()), suffix);
}

uint32_t ZrString::Replace(std::u16string_view from, std::u16string_view to) {
    if (from.empty())
        return 0;
    const std::u16string_view self = View();
    std::u16string result;
    uint32_t count = 0;
    size_t pos = 0;
    for (;;) {
        const size_t at = self.find(from, pos);
        if (at == std::u16string_view::npos)
            break;
        result.append(self.substr(pos, at - pos));
        result.append(to);
        pos = at + from.size();
        ++count;
    }
    if (count) {
        result.append(self.substr(pos));
        *this = std::u16string_view(result);
    }
    return count;
}

ZrString ZrString::Trimmed() const {
    const ZrStringManager& manager = ZrStringManager::Instance();
    const std::u16string_view self = View();
    size_t begin = 0, end = self.size();
    while (begin < end && manager.IsSpace(self[begin]))
        ++begin;
    while (end > begin && manager.IsSpace(self[end - 1]))
        --end;
    return Mid(begin, end - begin);
}

std::ostream& operator<<(std::ostream& out, const ZrString& text) { return out << text.ToUtf8(); }
