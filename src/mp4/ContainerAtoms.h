// The containers of the movie: moov, trak, mdia, minf, dinf, stbl, and the metadata containers
// udta, meta and ilst (whose item atoms belong to the tag classes).
#pragma once

#include "mp4/Atom.h"
#include "mp4/DescriptionAtoms.h"

#include <utility>
#include <vector>

// A plain container whose Verify checks its parent and verifies its children.
template <const char* Name, FourCC ExpectedParent>
class CSimpleContainerAtom : public CContainerAtom {
public:
    explicit CSimpleContainerAtom(FourCC type) : CContainerAtom(type) { Size = 8; }
    explicit CSimpleContainerAtom(CAtomReader& reader) : CContainerAtom(reader) {
        ReadChildren(reader);
    }
    CSimpleContainerAtom(const CSimpleContainerAtom& other, CAtom* parent)
        : CContainerAtom(other, parent) {
        CloneChildren(other);
    }
    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    const char* ClassName() const override { return Name; }
    void Verify(CVerifyContext& context) override {
        if (ExpectedParent)
            CheckParent(ExpectedParent);
        VerifyChildren(context);
    }
};

class CSTBLAtom;

class CTRAKAtom final : public CContainerAtom {
public:
    CTRAKAtom() : CContainerAtom(MakeFourCC("trak")) { Size = 8; }
    explicit CTRAKAtom(CAtomReader& reader);
    CTRAKAtom(const CTRAKAtom& other, CAtom* parent);

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    // Finds the single tkhd and mdia, and the media's single mdhd, hdlr, minf and stbl.
    void Verify(CVerifyContext& context) override;
    // Refuses edit lists ("ELST boxes are too complex to merge.").
    void Append(CAtom& other) override;
    const char* ClassName() const override { return "CTRAKAtom"; }

    // Set by Verify.
    CSTBLAtom* SampleTable() const { return m_stbl; }

private:
    CSTBLAtom* m_stbl = nullptr;
};

class CMOOVAtom final : public CContainerAtom {
public:
    CMOOVAtom() : CContainerAtom(MakeFourCC("moov")) { Size = 8; }
    explicit CMOOVAtom(CAtomReader& reader);
    CMOOVAtom(const CMOOVAtom& other, CAtom* parent);

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    // Takes the single mvhd, verifies every track; with the overlap check, raises "Overlapping
    // samples" when chunks of the tracks overlap.
    void Verify(CVerifyContext& context) override;
    // Merges the other movie's tracks into these, track by track.
    void Append(CAtom& other) override;
    const char* ClassName() const override { return "CMOOVAtom"; }

    const std::vector<CTRAKAtom*>& Tracks() const noexcept { return m_tracks; }

private:
    std::vector<CTRAKAtom*> m_tracks;
};

inline constexpr char MdiaName[] = "CMDIAAtom";
inline constexpr char MinfName[] = "CMINFAtom";
inline constexpr char DinfName[] = "CDINFAtom";
inline constexpr char IlstName[] = "CILSTAtom";

using CMDIAAtom = CSimpleContainerAtom<MdiaName, MakeFourCC("trak")>;
using CMINFAtom = CSimpleContainerAtom<MinfName, MakeFourCC("mdia")>;
using CDINFAtom = CSimpleContainerAtom<DinfName, 0>;
using CILSTAtom = CSimpleContainerAtom<IlstName, MakeFourCC("meta")>;

class CSTBLAtom final : public CContainerAtom {
public:
    CSTBLAtom() : CContainerAtom(MakeFourCC("stbl")) { Size = 8; }
    explicit CSTBLAtom(CAtomReader& reader);
    CSTBLAtom(const CSTBLAtom& other, CAtom* parent);

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    // Finds exactly one stsd, stts, stsc, stsz and one stco or co64, checks that the tables
    // describe the same samples and chunks, and links each chunk to its media data atom.
    void Verify(CVerifyContext& context) override;
    // Appends the other track's samples after these (chunk offsets must be relative).
    void Append(CAtom& other) override;
    const char* ClassName() const override { return "CSTBLAtom"; }

    // Set by Verify: what the track holds, and each chunk's (offset, bytes).
    CSTSDAtom::Content Content = CSTSDAtom::Content::None;
    std::vector<std::pair<uint64_t, uint64_t>> ChunkExtents;

private:
    void CheckTables(CVerifyContext& context);
};

// User data: children, then any bytes too short to be an atom, written back unchanged.
class CUdtaAtom final : public CContainerAtom {
public:
    CUdtaAtom() : CContainerAtom(MakeFourCC("udta")) { Size = 8; }
    explicit CUdtaAtom(CAtomReader& reader);
    CUdtaAtom(const CUdtaAtom& other, CAtom* parent);

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext& context) override { VerifyChildren(context); }
    uint64_t ComputeSize() override;
    void Write(CAtomStream& stream) override;
    const char* ClassName() const override { return "CUdtaAtom"; }

    std::vector<uint8_t> Trailing;
};

// Metadata: version and flags, then children (a handler and the item list). Some writers leave
// out version and flags; such a meta is written back the same way.
class CMetaAtom : public CFullAtom {
public:
    CMetaAtom() : CFullAtom(MakeFourCC("meta")) {}
    explicit CMetaAtom(CAtomReader& reader);
    CMetaAtom(const CMetaAtom& other, CAtom* parent);

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext& context) override { VerifyChildren(context); }
    const char* ClassName() const override { return "CMetaAtom"; }

    bool Headerless = false; // no version and flags

protected:
    uint64_t PayloadSize() const override { return Headerless ? 0 : 4; }
    void WritePayload(CAtomStream& stream) const override;
};
