// The MP4 atom model: every atom is a CAtom; containers own their children in file order.
//
// Sizes: ComputeSize expects the caller to have set Size to 0; the atom adds its header (8) and
// payload, a container adds its children. An atom whose size reaches 0x7FFFFFFF is written with
// the 16-byte header (size 1, type, 64-bit size); the caller of ComputeSize adds those 8 bytes
// (SizeWithHeader does both steps).
//
// Reading: CAtom::Read is the reading factory. Each class's reading constructor consumes its
// payload through a CAtomReader, which never lets a read pass the atom's end, so a size field
// that lies can at worst make the atom fail to read; nothing is allocated for bytes that the
// file does not hold.
#pragma once

#include "mp4/AtomStream.h"
#include "mp4/MP4Error.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CAtom;
class CMDATAtom;

inline constexpr uint64_t LargeAtomSize = 0x7FFFFFFF;

// What Verify needs beyond the atom itself.
struct CVerifyContext {
    std::vector<CMDATAtom*> Mdats; // every media data atom of the file, in file order
    int OverlapCheck = 0;          // non-zero: audio and video chunks must not overlap
};

// Limits for files we did not write.
struct CAtomReadLimits {
    static constexpr int MaxDepth = 32;
    static constexpr uint64_t MaxAtoms = 1000000;
    static constexpr uint64_t MaxHeldPayload = 256ull << 20; // opaque bytes kept in memory
};

// State shared by every atom read from one stream.
struct CAtomReadContext {
    explicit CAtomReadContext(std::shared_ptr<CAtomStream> stream) : Stream(std::move(stream)) {}
    std::shared_ptr<CAtomStream> Stream;
    int Depth = 0;
    uint64_t AtomCount = 0;
};

// One atom's payload during reading: bounded reads, so that no field is read past the atom.
class CAtomReader {
public:
    CAtomReader(CAtomReadContext& context, FourCC type, uint64_t position, uint64_t size,
                unsigned headerSize, CAtom* parent)
        : Context(context), Type(type), Position(position), Size(size), HeaderSize(headerSize),
          Parent(parent), m_remaining(size - headerSize) {}

    CAtomReadContext& Context;
    const FourCC Type;
    const uint64_t Position; // of the atom's first header byte
    const uint64_t Size;     // whole atom
    const unsigned HeaderSize;
    CAtom* const Parent;

    uint64_t Remaining() const noexcept { return m_remaining; }
    CAtomStream& Stream() { return *Context.Stream; }

    uint8_t U8() { return static_cast<uint8_t>(Take(1)); }
    uint16_t U16() { return static_cast<uint16_t>(Take(2)); }
    uint32_t U24() { return static_cast<uint32_t>(Take(3)); }
    uint32_t U32() { return static_cast<uint32_t>(Take(4)); }
    uint64_t U64() { return Take(8); }
    std::vector<uint8_t> Bytes(uint64_t count);
    // Everything that is left.
    std::vector<uint8_t> Rest() { return Bytes(m_remaining); }
    void Skip(uint64_t count);
    // Skips bytes that must be zero; raises "SkipZero error" when one is not.
    void SkipZero(uint64_t count);
    // Raises unless `count` entries of `entryBytes` each fit in what is left.
    void RequireEntries(uint64_t count, uint64_t entryBytes) const;
    // Back to the first payload byte, as if nothing had been read.
    void Rewind();
    // The caller read an atom of `bytes` bytes out of this payload itself.
    void Consumed(uint64_t bytes) { m_remaining -= bytes; }

private:
    uint64_t Take(unsigned bytes);
    [[noreturn]] void RaiseTooShort() const;

    uint64_t m_remaining;
};

class CAtom {
public:
    explicit CAtom(FourCC type) : Type(type) {}
    CAtom(const CAtom&) = delete;
    CAtom& operator=(const CAtom&) = delete;
    virtual ~CAtom();

    // Deep copy (children included) under `parent`.
    virtual std::unique_ptr<CAtom> Clone(CAtom* parent) const = 0;
    virtual uint64_t ComputeSize();
    virtual void Write(CAtomStream& stream);
    // One tab per indent level; one line per fact.
    virtual void Dump(int verbosity, int indent, std::string& out) const;
    // Links and checks the atom after reading.
    virtual void Verify(CVerifyContext& context);
    virtual void MakeChunkOffsetsRelative() {}
    virtual void MakeChunkOffsetsAbsolute() {}
    // Merges another file's atom of the same type into this one.
    virtual void Append(CAtom& other);

    // The reading factory: reads one atom that must fit in `limit` bytes. Returns null when
    // fewer than 8 bytes are left.
    static std::unique_ptr<CAtom> Read(CAtomReadContext& context, CAtom* parent, uint64_t limit);

    // The class name for messages ("CMVHDAtom").
    virtual const char* ClassName() const = 0;
    bool IsType(FourCC type) const noexcept { return Type == type; }

