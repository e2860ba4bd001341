// Data references and sample descriptions: dref with its url/urn entries, stsd with its sample
// entries, and the decoder configurations inside a sound entry (esds, and the ALAC record).
#pragma once

#include "mp4/Atom.h"

#include <vector>

class CDREFAtom final : public CFullAtom {
public:
    CDREFAtom() : CFullAtom(MakeFourCC("dref")) { Size = 16; }
    explicit CDREFAtom(CAtomReader& reader);
    CDREFAtom(const CDREFAtom& other, CAtom* parent);

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext& context) override;
    const char* ClassName() const override { return "CDREFAtom"; }

    // Appends an entry and counts it.
    CAtom* AddEntry(std::unique_ptr<CAtom> entry);

    uint32_t EntryCount = 0;

protected:
    uint64_t PayloadSize() const override { return 8; }
    void WritePayload(CAtomStream& stream) const override;
    void DumpFields(int verbosity, int indent, std::string& out) const override;
};

// "url " or "urn ": flag 1 means the media is in this file and no location follows.
class CDataEntryAtom final : public CFullAtom {
public:
    static constexpr uint32_t SelfContained = 1;

    CDataEntryAtom(FourCC type, uint32_t flags) : CFullAtom(type, 0, flags) { Size = 12; }
    explicit CDataEntryAtom(CAtomReader& reader);
    CDataEntryAtom(const CDataEntryAtom& other, CAtom* parent);

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext& context) override;
    // Refuses "Cannot merge content referred to by URL" unless both entries are self-contained.
    void Append(CAtom& other) override;
    const char* ClassName() const override { return "CDataEntryAtom"; }

    std::vector<uint8_t> Name;     // "urn " only, terminator included
    std::vector<uint8_t> Location; // as stored

protected:
    uint64_t PayloadSize() const override { return 4 + Name.size() + Location.size(); }
    void WritePayload(CAtomStream& stream) const override;
};

class CSTSDAtom final : public CFullAtom {
public:
    enum class Content { None, Audio, Video };

    CSTSDAtom() : CFullAtom(MakeFourCC("stsd")) { Size = 16; }
    explicit CSTSDAtom(CAtomReader& reader);
    CSTSDAtom(const CSTSDAtom& other, CAtom* parent);

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext& context) override;
    const char* ClassName() const override { return "CSTSDAtom"; }

    CAtom* AddEntry(std::unique_ptr<CAtom> entry);
    // What the entries describe; raises "STSD atom has too many content children of
    // conflicting types" when they describe both sound and video.
    Content Classify() const;

    uint32_t EntryCount = 0;

protected:
    uint64_t PayloadSize() const override { return 8; }
    void WritePayload(CAtomStream& stream) const override;
    void DumpFields(int verbosity, int indent, std::string& out) const override;
};

// A sample description entry: 6 reserved bytes and the data reference index, then the
// kind-specific fields and child atoms.
class CSampleEntryAtom : public CContainerAtom {
public:
    uint16_t DataReferenceIndex = 1;

protected:
    explicit CSampleEntryAtom(FourCC type) : CContainerAtom(type) {}
    explicit CSampleEntryAtom(CAtomReader& reader);
    CSampleEntryAtom(const CSampleEntryAtom& other, CAtom* parent)
        : CContainerAtom(other, parent), DataReferenceIndex(other.DataReferenceIndex) {}
    uint64_t PayloadSize() const override { return 8; }
    void WritePayload(CAtomStream& stream) const override;
};

// A sound sample entry.
class CSOUNAtom : public CSampleEntryAtom {
public:
    virtual uint16_t GetChannels() const = 0;
    virtual uint16_t GetSampleSize() const = 0;
    // The integer part of the 16.16 rate field (the rate AND 0xFFFF for rates above 65535).
    virtual uint32_t GetSampleRate() const = 0;

protected:
    using CSampleEntryAtom::CSampleEntryAtom;
};

