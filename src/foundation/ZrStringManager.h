// The string manager: one per module, created on first use. It allocates string blocks,
// keeps a few released blocks for reuse, holds the shared empty string and the character
// tables that case-insensitive comparison and number parsing use.
#pragma once

#include "foundation/ZrString.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <forward_list>
#include <mutex>

// Character classes of the first 256 characters.
enum ZrCharClass : uint16_t {
    ZrCharUpper = 0x001,
    ZrCharLower = 0x002,
    ZrCharDigit = 0x004,
    ZrCharSpace = 0x008,
    ZrCharPunct = 0x010,
    ZrCharControl = 0x020,
    ZrCharBlank = 0x040,
    ZrCharHexDigit = 0x080,
    ZrCharAlpha = 0x100,
};

class ZrStringManager {
public:
    static ZrStringManager& Instance();

    // A block for at least `capacity` characters, reference count 1, length 0. Never null:
    // running out of memory ends the process, as it does for the standard containers.
    virtual ZrStringHeader* Allocate(uint32_t capacity);
    // Takes back a block that no string refers to any more.
    virtual void Free(ZrStringHeader* block) noexcept;
    // Grows a block that only the caller owns; the contents are kept.
    virtual ZrStringHeader* Reallocate(ZrStringHeader* block, uint32_t capacity);

    ZrStringHeader* EmptyString() noexcept { return &m_empty.Header; }

    // The tables for the first 256 characters, built from the C library's wide-character
    // functions under the locale that is current when RebuildTables runs. A rebuild publishes
    // new tables whole while other threads go on reading the old ones, which stay alive.
    char16_t Lower(char16_t c) const noexcept;
    uint16_t Class(char16_t c) const noexcept {
        return c < 256 ? m_tables.load(std::memory_order_acquire)->Class[c] : ClassAbove(c);
    }
    bool IsSpace(char16_t c) const noexcept { return Class(c) & ZrCharSpace; }
    // Value 0-9 of a decimal digit of any script the manager knows, or -1.
    int DigitValue(char16_t c) const noexcept;
    void RebuildTables();

    // Number of released blocks kept for reuse.
    static constexpr size_t ReuseSlots = 16;

protected:
    ZrStringManager();
    virtual ~ZrStringManager() = default;

private:
    static uint16_t ClassAbove(char16_t c) noexcept;

    struct EmptyBlock {
        ZrStringHeader Header;
        char16_t Terminator;
    };

    struct Tables {
        char16_t Lower[256];
        uint16_t Class[256];
    };

    std::mutex m_lock;
    ZrStringHeader* m_reuse[ReuseSlots] = {};
    EmptyBlock m_empty;
    std::atomic<const Tables*> m_tables{nullptr};
    std::forward_list<Tables> m_allTables; // under m_lock; a rebuild or two per process
};
