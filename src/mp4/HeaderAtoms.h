// Movie, track and media headers, the handler and the sound media header.
//
// Version 0 headers hold 32-bit times and durations, version 1 headers 64-bit ones. Times count
// seconds since 1904-01-01 00:00:00; a version 0 header keeps their low 32 bits.
#pragma once

#include "mp4/Atom.h"

#include <array>

// The identity matrix of movie and track headers (16.16 and 2.30 fixed point).
inline constexpr std::array<uint32_t, 9> UnityMatrix = {0x00010000, 0, 0, 0,         0x00010000,
                                                        0,          0, 0, 0x40000000};

// Seconds since 1904-01-01 00:00:00 UTC, now.
uint64_t Mp4TimeNow();

class CMVHDAtom final : public CFullAtom {
public:
    CMVHDAtom();
    explicit CMVHDAtom(CAtomReader& reader);
    CMVHDAtom(const CMVHDAtom& other, CAtom* parent);

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext& context) override;
    // Adds the other movie's duration (in this time scale); keeps the larger next track ID.
    void Append(CAtom& other) override;
    const char* ClassName() const override { return "CMVHDAtom"; }

    uint64_t CreationTime = 0;
    uint64_t ModificationTime = 0;
    uint32_t TimeScale = 0;
    uint64_t Duration = 0;
    uint32_t Rate = 0x00010000;
    uint16_t Volume = 0x0100;
    std::array<uint32_t, 9> Matrix = UnityMatrix;
    std::array<uint32_t, 6> PreDefined{};
    uint32_t NextTrackId = 1;

protected:
    uint64_t PayloadSize() const override;
    void WritePayload(CAtomStream& stream) const override;
    void DumpFields(int verbosity, int indent, std::string& out) const override;
};

class CTKHDAtom final : public CFullAtom {
public:
    // Flags 7: enabled, in movie, in preview.
    CTKHDAtom();
    explicit CTKHDAtom(CAtomReader& reader);
    CTKHDAtom(const CTKHDAtom& other, CAtom* parent);

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext& context) override;
    void Append(CAtom& other) override;
    const char* ClassName() const override { return "CTKHDAtom"; }

    uint64_t CreationTime = 0;
    uint64_t ModificationTime = 0;
    uint32_t TrackId = 0;
    uint64_t Duration = 0;
    uint16_t Layer = 0;
    uint16_t AlternateGroup = 0;
    uint16_t Volume = 0x0100;
    std::array<uint32_t, 9> Matrix = UnityMatrix;
    uint32_t Width = 0;
    uint32_t Height = 0;

protected:
    uint64_t PayloadSize() const override;
    void WritePayload(CAtomStream& stream) const override;
    void DumpFields(int verbosity, int indent, std::string& out) const override;
};

class CMDHDAtom final : public CFullAtom {
public:
    static constexpr uint16_t LanguageUndetermined = 0x55C4; // "und", packed
    CMDHDAtom();
    explicit CMDHDAtom(CAtomReader& reader);
    CMDHDAtom(const CMDHDAtom& other, CAtom* parent);

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext& context) override;
    // Refuses "MDHD: Timescales are different"; adds the durations.
    void Append(CAtom& other) override;
    const char* ClassName() const override { return "CMDHDAtom"; }

    uint64_t CreationTime = 0;
    uint64_t ModificationTime = 0;
    uint32_t TimeScale = 0;
    uint64_t Duration = 0;
    uint16_t Language = LanguageUndetermined;
    uint16_t Quality = 0;

protected:
    uint64_t PayloadSize() const override;
    void WritePayload(CAtomStream& stream) const override;
    void DumpFields(int verbosity, int indent, std::string& out) const override;
};

class CHDLRAtom final : public CFullAtom {
public:
    CHDLRAtom(FourCC handlerType, std::vector<uint8_t> name);
    explicit CHDLRAtom(CAtomReader& reader);
    CHDLRAtom(const CHDLRAtom& other, CAtom* parent);

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext&) override {}
    // Refuses "HDLR: Handler types are different".
    void Append(CAtom& other) override;
    const char* ClassName() const override { return "CHDLRAtom"; }

    uint32_t PreDefined = 0;
    FourCC HandlerType = 0;
    std::vector<uint8_t> Name; // as stored, terminator included
    // A payload that did not parse is kept and written back unchanged.
    bool Unparsed = false;
    std::vector<uint8_t> RawPayload;

protected:
    uint64_t PayloadSize() const override;
    void WritePayload(CAtomStream& stream) const override;
    void DumpFields(int verbosity, int indent, std::string& out) const override;
};

class CSMHDAtom final : public CFullAtom {
public:
    CSMHDAtom() : CFullAtom(MakeFourCC("smhd")) { Size = 16; }
    explicit CSMHDAtom(CAtomReader& reader);
    CSMHDAtom(const CSMHDAtom& other, CAtom* parent)
        : CFullAtom(other, parent), Balance(other.Balance) {}

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext& context) override;
    void Append(CAtom&) override {}
    const char* ClassName() const override { return "CSMHDAtom"; }

    uint16_t Balance = 0;

protected:
    uint64_t PayloadSize() const override { return 4 + 4; }
    void WritePayload(CAtomStream& stream) const override;
};