    uint8_t Opaque = 0;    // 1 when the payload is held as raw bytes
    FourCC Type;           // four-character code
    uint64_t Position = 0; // offset in the file it was read from; 0 for a new atom
    uint64_t Size = 0;     // whole length including the header
    CAtom* Parent = nullptr;

protected:
    // For readers: takes type, position, size and parent from the reader.
    explicit CAtom(const CAtomReader& reader);
    // For Clone: copies the header fields and sets the new parent.
    CAtom(const CAtom& other, CAtom* parent);

    // Bytes after the header (and, for full atoms, after version and flags are included).
    virtual uint64_t PayloadSize() const { return 0; }
    virtual void WritePayload(CAtomStream&) const {}
    void WriteHeader(CAtomStream& stream) const;
    // The first line of a dump; classes append their own lines after it.
    void DumpLine(int indent, std::string& out, const std::string& text) const;
    virtual void DumpHeader(int verbosity, int indent, std::string& out) const;
    // The class's own lines after the header line.
    virtual void DumpFields(int, int, std::string&) const {}
    // Raises "%s Parent is not %c%c%c%c: %s" or "%s Parent is null".
    void CheckParent(FourCC expected) const;
    [[noreturn]] void RaiseAppendMismatch(const char* what) const;
};

// Sets the size to 0, computes it and adds the 8 bytes of the 64-bit header when it is needed.
uint64_t SizeWithHeader(CAtom& atom);

class CContainerAtom : public CAtom {
public:
    explicit CContainerAtom(FourCC type) : CAtom(type) {}

    uint64_t ComputeSize() override;
    void Write(CAtomStream& stream) override;
    void Dump(int verbosity, int indent, std::string& out) const override;
    void Verify(CVerifyContext& context) override;
    void MakeChunkOffsetsRelative() override;
    void MakeChunkOffsetsAbsolute() override;
    // Merges children: each type present once on both sides is appended child to child; types
    // only the other has go to AppendMissing; types present several times to AppendMultiple.
    void Append(CAtom& other) override;
    virtual void AppendMultiple(CContainerAtom& other, FourCC childType);
    virtual void AppendRoot(CContainerAtom& other);
    virtual void AppendMissing(CAtom& otherChild);

    // Appends the child and adds its current size to this atom's size.
    CAtom* AddChild(std::unique_ptr<CAtom> child);
    // Inserts before index `at`; the size grows as for AddChild.
    CAtom* InsertChild(size_t at, std::unique_ptr<CAtom> child);
    std::unique_ptr<CAtom> RemoveChild(CAtom* child);
    CAtom* FindChild(FourCC type, size_t nth = 0) const;
    size_t CountChildren(FourCC type) const;
    // A descendant by a path of types separated by '/' ("mdia/minf/stbl/stsd").
    CAtom* FindPath(std::string_view path) const;
    const std::vector<std::unique_ptr<CAtom>>& Children() const noexcept { return m_children; }
    // The single child of `type`; raises "%c%c%c%c atom has wrong number of %c%c%c%c atoms".
    CAtom* RequireSingle(FourCC type) const;

protected:
    explicit CContainerAtom(const CAtomReader& reader) : CAtom(reader) {}
    CContainerAtom(const CContainerAtom& other, CAtom* parent);

    void DumpChildren(int verbosity, int indent, std::string& out) const;
    // Reads children while at least 8 bytes are left; raises "CContainerAtom::ReadChildren
    // didn't read the requested atoms" when fewer than `requested` were read.
    void ReadChildren(CAtomReader& reader, uint64_t requested = 0);
    // Clones every child of `other` under this atom.
    void CloneChildren(const CContainerAtom& other);
    // Verifies every child.
    void VerifyChildren(CVerifyContext& context);

private:
    std::vector<std::unique_ptr<CAtom>> m_children;
};

// A container with a version byte and 24 bits of flags after its header.
class CFullAtom : public CContainerAtom {
public:
    CFullAtom(FourCC type, uint8_t version = 0, uint32_t flags = 0)
        : CContainerAtom(type), Version(version), Flags(flags) {
        Size = 12;
    }

    uint8_t Version;
    uint32_t Flags; // 24 bits are written

protected:
    explicit CFullAtom(CAtomReader& reader);
    CFullAtom(const CFullAtom& other, CAtom* parent)
        : CContainerAtom(other, parent), Version(other.Version), Flags(other.Flags) {}

    uint64_t PayloadSize() const override { return 4; }
    void WritePayload(CAtomStream& stream) const override;
    void DumpHeader(int verbosity, int indent, std::string& out) const override;
};

// Clone for a class whose cloning constructor takes (other, parent).
template <typename T>
std::unique_ptr<CAtom> CloneAs(const T& atom, CAtom* parent) {
    return std::make_unique<T>(atom, parent);
}

// Reading factory table: the class for a type met under a parent (see AtomFactory.cpp).
std::unique_ptr<CAtom> CreateAtomForReading(CAtomReader& reader);
