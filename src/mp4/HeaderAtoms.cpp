#include "mp4/HeaderAtoms.h"

#include "foundation/ZrByteOrder.h"
#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace {

// Seconds from 1904-01-01 to 1970-01-01.
constexpr uint64_t SecondsFrom1904To1970 = 2082844800ull;

uint64_t ReadTime(CAtomReader& reader, uint8_t version) {
    return version == 1 ? reader.U64() : reader.U32();
}

void WriteTime(CAtomStream& stream, uint64_t value, uint8_t version) {
    if (version == 1)
        stream.WriteBE(value, 8);
    else
        stream.WriteBE(value & 0xFFFFFFFF, 4);
}

void WriteDuration(CAtomStream& stream, uint64_t value, uint8_t version, const char* atom) {
    if (version == 1) {
        stream.WriteBE(value, 8);
        return;
    }
    if (value > 0xFFFFFFFF)
        Mp4Raise("%s duration does not fit in a version 0 header", atom);
    stream.WriteBE(value, 4);
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    return line;
}

} // namespace

uint64_t Mp4TimeNow() {
    const std::time_t now = std::time(nullptr);
    return static_cast<uint64_t>(now < 0 ? 0 : now) + SecondsFrom1904To1970;
}

// ---- mvhd -------------------------------------------------------------------------------------

CMVHDAtom::CMVHDAtom() : CFullAtom(MakeFourCC("mvhd")) {
    Size = 108;
}

CMVHDAtom::CMVHDAtom(CAtomReader& reader) : CFullAtom(reader) {
    CreationTime = ReadTime(reader, Version);
    ModificationTime = ReadTime(reader, Version);
    TimeScale = reader.U32();
    Duration = ReadTime(reader, Version);
    Rate = reader.U32();
    Volume = reader.U16();
    reader.SkipZero(10);
    for (uint32_t& m : Matrix)
        m = reader.U32();
    for (uint32_t& p : PreDefined)
        p = reader.U32();
    NextTrackId = reader.U32();
}

CMVHDAtom::CMVHDAtom(const CMVHDAtom& other, CAtom* parent)
    : CFullAtom(other, parent), CreationTime(other.CreationTime),
      ModificationTime(other.ModificationTime), TimeScale(other.TimeScale),
      Duration(other.Duration), Rate(other.Rate), Volume(other.Volume), Matrix(other.Matrix),
      PreDefined(other.PreDefined), NextTrackId(other.NextTrackId) {}

uint64_t CMVHDAtom::PayloadSize() const {
    return Version == 1 ? 112 : 100;
}

void CMVHDAtom::WritePayload(CAtomStream& stream) const {
    CFullAtom::WritePayload(stream);
    WriteTime(stream, CreationTime, Version);
    WriteTime(stream, ModificationTime, Version);
    stream.WriteBE(TimeScale, 4);
    WriteDuration(stream, Duration, Version, "mvhd");
    stream.WriteBE(Rate, 4);
    stream.WriteBE(Volume, 2);
    stream.WriteBE(0, 2);
    stream.WriteBE(0, 8);
    for (uint32_t m : Matrix)
        stream.WriteBE(m, 4);
    for (uint32_t p : PreDefined)
        stream.WriteBE(p, 4);
    stream.WriteBE(NextTrackId, 4);
}

void CMVHDAtom::Verify(CVerifyContext&) {
    CheckParent(MakeFourCC("moov"));
}

void CMVHDAtom::Append(CAtom& other) {
    auto* that = dynamic_cast<CMVHDAtom*>(&other);
    if (!that)
        return CAtom::Append(other);
    if (that->TimeScale == 0)
        Mp4Raise("MVHD: Timescale of the appended movie is 0");
    Duration += that->Duration * TimeScale / that->TimeScale;
    NextTrackId = std::max(NextTrackId, that->NextTrackId);
}

void CMVHDAtom::DumpFields(int, int indent, std::string& out) const {
    DumpLine(indent + 1, out,
             Format("Created: %" PRIu64 ", modified: %" PRIu64
                    ", time scale: %u, duration: %" PRIu64 ", next track ID: %u",
                    CreationTime, ModificationTime, TimeScale, Duration, NextTrackId));
}

