#include "mp4/DescriptionAtoms.h"

#include "foundation/ZrByteOrder.h"
#include <algorithm>
#include <array>

namespace {

constexpr std::array SoundEntryTypes = {
    MakeFourCC("alac"), MakeFourCC("mp4a"), MakeFourCC("ac-3"), MakeFourCC("ec-3"),
    MakeFourCC("ac-4"), MakeFourCC("fLaC"), MakeFourCC("Opus"), MakeFourCC("alaw"),
    MakeFourCC("ulaw"), MakeFourCC("sowt"), MakeFourCC("twos"), MakeFourCC("lpcm"),
    MakeFourCC("in24"), MakeFourCC("in32"), MakeFourCC("fl32"), MakeFourCC("fl64"),
    MakeFourCC("raw "), MakeFourCC("samr"), MakeFourCC("sawb"), MakeFourCC(".mp3"),
    MakeFourCC("mp3 "), MakeFourCC("dtsc"), MakeFourCC("dtsh"), MakeFourCC("dtsl"),
    MakeFourCC("dtse"), MakeFourCC("ipcm"), MakeFourCC("fpcm"), MakeFourCC("enca"),
};

constexpr std::array VideoEntryTypes = {
    MakeFourCC("avc1"), MakeFourCC("avc2"), MakeFourCC("avc3"), MakeFourCC("avc4"),
    MakeFourCC("hvc1"), MakeFourCC("hev1"), MakeFourCC("mp4v"), MakeFourCC("s263"),
    MakeFourCC("h263"), MakeFourCC("jpeg"), MakeFourCC("mjpa"), MakeFourCC("mjpb"),
    MakeFourCC("av01"), MakeFourCC("vp08"), MakeFourCC("vp09"), MakeFourCC("apch"),
    MakeFourCC("apcn"), MakeFourCC("apcs"), MakeFourCC("apco"), MakeFourCC("ap4h"),
    MakeFourCC("dvh1"), MakeFourCC("dvhe"), MakeFourCC("encv"),
};

} // namespace

bool IsSoundEntryType(FourCC type) {
    return std::find(SoundEntryTypes.begin(), SoundEntryTypes.end(), type) != SoundEntryTypes.end();
}

bool IsVideoEntryType(FourCC type) {
    return std::find(VideoEntryTypes.begin(), VideoEntryTypes.end(), type) != VideoEntryTypes.end();
}

// ---- dref -------------------------------------------------------------------------------------

CDREFAtom::CDREFAtom(CAtomReader& reader) : CFullAtom(reader) {
    EntryCount = reader.U32();
    ReadChildren(reader, EntryCount);
}

CDREFAtom::CDREFAtom(const CDREFAtom& other, CAtom* parent)
    : CFullAtom(other, parent), EntryCount(other.EntryCount) {
    CloneChildren(other);
}

CAtom* CDREFAtom::AddEntry(std::unique_ptr<CAtom> entry) {
    ++EntryCount;
    return AddChild(std::move(entry));
}

void CDREFAtom::WritePayload(CAtomStream& stream) const {
    CFullAtom::WritePayload(stream);
    stream.WriteBE(EntryCount, 4);
}

void CDREFAtom::Verify(CVerifyContext& context) {
    CheckParent(MakeFourCC("dinf"));
    VerifyChildren(context);
}

void CDREFAtom::DumpFields(int, int indent, std::string& out) const {
    DumpLine(indent + 1, out, "Entries: " + std::to_string(EntryCount));
}

// ---- url / urn --------------------------------------------------------------------------------

CDataEntryAtom::CDataEntryAtom(CAtomReader& reader) : CFullAtom(reader) {
    std::vector<uint8_t> rest = reader.Rest();
    if (Type == MakeFourCC("urn ")) {
        const auto end = std::find(rest.begin(), rest.end(), uint8_t{0});
        const auto nameEnd = end == rest.end() ? end : end + 1;
        Name.assign(rest.begin(), nameEnd);
        Location.assign(nameEnd, rest.end());
    } else {
        Location = std::move(rest);
    }
}

CDataEntryAtom::CDataEntryAtom(const CDataEntryAtom& other, CAtom* parent)
    : CFullAtom(other, parent), Name(other.Name), Location(other.Location) {}

void CDataEntryAtom::WritePayload(CAtomStream& stream) const {
    CFullAtom::WritePayload(stream);
    stream.Write(Name.data(), Name.size());
    stream.Write(Location.data(), Location.size());
}

void CDataEntryAtom::Verify(CVerifyContext&) {
    CheckParent(MakeFourCC("dref"));
}

