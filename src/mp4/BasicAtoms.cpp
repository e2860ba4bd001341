#include "mp4/BasicAtoms.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

// ---- ftyp -------------------------------------------------------------------------------------

CFTYPAtom::CFTYPAtom(CAtomReader& reader) : CAtom(reader) {
    MajorBrand = reader.U32();
    MinorVersion = reader.U32();
    const uint64_t brands = reader.Remaining() / 4;
    CompatibleBrands.reserve(static_cast<size_t>(brands));
    for (uint64_t i = 0; i < brands; ++i)
        CompatibleBrands.push_back(reader.U32());
}

CFTYPAtom::CFTYPAtom(const CFTYPAtom& other, CAtom* parent)
    : CAtom(other, parent), MajorBrand(other.MajorBrand), MinorVersion(other.MinorVersion),
      CompatibleBrands(other.CompatibleBrands) {}

bool CFTYPAtom::HasBrand(FourCC brand) const {
    return std::find(CompatibleBrands.begin(), CompatibleBrands.end(), brand) !=
           CompatibleBrands.end();
}

void CFTYPAtom::AddBrand(FourCC brand) {
    CompatibleBrands.push_back(brand);
    Size += 4;
}

void CFTYPAtom::SetMajorBrand(FourCC brand) {
    MajorBrand = brand;
    if (!HasBrand(brand)) {
        CompatibleBrands.insert(CompatibleBrands.begin(), brand);
        Size += 4;
    }
}

void CFTYPAtom::Append(CAtom& other) {
    auto* that = dynamic_cast<CFTYPAtom*>(&other);
    if (!that)
        return CAtom::Append(other);
    for (FourCC brand : that->CompatibleBrands)
        if (!HasBrand(brand))
            AddBrand(brand);
}

void CFTYPAtom::WritePayload(CAtomStream& stream) const {
    stream.WriteBE(MajorBrand, 4);
    stream.WriteBE(MinorVersion, 4);
    for (FourCC brand : CompatibleBrands)
        stream.WriteBE(brand, 4);
}

void CFTYPAtom::DumpFields(int, int indent, std::string& out) const {
    std::string line = "Major brand: " + FourCCText(MajorBrand) +
                       ", minor version: " + std::to_string(MinorVersion) + ", compatible:";
    for (FourCC brand : CompatibleBrands)
        line += " '" + FourCCText(brand) + "'";
    DumpLine(indent + 1, out, line);
}

// ---- mdat -------------------------------------------------------------------------------------

CMDATAtom::CMDATAtom(CAtomReader& reader) : CAtom(reader) {
    DataOffset = reader.Position + reader.HeaderSize;
    DataLength = reader.Remaining();
    m_ranges.push_back({reader.Context.Stream, DataOffset, DataOffset + DataLength});
    reader.Skip(DataLength);
}

CMDATAtom::CMDATAtom(const CMDATAtom& other, CAtom* parent)
    : CAtom(other, parent), DataOffset(other.DataOffset), DataLength(other.DataLength),
      m_ranges(other.m_ranges) {}

void CMDATAtom::AddSourceRange(std::shared_ptr<CAtomStream> stream, uint64_t start, uint64_t end) {
    m_ranges.push_back({std::move(stream), start, end});
    DataLength += end - start;
}

void CMDATAtom::ExtendLastRange(uint64_t bytes) {
    if (m_ranges.empty())
        return;
    m_ranges.back().End += bytes;
    DataLength += bytes;
}

void CMDATAtom::Append(CAtom& other) {
    auto* that = dynamic_cast<CMDATAtom*>(&other);
    if (!that)
        return CAtom::Append(other);
    for (const CSourceRange& range : that->m_ranges)
        AddSourceRange(range.Stream, range.Start, range.End);
}

void CMDATAtom::Write(CAtomStream& stream) {
    WriteHeader(stream);
    std::vector<uint8_t> block;
    for (const CSourceRange& range : m_ranges) {
        CAtomStream& source = *range.Stream;
        if (!source.StopWriteBehind())
            Mp4Raise("Error writing %s: %s", source.Name().ToUtf8().c_str(),
                     source.ErrorText().ToUtf8().c_str());
        if (block.empty())
            block.resize(CAtomStream::ReadAheadSize);
        const uint64_t restore = source.Position();
        source.Seek(range.Start);
        for (uint64_t at = range.Start; at < range.End;) {
            const size_t piece =
                static_cast<size_t>(std::min<uint64_t>(block.size(), range.End - at));
            if (source.ReadSome(block.data(), piece) != piece)
                Mp4Raise("Read did not get the number of bytes requested");
            stream.Write(block.data(), piece);
            at += piece;
        }
        source.Seek(restore);
    }
}

void CMDATAtom::DumpFields(int, int indent, std::string& out) const {
    char line[128];
    std::snprintf(line, sizeof line,
                  "Data offset: %" PRIu64 ", data length: %" PRIu64 ", ranges: %zu", DataOffset,
                  DataLength, m_ranges.size());
    DumpLine(indent + 1, out, line);
}

// ---- free, skip and everything not interpreted -----------------------------------------------

CFREEAtom::CFREEAtom(FourCC type, size_t bytes) : CAtom(type), Payload(bytes, 0) {
    Opaque = 1;
    Size = 8 + bytes;
}

CFREEAtom::CFREEAtom(CAtomReader& reader) : CAtom(reader) {
    Opaque = 1;
    Payload = reader.Rest();
}

CFREEAtom::CFREEAtom(const CFREEAtom& other, CAtom* parent)
    : CAtom(other, parent), Payload(other.Payload) {}

void CFREEAtom::WritePayload(CAtomStream& stream) const {
    stream.Write(Payload.data(), Payload.size());
}

void CFREEAtom::DumpFields(int verbosity, int indent, std::string& out) const {
    if (verbosity >= 2)
        DumpLine(indent + 1, out, "Opaque bytes: " + std::to_string(Payload.size()));
}

// ---- uuid -------------------------------------------------------------------------------------

const CUUIDAtom::Identifier CUUIDAtom::UitsIdentifier = {
    0x99, 0x45, 0x4E, 0x27, 0x96, 0x3A, 0x4B, 0x56, 0x8E, 0x76, 0x1D, 0xB6, 0x8C, 0x89, 0x9C, 0xD4};

CUUIDAtom::CUUIDAtom(const Identifier& id, std::vector<uint8_t> payload)
    : CAtom(MakeFourCC("uuid")), Id(id), Payload(std::move(payload)) {
    Size = 24 + Payload.size();
}

CUUIDAtom::CUUIDAtom(CAtomReader& reader) : CAtom(reader) {
    if (reader.Remaining() < 16)
        Mp4Raise("uuid atom must have larger size");
    for (uint8_t& b : Id)
        b = reader.U8();
    Payload = reader.Rest();
}

CUUIDAtom::CUUIDAtom(const CUUIDAtom& other, CAtom* parent)
    : CAtom(other, parent), Id(other.Id), Payload(other.Payload) {}

void CUUIDAtom::WritePayload(CAtomStream& stream) const {
    stream.Write(Id.data(), Id.size());
    stream.Write(Payload.data(), Payload.size());
}

void CUUIDAtom::DumpFields(int, int indent, std::string& out) const {
    std::string line = "Identifier: ";
    char hex[4];
    for (uint8_t b : Id) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    line += ", payload bytes: " + std::to_string(Payload.size());
    DumpLine(indent + 1, out, line);
}