// The sound entry layout of every sound codec: version 0 fields, four more words when the
// version is not 0, the children, then any bytes too short to be an atom, kept as read.
class CSOUNAtomGeneral final : public CSOUNAtom {
public:
    CSOUNAtomGeneral(FourCC type, uint16_t channels, uint16_t sampleSize, uint32_t sampleRate);
    explicit CSOUNAtomGeneral(CAtomReader& reader);
    CSOUNAtomGeneral(const CSOUNAtomGeneral& other, CAtom* parent);

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext& context) override;
    // Refuses "Sound tracks have different sample rates" (and channel counts, sample sizes).
    void Append(CAtom& other) override;
    const char* ClassName() const override { return "CSOUNAtomGeneral"; }
    // The bytes kept from reading follow the children.
    uint64_t ComputeSize() override;
    void Write(CAtomStream& stream) override;

    uint16_t GetChannels() const override { return Channels; }
    uint16_t GetSampleSize() const override { return SampleSize; }
    uint32_t GetSampleRate() const override { return SampleRate >> 16; }

    uint16_t Version = 0;
    uint16_t Revision = 0;
    uint32_t Vendor = 0;
    uint16_t Channels = 0;
    uint16_t SampleSize = 0;
    uint16_t CompressionId = 0;
    uint16_t PacketSize = 0;
    uint32_t SampleRate = 0; // 16.16 fixed point
    uint32_t SamplesPerPacket = 0, BytesPerPacket = 0, BytesPerFrame = 0, BytesPerSample = 0;
    std::vector<uint8_t> Trailing;

protected:
    uint64_t PayloadSize() const override;
    void WritePayload(CAtomStream& stream) const override;
    void DumpFields(int verbosity, int indent, std::string& out) const override;
};

// A decoder configuration held as opaque bytes after version and flags ("esds").
class CESDescriptorAtom : public CFullAtom {
public:
    explicit CESDescriptorAtom(FourCC type, std::vector<uint8_t> payload = {});
    explicit CESDescriptorAtom(CAtomReader& reader);
    CESDescriptorAtom(const CESDescriptorAtom& other, CAtom* parent)
        : CFullAtom(other, parent), Payload(other.Payload) {}

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext&) override {}
    const char* ClassName() const override { return "CESDescriptorAtom"; }

    // Replaces the payload; the size follows.
    void SetPayload(std::vector<uint8_t> payload);

    std::vector<uint8_t> Payload;

protected:
    uint64_t PayloadSize() const override { return 4 + Payload.size(); }
    void WritePayload(CAtomStream& stream) const override;
    void DumpFields(int verbosity, int indent, std::string& out) const override;
};

// The ALAC configuration record (24 bytes, big-endian) inside the "alac" sound entry.
class CALACDesc final : public CESDescriptorAtom {
public:
    static constexpr size_t RecordSize = 24;

    explicit CALACDesc(std::vector<uint8_t> record)
        : CESDescriptorAtom(MakeFourCC("alac"), std::move(record)) {}
    explicit CALACDesc(CAtomReader& reader) : CESDescriptorAtom(reader) {}
    CALACDesc(const CALACDesc& other, CAtom* parent) : CESDescriptorAtom(other, parent) {}

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext& context) override;
    // Refuses records that decode differently; keeps the larger maximum frame size.
    void Append(CAtom& other) override;
    const char* ClassName() const override { return "CALACDesc"; }

    // The record's fields; 0 when the record is too short.
    uint32_t GetFrameLength() const { return Field(0, 4); }
    uint8_t GetCompatibleVersion() const { return static_cast<uint8_t>(Field(4, 1)); }
    uint8_t GetBitDepth() const { return static_cast<uint8_t>(Field(5, 1)); }
    uint8_t GetPb() const { return static_cast<uint8_t>(Field(6, 1)); }
    uint8_t GetMb() const { return static_cast<uint8_t>(Field(7, 1)); }
    uint8_t GetKb() const { return static_cast<uint8_t>(Field(8, 1)); }
    uint8_t GetChannels() const { return static_cast<uint8_t>(Field(9, 1)); }
    uint16_t GetMaxRun() const { return static_cast<uint16_t>(Field(10, 2)); }
    uint32_t GetMaxFrameBytes() const { return Field(12, 4); }
    uint32_t GetAverageBitRate() const { return Field(16, 4); }
    uint32_t GetSampleRate() const { return Field(20, 4); }

protected:
    void DumpFields(int verbosity, int indent, std::string& out) const override;

private:
    uint32_t Field(size_t at, size_t bytes) const;
};

// The sound sample entry types read as CSOUNAtomGeneral, and the video types that only count
// for classifying a track.
bool IsSoundEntryType(FourCC type);
bool IsVideoEntryType(FourCC type);