void CDataEntryAtom::Append(CAtom& other) {
    auto* that = dynamic_cast<CDataEntryAtom*>(&other);
    if (!that)
        return CAtom::Append(other);
    if (!(Flags & SelfContained) || !(that->Flags & SelfContained))
        Mp4Raise("Cannot merge content referred to by URL");
}

// ---- stsd -------------------------------------------------------------------------------------

CSTSDAtom::CSTSDAtom(CAtomReader& reader) : CFullAtom(reader) {
    EntryCount = reader.U32();
    ReadChildren(reader, EntryCount);
}

CSTSDAtom::CSTSDAtom(const CSTSDAtom& other, CAtom* parent)
    : CFullAtom(other, parent), EntryCount(other.EntryCount) {
    CloneChildren(other);
}

CAtom* CSTSDAtom::AddEntry(std::unique_ptr<CAtom> entry) {
    ++EntryCount;
    return AddChild(std::move(entry));
}

CSTSDAtom::Content CSTSDAtom::Classify() const {
    bool audio = false, video = false;
    for (const auto& child : Children()) {
        audio |= dynamic_cast<const CSOUNAtom*>(child.get()) != nullptr;
        video |= IsVideoEntryType(child->Type);
    }
    if (audio && video)
        Mp4Raise("STSD atom has too many content children of conflicting types");
    return audio ? Content::Audio : video ? Content::Video : Content::None;
}

void CSTSDAtom::WritePayload(CAtomStream& stream) const {
    CFullAtom::WritePayload(stream);
    stream.WriteBE(EntryCount, 4);
}

void CSTSDAtom::Verify(CVerifyContext& context) {
    CheckParent(MakeFourCC("stbl"));
    VerifyChildren(context);
    Classify();
}

void CSTSDAtom::DumpFields(int, int indent, std::string& out) const {
    DumpLine(indent + 1, out, "Entries: " + std::to_string(EntryCount));
}

// ---- sample entries ---------------------------------------------------------------------------

CSampleEntryAtom::CSampleEntryAtom(CAtomReader& reader) : CContainerAtom(reader) {
    reader.SkipZero(6);
    DataReferenceIndex = reader.U16();
}

void CSampleEntryAtom::WritePayload(CAtomStream& stream) const {
    stream.WriteBE(0, 6);
    stream.WriteBE(DataReferenceIndex, 2);
}

CSOUNAtomGeneral::CSOUNAtomGeneral(FourCC type, uint16_t channels, uint16_t sampleSize,
                                   uint32_t sampleRate)
    : CSOUNAtom(type), Channels(channels), SampleSize(sampleSize),
      SampleRate((sampleRate & 0xFFFF) << 16) {
    Size = 36;
}

CSOUNAtomGeneral::CSOUNAtomGeneral(CAtomReader& reader) : CSOUNAtom(reader) {
    Version = reader.U16();
    Revision = reader.U16();
    Vendor = reader.U32();
    Channels = reader.U16();
    SampleSize = reader.U16();
    CompressionId = reader.U16();
    PacketSize = reader.U16();
    SampleRate = reader.U32();
    if (Version != 0) {
        SamplesPerPacket = reader.U32();
        BytesPerPacket = reader.U32();
        BytesPerFrame = reader.U32();
        BytesPerSample = reader.U32();
    }
    ReadChildren(reader);
    Trailing = reader.Rest();
}

CSOUNAtomGeneral::CSOUNAtomGeneral(const CSOUNAtomGeneral& other, CAtom* parent)
    : CSOUNAtom(other, parent), Version(other.Version), Revision(other.Revision),
      Vendor(other.Vendor), Channels(other.Channels), SampleSize(other.SampleSize),
      CompressionId(other.CompressionId), PacketSize(other.PacketSize),
      SampleRate(other.SampleRate), SamplesPerPacket(other.SamplesPerPacket),
      BytesPerPacket(other.BytesPerPacket), BytesPerFrame(other.BytesPerFrame),
      BytesPerSample(other.BytesPerSample), Trailing(other.Trailing) {
    CloneChildren(other);
}

uint64_t CSOUNAtomGeneral::PayloadSize() const {
    return CSampleEntryAtom::PayloadSize() + 20 + (Version != 0 ? 16 : 0);
}

void CSOUNAtomGeneral::WritePayload(CAtomStream& stream) const {
    CSampleEntryAtom::WritePayload(stream);
    stream.WriteBE(Version, 2);
    stream.WriteBE(Revision, 2);
    stream.WriteBE(Vendor, 4);
    stream.WriteBE(Channels, 2);
    stream.WriteBE(SampleSize, 2);
    stream.WriteBE(CompressionId, 2);
    stream.WriteBE(PacketSize, 2);
    stream.WriteBE(SampleRate, 4);
    if (Version != 0) {
        stream.WriteBE(SamplesPerPacket, 4);
        stream.WriteBE(BytesPerPacket, 4);
        stream.WriteBE(BytesPerFrame, 4);
        stream.WriteBE(BytesPerSample, 4);
    }
}