// ---- tkhd -------------------------------------------------------------------------------------

CTKHDAtom::CTKHDAtom() : CFullAtom(MakeFourCC("tkhd"), 0, 7) {
    Size = 92;
}

CTKHDAtom::CTKHDAtom(CAtomReader& reader) : CFullAtom(reader) {
    CreationTime = ReadTime(reader, Version);
    ModificationTime = ReadTime(reader, Version);
    TrackId = reader.U32();
    reader.SkipZero(4);
    Duration = ReadTime(reader, Version);
    reader.SkipZero(8);
    Layer = reader.U16();
    AlternateGroup = reader.U16();
    Volume = reader.U16();
    reader.SkipZero(2);
    for (uint32_t& m : Matrix)
        m = reader.U32();
    Width = reader.U32();
    Height = reader.U32();
}

CTKHDAtom::CTKHDAtom(const CTKHDAtom& other, CAtom* parent)
    : CFullAtom(other, parent), CreationTime(other.CreationTime),
      ModificationTime(other.ModificationTime), TrackId(other.TrackId), Duration(other.Duration),
      Layer(other.Layer), AlternateGroup(other.AlternateGroup), Volume(other.Volume),
      Matrix(other.Matrix), Width(other.Width), Height(other.Height) {}

uint64_t CTKHDAtom::PayloadSize() const {
    return Version == 1 ? 96 : 84;
}

void CTKHDAtom::WritePayload(CAtomStream& stream) const {
    CFullAtom::WritePayload(stream);
    WriteTime(stream, CreationTime, Version);
    WriteTime(stream, ModificationTime, Version);
    stream.WriteBE(TrackId, 4);
    stream.WriteBE(0, 4);
    WriteDuration(stream, Duration, Version, "tkhd");
    stream.WriteBE(0, 8);
    stream.WriteBE(Layer, 2);
    stream.WriteBE(AlternateGroup, 2);
    stream.WriteBE(Volume, 2);
    stream.WriteBE(0, 2);
    for (uint32_t m : Matrix)
        stream.WriteBE(m, 4);
    stream.WriteBE(Width, 4);
    stream.WriteBE(Height, 4);
}

void CTKHDAtom::Verify(CVerifyContext&) {
    CheckParent(MakeFourCC("trak"));
}

void CTKHDAtom::Append(CAtom& other) {
    auto* that = dynamic_cast<CTKHDAtom*>(&other);
    if (!that)
        return CAtom::Append(other);
    Duration += that->Duration;
}

void CTKHDAtom::DumpFields(int, int indent, std::string& out) const {
    DumpLine(indent + 1, out,
             Format("Track ID: %u, duration: %" PRIu64 ", volume: 0x%04X, width: %u, height: %u",
                    TrackId, Duration, Volume, Width, Height));
}

// ---- mdhd -------------------------------------------------------------------------------------

CMDHDAtom::CMDHDAtom() : CFullAtom(MakeFourCC("mdhd")) {
    Size = 32;
}

CMDHDAtom::CMDHDAtom(CAtomReader& reader) : CFullAtom(reader) {
    CreationTime = ReadTime(reader, Version);
    ModificationTime = ReadTime(reader, Version);
    TimeScale = reader.U32();
    Duration = ReadTime(reader, Version);
    Language = reader.U16();
    Quality = reader.U16();
}

CMDHDAtom::CMDHDAtom(const CMDHDAtom& other, CAtom* parent)
    : CFullAtom(other, parent), CreationTime(other.CreationTime),
      ModificationTime(other.ModificationTime), TimeScale(other.TimeScale),
      Duration(other.Duration), Language(other.Language), Quality(other.Quality) {}

uint64_t CMDHDAtom::PayloadSize() const {
    return Version == 1 ? 36 : 24;
}

