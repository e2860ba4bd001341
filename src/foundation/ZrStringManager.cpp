#include "foundation/ZrStringManager.h"

#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <new>

namespace {

// Decimal digit blocks of other scripts: the code of each block's zero.
constexpr char16_t DigitZeros[] = {
    0x0660, 0x06F0, 0x07C0, 0x0966, 0x09E6, 0x0A66, 0x0AE6, 0x0B66, 0x0BE6, 0x0C66, 0x0CE6, 0x0D66,
    0x0DE6, 0x0E50, 0x0ED0, 0x0F20, 0x1040, 0x1090, 0x17E0, 0x1810, 0x1946, 0x19D0, 0x1A80, 0x1A90,
    0x1B50, 0x1BB0, 0x1C40, 0x1C50, 0xA620, 0xA8D0, 0xA900, 0xA9D0, 0xA9F0, 0xAA50, 0xABF0, 0xFF10,
};

size_t BlockBytes(uint32_t capacity) {
    return sizeof(ZrStringHeader) + (size_t{capacity} + 1) * sizeof(char16_t);
}

} // namespace

ZrStringManager& ZrStringManager::Instance() {
    // Never destroyed: strings held by other static objects may outlive any destructor order.
    alignas(ZrStringManager) static unsigned char storage[sizeof(ZrStringManager)];
    static ZrStringManager* instance = new (storage) ZrStringManager();
    return *instance;
}

ZrStringManager::ZrStringManager() {
    m_empty.Header = ZrStringHeader{this, 0, 0, ZrStringStaticRefs};
    m_empty.Terminator = 0;
    RebuildTables();
}

ZrStringHeader* ZrStringManager::Allocate(uint32_t capacity) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (auto& slot : m_reuse) {
            if (slot && slot->Capacity >= capacity && slot->Capacity <= capacity * 2 + 16) {
                ZrStringHeader* block = slot;
                slot = nullptr;
                block->Length = 0;
                block->RefCount = 1;
                block->Chars()[0] = 0;
                return block;
            }
        }
    }
    // Round small requests up so that appending a few characters does not reallocate.
    uint32_t rounded = capacity < 16 ? 16 : capacity;
    auto* block = static_cast<ZrStringHeader*>(std::malloc(BlockBytes(rounded)));
    if (!block)
        throw std::bad_alloc();
    *block = ZrStringHeader{this, 0, rounded, 1};
    block->Chars()[0] = 0;
    return block;
}

void ZrStringManager::Free(ZrStringHeader* block) noexcept {
    if (!block || block->RefCount == ZrStringStaticRefs)
        return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (block->Capacity <= 1024) {
            for (auto& slot : m_reuse) {
                if (!slot) {
                    slot = block;
                    return;
                }
            }
        }
    }
    std::free(block);
}

ZrStringHeader* ZrStringManager::Reallocate(ZrStringHeader* block, uint32_t capacity) {
    auto* grown = static_cast<ZrStringHeader*>(std::realloc(block, BlockBytes(capacity)));
    if (!grown)
        throw std::bad_alloc();
    grown->Capacity = capacity;
    return grown;
}

char16_t ZrStringManager::Lower(char16_t c) const noexcept {
    if (c < 256)
        return m_tables.load(std::memory_order_acquire)->Lower[c];
    if (c >= 0xD800 && c <= 0xDFFF)
        return c;
    const wint_t lowered = std::towlower(static_cast<wint_t>(c));
    return lowered <= 0xFFFF ? static_cast<char16_t>(lowered) : c;
}

uint16_t ZrStringManager::ClassAbove(char16_t c) noexcept {
    const auto w = static_cast<wint_t>(c);
    uint16_t cls = 0;
    if (c >= 0xD800 && c <= 0xDFFF)
        return 0;
    if (std::iswupper(w))
        cls |= ZrCharUpper;
    if (std::iswlower(w))
        cls |= ZrCharLower;
    if (std::iswspace(w))
        cls |= ZrCharSpace;
    if (std::iswpunct(w))
        cls |= ZrCharPunct;
    if (std::iswalpha(w))
        cls |= ZrCharAlpha;
    for (char16_t zero : DigitZeros)
        if (c >= zero && c <= zero + 9)
            cls |= ZrCharDigit;
    return cls;
}

int ZrStringManager::DigitValue(char16_t c) const noexcept {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c < 256)
        return -1;
    for (char16_t zero : DigitZeros)
        if (c >= zero && c <= zero + 9)
            return c - zero;
    return -1;
}

void ZrStringManager::RebuildTables() {
    Tables built;
    for (int i = 0; i < 256; ++i) {
        const auto w = static_cast<wint_t>(i);
        const wint_t lw = std::towlower(w);
        built.Lower[i] = lw < 256 ? static_cast<char16_t>(lw) : static_cast<char16_t>(i);
        uint16_t c = 0;
        if (std::iswupper(w))
            c |= ZrCharUpper;
        if (std::iswlower(w))
            c |= ZrCharLower;
        if (i >= '0' && i <= '9')
            c |= ZrCharDigit;
        if (std::iswspace(w))
            c |= ZrCharSpace;
        if (std::iswpunct(w))
            c |= ZrCharPunct;
        if (std::iswcntrl(w))
            c |= ZrCharControl;
        if (std::iswblank(w))
            c |= ZrCharBlank;
        if (std::iswxdigit(w))
            c |= ZrCharHexDigit;
        if (std::iswalpha(w))
            c |= ZrCharAlpha;
        built.Class[i] = c;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    const Tables* current = m_tables.load(std::memory_order_relaxed);
    if (current && std::memcmp(current, &built, sizeof built) == 0)
        return; // the same locale again: nothing to publish, nothing to keep
    m_allTables.push_front(built);
    m_tables.store(&m_allTables.front(), std::memory_order_release);
}