uint64_t CSOUNAtomGeneral::ComputeSize() {
    CContainerAtom::ComputeSize();
    Size += Trailing.size();
    return Size;
}

void CSOUNAtomGeneral::Write(CAtomStream& stream) {
    CContainerAtom::Write(stream);
    stream.Write(Trailing.data(), Trailing.size());
}

void CSOUNAtomGeneral::Verify(CVerifyContext& context) {
    CheckParent(MakeFourCC("stsd"));
    VerifyChildren(context);
}

void CSOUNAtomGeneral::Append(CAtom& other) {
    auto* that = dynamic_cast<CSOUNAtomGeneral*>(&other);
    if (!that)
        return CAtom::Append(other);
    if (that->SampleRate != SampleRate)
        Mp4Raise("Sound tracks have different sample rates");
    if (that->Channels != Channels)
        Mp4Raise("Sound tracks have different channel counts");
    if (that->SampleSize != SampleSize)
        Mp4Raise("Sound tracks have different sample sizes");
    CContainerAtom::Append(other);
}

void CSOUNAtomGeneral::DumpFields(int, int indent, std::string& out) const {
    DumpLine(indent + 1, out,
             "Channels: " + std::to_string(Channels) + ", sample size: " +
                 std::to_string(SampleSize) + ", sample rate: " + std::to_string(SampleRate >> 16) +
                 ", version: " + std::to_string(Version));
}

// ---- esds and the ALAC record -----------------------------------------------------------------

CESDescriptorAtom::CESDescriptorAtom(FourCC type, std::vector<uint8_t> payload)
    : CFullAtom(type), Payload(std::move(payload)) {
    Size = 12 + Payload.size();
}

CESDescriptorAtom::CESDescriptorAtom(CAtomReader& reader) : CFullAtom(reader) {
    Payload = reader.Rest();
}

void CESDescriptorAtom::SetPayload(std::vector<uint8_t> payload) {
    Size = Size - Payload.size() + payload.size();
    Payload = std::move(payload);
}

void CESDescriptorAtom::WritePayload(CAtomStream& stream) const {
    CFullAtom::WritePayload(stream);
    stream.Write(Payload.data(), Payload.size());
}

void CESDescriptorAtom::DumpFields(int, int indent, std::string& out) const {
    DumpLine(indent + 1, out, "Descriptor bytes: " + std::to_string(Payload.size()));
}

uint32_t CALACDesc::Field(size_t at, size_t bytes) const {
    if (Payload.size() < at + bytes)
        return 0;
    return static_cast<uint32_t>(
        zrbytes::LoadBE(Payload.data() + at, static_cast<unsigned>(bytes)));
}

void CALACDesc::Verify(CVerifyContext&) {
    if (!Parent)
        Mp4Raise("%s Parent is null", ClassName());
    if (!dynamic_cast<CSOUNAtom*>(Parent))
        Mp4Raise("%s Parent is not alac: %s", ClassName(), FourCCText(Parent->Type).c_str());
    if (Payload.size() < RecordSize)
        Mp4Raise("ALAC configuration record is %zu bytes, expected %zu", Payload.size(),
                 RecordSize);
}

void CALACDesc::Append(CAtom& other) {
    auto* that = dynamic_cast<CALACDesc*>(&other);
    if (!that)
        return CAtom::Append(other);
    if (that->GetFrameLength() != GetFrameLength() || that->GetBitDepth() != GetBitDepth() ||
        that->GetPb() != GetPb() || that->GetMb() != GetMb() || that->GetKb() != GetKb() ||
        that->GetChannels() != GetChannels() || that->GetSampleRate() != GetSampleRate())
        Mp4Raise("ALAC: configurations are different");
    if (Payload.size() >= 16 && that->GetMaxFrameBytes() > GetMaxFrameBytes())
        std::copy(that->Payload.begin() + 12, that->Payload.begin() + 16, Payload.begin() + 12);
}

void CALACDesc::DumpFields(int, int indent, std::string& out) const {
    DumpLine(indent + 1, out,
             "Frame length: " + std::to_string(GetFrameLength()) + ", bit depth: " +
                 std::to_string(GetBitDepth()) + ", channels: " + std::to_string(GetChannels()) +
                 ", max frame bytes: " + std::to_string(GetMaxFrameBytes()) +
                 ", average bit rate: " + std::to_string(GetAverageBitRate()) +
                 ", sample rate: " + std::to_string(GetSampleRate()));
}