void CMDHDAtom::WritePayload(CAtomStream& stream) const {
    CFullAtom::WritePayload(stream);
    WriteTime(stream, CreationTime, Version);
    WriteTime(stream, ModificationTime, Version);
    stream.WriteBE(TimeScale, 4);
    WriteDuration(stream, Duration, Version, "mdhd");
    stream.WriteBE(Language, 2);
    stream.WriteBE(Quality, 2);
}

void CMDHDAtom::Verify(CVerifyContext&) {
    CheckParent(MakeFourCC("mdia"));
}

void CMDHDAtom::Append(CAtom& other) {
    auto* that = dynamic_cast<CMDHDAtom*>(&other);
    if (!that)
        return CAtom::Append(other);
    if (that->TimeScale != TimeScale)
        Mp4Raise("MDHD: Timescales are different");
    Duration += that->Duration;
}

void CMDHDAtom::DumpFields(int, int indent, std::string& out) const {
    DumpLine(indent + 1, out,
             Format("Time scale: %u, duration: %" PRIu64 ", language: 0x%04X", TimeScale, Duration,
                    Language));
}

// ---- hdlr -------------------------------------------------------------------------------------

CHDLRAtom::CHDLRAtom(FourCC handlerType, std::vector<uint8_t> name)
    : CFullAtom(MakeFourCC("hdlr")), HandlerType(handlerType), Name(std::move(name)) {
    Size = 32 + Name.size();
}

CHDLRAtom::CHDLRAtom(CAtomReader& reader) : CFullAtom(reader) {
    RawPayload = reader.Rest();
    const std::vector<uint8_t>& p = RawPayload;
    bool reservedZero = p.size() >= 20;
    for (size_t i = 8; reservedZero && i < 20; ++i)
        reservedZero = p[i] == 0;
    if (!reservedZero) {
        Unparsed = true;
        return;
    }
    PreDefined = zrbytes::LoadBE32(p.data());
    HandlerType = zrbytes::LoadBE32(p.data() + 4);
    Name.assign(p.begin() + 20, p.end());
    RawPayload.clear();
}

CHDLRAtom::CHDLRAtom(const CHDLRAtom& other, CAtom* parent)
    : CFullAtom(other, parent), PreDefined(other.PreDefined), HandlerType(other.HandlerType),
      Name(other.Name), Unparsed(other.Unparsed), RawPayload(other.RawPayload) {}

uint64_t CHDLRAtom::PayloadSize() const {
    return 4 + (Unparsed ? RawPayload.size() : 20 + Name.size());
}

void CHDLRAtom::WritePayload(CAtomStream& stream) const {
    CFullAtom::WritePayload(stream);
    if (Unparsed) {
        stream.Write(RawPayload.data(), RawPayload.size());
        return;
    }
    stream.WriteBE(PreDefined, 4);
    stream.WriteBE(HandlerType, 4);
    stream.WriteBE(0, 4);
    stream.WriteBE(0, 8);
    stream.Write(Name.data(), Name.size());
}

void CHDLRAtom::Append(CAtom& other) {
    auto* that = dynamic_cast<CHDLRAtom*>(&other);
    if (!that)
        return CAtom::Append(other);
    if (that->HandlerType != HandlerType)
        Mp4Raise("HDLR: Handler types are different");
}

void CHDLRAtom::DumpFields(int, int indent, std::string& out) const {
    if (Unparsed)
        DumpLine(indent + 1, out, "Unparsed payload: " + std::to_string(RawPayload.size()));
    else
        DumpLine(indent + 1, out, "Handler type: " + FourCCText(HandlerType));
}

// ---- smhd -------------------------------------------------------------------------------------

CSMHDAtom::CSMHDAtom(CAtomReader& reader) : CFullAtom(reader) {
    Balance = reader.U16();
    reader.SkipZero(2);
}

void CSMHDAtom::WritePayload(CAtomStream& stream) const {
    CFullAtom::WritePayload(stream);
    stream.WriteBE(Balance, 2);
    stream.WriteBE(0, 2);
}

void CSMHDAtom::Verify(CVerifyContext&) {
    CheckParent(MakeFourCC("minf"));
}
