// Chunk offsets, and every fix-up of them.
//
// Each chunk remembers the media data atom that holds it. While a file is laid out the offsets
// are made relative to their atom's data (MakeChunkOffsetsRelative), the media data atoms get
// their new data offsets, and the offsets are made absolute again. stco holds 32-bit offsets;
// a file whose chunks lie beyond 4 GiB gets co64 instead (WidenChunkOffsets).
#pragma once

#include "mp4/Atom.h"

#include <vector>

class CChunkOffsetAtomBase : public CFullAtom {
public:
    void Verify(CVerifyContext& context) override;
    void MakeChunkOffsetsRelative() override;
    void MakeChunkOffsetsAbsolute() override;
    // Takes over the other table's chunks and their media data atoms.
    void Append(CAtom& other) override;

    virtual uint64_t GetChunkCount() const { return m_offsets.size(); }
    // -1 past the end.
    virtual int64_t GetChunkOffset(uint64_t index) const;
    virtual void AddChunkOffset(uint64_t offset, CMDATAtom* mdat);

    CMDATAtom* GetChunkMdat(uint64_t index) const { return m_mdats[static_cast<size_t>(index)]; }
    // Links every chunk of `chunkBytes[i]` bytes to the media data atom that holds it; raises
    // when one lies outside all of them. With no media data atom at all, nothing is linked.
    void MatchChunks(const std::vector<CMDATAtom*>& mdats, const std::vector<uint64_t>& chunkBytes);
    uint64_t LargestOffset() const;
    // Bytes per stored offset: 4 (stco) or 8 (co64).
    virtual unsigned EntryBytes() const = 0;

protected:
    explicit CChunkOffsetAtomBase(FourCC type) : CFullAtom(type) { Size = 16; }
    explicit CChunkOffsetAtomBase(CAtomReader& reader);
    CChunkOffsetAtomBase(const CChunkOffsetAtomBase& other, CAtom* parent)
        : CFullAtom(other, parent), m_offsets(other.m_offsets), m_mdats(other.m_mdats),
          m_relative(other.m_relative) {}
    // Copies the chunks of another table of either width.
    void CopyChunks(const CChunkOffsetAtomBase& other);

    uint64_t PayloadSize() const override { return 8 + EntryBytes() * m_offsets.size(); }
    void WritePayload(CAtomStream& stream) const override;
    void DumpFields(int verbosity, int indent, std::string& out) const override;

private:
    std::vector<uint64_t> m_offsets;
    std::vector<CMDATAtom*> m_mdats; // not owned; null for a chunk not linked
    bool m_relative = false;
};

class CSTCOAtom final : public CChunkOffsetAtomBase {
public:
    CSTCOAtom() : CChunkOffsetAtomBase(MakeFourCC("stco")) {}
    explicit CSTCOAtom(CAtomReader& reader) : CChunkOffsetAtomBase(reader) {}
    CSTCOAtom(const CSTCOAtom& other, CAtom* parent) : CChunkOffsetAtomBase(other, parent) {}

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    const char* ClassName() const override { return "CSTCOAtom"; }
    unsigned EntryBytes() const override { return 4; }
};

class CCO64Atom final : public CChunkOffsetAtomBase {
public:
    CCO64Atom() : CChunkOffsetAtomBase(MakeFourCC("co64")) {}
    explicit CCO64Atom(CAtomReader& reader) : CChunkOffsetAtomBase(reader) {}
    CCO64Atom(const CCO64Atom& other, CAtom* parent) : CChunkOffsetAtomBase(other, parent) {}
    // The same chunks as a 32-bit table.
    explicit CCO64Atom(const CChunkOffsetAtomBase& narrow);

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    const char* ClassName() const override { return "CCO64Atom"; }
    unsigned EntryBytes() const override { return 8; }
};

// Replaces every stco below `atom` that holds an offset beyond 32 bits by a co64 with the same
// chunks. Returns true when it replaced one (the layout must then be computed again).
bool WidenChunkOffsets(CAtom& atom);
