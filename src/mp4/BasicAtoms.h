// Atoms without children: file type, media data, free space and uuid.
#pragma once

#include "mp4/Atom.h"

#include <array>
#include <memory>
#include <vector>

class CFTYPAtom final : public CAtom {
public:
    CFTYPAtom() : CAtom(MakeFourCC("ftyp")) { Size = 16; }
    explicit CFTYPAtom(CAtomReader& reader);
    CFTYPAtom(const CFTYPAtom& other, CAtom* parent);

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext&) override {}
    // Adds the other file's brands that this one lacks.
    void Append(CAtom& other) override;
    const char* ClassName() const override { return "CFTYPAtom"; }

    bool HasBrand(FourCC brand) const;
    void AddBrand(FourCC brand);
    // Sets the major brand; a brand not yet listed is inserted at the front of the list.
    void SetMajorBrand(FourCC brand);

    FourCC MajorBrand = 0;
    uint32_t MinorVersion = 0;
    std::vector<FourCC> CompatibleBrands;

protected:
    uint64_t PayloadSize() const override { return 8 + 4 * CompatibleBrands.size(); }
    void WritePayload(CAtomStream& stream) const override;
    void DumpFields(int verbosity, int indent, std::string& out) const override;
};

// One piece of the media data: bytes [Start, End) of a stream.
struct CSourceRange {
    std::shared_ptr<CAtomStream> Stream;
    uint64_t Start = 0;
    uint64_t End = 0;
};

// Media data is never held in memory: the atom names where its bytes lie, and Write copies them.
class CMDATAtom final : public CAtom {
public:
    CMDATAtom() : CAtom(MakeFourCC("mdat")) { Size = 8; }
    explicit CMDATAtom(CAtomReader& reader);
    CMDATAtom(const CMDATAtom& other, CAtom* parent);

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    // Writes the header, then copies every source range in blocks of 64 KiB.
    void Write(CAtomStream& stream) override;
    void Verify(CVerifyContext&) override {}
    // Takes over the other atom's source ranges after its own.
    void Append(CAtom& other) override;
    const char* ClassName() const override { return "CMDATAtom"; }

    // Where the first data byte lies in the file being written (or read).
    virtual uint64_t GetDataOffset() const { return DataOffset; }
    virtual uint64_t GetDataSize() const { return DataLength; }

    void AddSourceRange(std::shared_ptr<CAtomStream> stream, uint64_t start, uint64_t end);
    // The last range and the data length grow by `bytes`.
    void ExtendLastRange(uint64_t bytes);
    const std::vector<CSourceRange>& Ranges() const noexcept { return m_ranges; }

    uint64_t DataOffset = 0;
    uint64_t DataLength = 0;

protected:
    uint64_t PayloadSize() const override { return DataLength; }
    void DumpFields(int verbosity, int indent, std::string& out) const override;

private:
    std::vector<CSourceRange> m_ranges;
};

// Free space, "skip", and every type this library does not interpret: the payload is kept as
// raw bytes and written back unchanged.
class CFREEAtom final : public CAtom {
public:
    // `bytes` zero bytes of padding.
    CFREEAtom(FourCC type, size_t bytes);
    explicit CFREEAtom(CAtomReader& reader);
    CFREEAtom(const CFREEAtom& other, CAtom* parent);

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext&) override {}
    const char* ClassName() const override { return "CFREEAtom"; }

    std::vector<uint8_t> Payload;

protected:
    uint64_t PayloadSize() const override { return Payload.size(); }
    void WritePayload(CAtomStream& stream) const override;
    void DumpFields(int verbosity, int indent, std::string& out) const override;
};

class CUUIDAtom final : public CAtom {
public:
    using Identifier = std::array<uint8_t, 16>;
    // The identifier of the UITS payload.
    static const Identifier UitsIdentifier;

    CUUIDAtom(const Identifier& id, std::vector<uint8_t> payload);
    explicit CUUIDAtom(CAtomReader& reader);
    CUUIDAtom(const CUUIDAtom& other, CAtom* parent);

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext&) override {}
    const char* ClassName() const override { return "CUUIDAtom"; }
    bool IsUits() const { return Id == UitsIdentifier; }

    Identifier Id{};
    std::vector<uint8_t> Payload;

protected:
    uint64_t PayloadSize() const override { return 16 + Payload.size(); }
    void WritePayload(CAtomStream& stream) const override;
    void DumpFields(int verbosity, int indent, std::string& out) const override;
};
