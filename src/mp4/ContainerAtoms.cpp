#include "mp4/ContainerAtoms.h"

#include "foundation/ZrByteOrder.h"
#include "mp4/BasicAtoms.h"
#include "mp4/ChunkOffsetAtoms.h"
#include "mp4/SampleTableAtoms.h"

#include <algorithm>
#include <cinttypes>

namespace {

template <typename T>
T* RequireSingleAs(const CContainerAtom& container, FourCC type) {
    CAtom* atom = container.RequireSingle(type);
    auto* typed = dynamic_cast<T*>(atom);
    if (!typed)
        Mp4Raise("%s atom inside %s has an unexpected layout", FourCCText(type).c_str(),
                 FourCCText(container.Type).c_str());
    return typed;
}

// Merging leaves out what has no meaning for one file and refuses the rest.
void RefuseUnmergeable(const CContainerAtom& other, std::initializer_list<FourCC> handled) {
    static constexpr FourCC ignorable[] = {MakeFourCC("udta"), MakeFourCC("free"),
                                           MakeFourCC("skip"), MakeFourCC("iods")};
    for (const auto& child : other.Children()) {
        if (std::find(handled.begin(), handled.end(), child->Type) != handled.end() ||
            std::find(std::begin(ignorable), std::end(ignorable), child->Type) !=
                std::end(ignorable))
            continue;
        Mp4Raise("MOOVAtom Append not finished %s", FourCCText(child->Type).c_str());
    }
}

// An edit list cannot be merged: with several entries it cannot be joined at all, and a single
// one would need its durations rewritten.
void RefuseEditList(const CAtom* edts) {
    if (!edts)
        return;
    if (auto* opaque = dynamic_cast<const CFREEAtom*>(edts)) {
        const std::vector<uint8_t>& p = opaque->Payload;
        if (p.size() >= 16 && p[4] == 'e' && p[5] == 'l' && p[6] == 's' && p[7] == 't') {
            const uint32_t entries = zrbytes::LoadBE32(p.data() + 12);
            if (entries > 1)
                Mp4Raise("Cannot merge ELST boxes with multiple entries");
        }
    }
    Mp4Raise("ELST boxes are too complex to merge.");
}

} // namespace

// ---- trak -------------------------------------------------------------------------------------

CTRAKAtom::CTRAKAtom(CAtomReader& reader) : CContainerAtom(reader) {
    ReadChildren(reader);
}

CTRAKAtom::CTRAKAtom(const CTRAKAtom& other, CAtom* parent) : CContainerAtom(other, parent) {
    CloneChildren(other);
}

void CTRAKAtom::Verify(CVerifyContext& context) {
    CheckParent(MakeFourCC("moov"));
    RequireSingle(MakeFourCC("tkhd"));
    auto* mdia = RequireSingleAs<CContainerAtom>(*this, MakeFourCC("mdia"));
    mdia->RequireSingle(MakeFourCC("mdhd"));
    mdia->RequireSingle(MakeFourCC("hdlr"));
    auto* minf = RequireSingleAs<CContainerAtom>(*mdia, MakeFourCC("minf"));
    m_stbl = RequireSingleAs<CSTBLAtom>(*minf, MakeFourCC("stbl"));
    VerifyChildren(context);
}

void CTRAKAtom::Append(CAtom& other) {
    auto* that = dynamic_cast<CTRAKAtom*>(&other);
    if (!that)
        return CAtom::Append(other);
    RefuseEditList(FindChild(MakeFourCC("edts")));
    RefuseEditList(that->FindChild(MakeFourCC("edts")));
    RefuseUnmergeable(*that, {MakeFourCC("tkhd"), MakeFourCC("mdia")});
    RequireSingle(MakeFourCC("tkhd"))->Append(*that->RequireSingle(MakeFourCC("tkhd")));
    RequireSingle(MakeFourCC("mdia"))->Append(*that->RequireSingle(MakeFourCC("mdia")));
}

// ---- moov -------------------------------------------------------------------------------------

CMOOVAtom::CMOOVAtom(CAtomReader& reader) : CContainerAtom(reader) {
    ReadChildren(reader);
}

CMOOVAtom::CMOOVAtom(const CMOOVAtom& other, CAtom* parent) : CContainerAtom(other, parent) {
    CloneChildren(other);
}

void CMOOVAtom::Verify(CVerifyContext& context) {
    RequireSingle(MakeFourCC("mvhd"));
    m_tracks.clear();
    for (const auto& child : Children()) {
        child->Verify(context);
        if (auto* trak = dynamic_cast<CTRAKAtom*>(child.get()))
            m_tracks.push_back(trak);
    }
    if (!context.OverlapCheck)
        return;
    std::vector<std::pair<uint64_t, uint64_t>> extents;
    for (CTRAKAtom* trak : m_tracks)
        if (trak->SampleTable())
            extents.insert(extents.end(), trak->SampleTable()->ChunkExtents.begin(),
                           trak->SampleTable()->ChunkExtents.end());
    std::sort(extents.begin(), extents.end());
    for (size_t i = 1; i < extents.size(); ++i)
        if (extents[i - 1].first + extents[i - 1].second > extents[i].first)
            Mp4Raise("Overlapping samples");
}

void CMOOVAtom::Append(CAtom& other) {
    auto* that = dynamic_cast<CMOOVAtom*>(&other);
    if (!that)
        return CAtom::Append(other);
    RefuseUnmergeable(*that, {MakeFourCC("mvhd"), MakeFourCC("trak")});
    const FourCC trak = MakeFourCC("trak");
    if (CountChildren(trak) != that->CountChildren(trak))
        Mp4Raise("MOOVAtom Append not finished %s", "trak");
    RequireSingle(MakeFourCC("mvhd"))->Append(*that->RequireSingle(MakeFourCC("mvhd")));
    for (size_t i = 0; i < CountChildren(trak); ++i)
        FindChild(trak, i)->Append(*that->FindChild(trak, i));
}

// ---- stbl -------------------------------------------------------------------------------------

CSTBLAtom::CSTBLAtom(CAtomReader& reader) : CContainerAtom(reader) {
    ReadChildren(reader);
}

CSTBLAtom::CSTBLAtom(const CSTBLAtom& other, CAtom* parent)
    : CContainerAtom(other, parent), Content(other.Content), ChunkExtents(other.ChunkExtents) {
    CloneChildren(other);
}

namespace {

CChunkOffsetAtomBase* RequireChunkOffsets(const CContainerAtom& stbl) {
    const FourCC stco = MakeFourCC("stco"), co64 = MakeFourCC("co64");
    if (stbl.CountChildren(stco) + stbl.CountChildren(co64) != 1)
        Mp4Raise("%s atom has wrong number of %s or %s atoms", FourCCText(stbl.Type).c_str(),
                 FourCCText(stco).c_str(), FourCCText(co64).c_str());
    CAtom* atom = stbl.FindChild(stco) ? stbl.FindChild(stco) : stbl.FindChild(co64);
    auto* offsets = dynamic_cast<CChunkOffsetAtomBase*>(atom);
    if (!offsets)
        Mp4Raise("Chunk offset atom has an unexpected layout");
    return offsets;
}

} // namespace

void CSTBLAtom::Verify(CVerifyContext& context) {
    CheckParent(MakeFourCC("minf"));
    RequireSingleAs<CSTSDAtom>(*this, MakeFourCC("stsd"));
    RequireSingleAs<CSTTSAtom>(*this, MakeFourCC("stts"));
    RequireSingleAs<CSTSCAtom>(*this, MakeFourCC("stsc"));
    RequireSingleAs<CSTSZAtom>(*this, MakeFourCC("stsz"));
    RequireChunkOffsets(*this);
    VerifyChildren(context);
    CheckTables(context);
}

void CSTBLAtom::CheckTables(CVerifyContext& context) {
    auto* stsd = RequireSingleAs<CSTSDAtom>(*this, MakeFourCC("stsd"));
    auto* stts = RequireSingleAs<CSTTSAtom>(*this, MakeFourCC("stts"));
    auto* stsc = RequireSingleAs<CSTSCAtom>(*this, MakeFourCC("stsc"));
    auto* stsz = RequireSingleAs<CSTSZAtom>(*this, MakeFourCC("stsz"));
    CChunkOffsetAtomBase* offsets = RequireChunkOffsets(*this);

    const uint64_t samples = stsz->SampleCount;
    if (stts->SampleCount() != samples)
        Mp4Raise("STTS describes %" PRIu64 " samples, STSZ %" PRIu64, stts->SampleCount(), samples);
    const uint64_t chunks = offsets->GetChunkCount();
    const std::vector<uint32_t> perChunk = stsc->SamplesPerChunk(chunks);

    std::vector<uint64_t> chunkBytes(perChunk.size());
    uint64_t sample = 0;
    for (size_t i = 0; i < perChunk.size(); ++i) {
        if (perChunk[i] > samples - sample)
            Mp4Raise("STSC places more samples in chunks than STSZ has (%" PRIu64 ")", samples);
        if (stsz->SampleSize) {
            chunkBytes[i] = uint64_t{perChunk[i]} * stsz->SampleSize;
        } else {
            for (uint32_t k = 0; k < perChunk[i]; ++k)
                chunkBytes[i] += stsz->Sizes[static_cast<size_t>(sample + k)];
        }
        sample += perChunk[i];
    }
    if (sample != samples)
        Mp4Raise("STSC places %" PRIu64 " samples in chunks, STSZ has %" PRIu64, sample, samples);

    Content = stsd->Classify();
    offsets->MatchChunks(context.Mdats, chunkBytes);
    ChunkExtents.clear();
    ChunkExtents.reserve(chunkBytes.size());
    for (size_t i = 0; i < chunkBytes.size(); ++i)
        ChunkExtents.emplace_back(static_cast<uint64_t>(offsets->GetChunkOffset(i)), chunkBytes[i]);
}

void CSTBLAtom::Append(CAtom& other) {
    auto* that = dynamic_cast<CSTBLAtom*>(&other);
    if (!that)
        return CAtom::Append(other);
    RefuseUnmergeable(*that, {MakeFourCC("stsd"), MakeFourCC("stts"), MakeFourCC("stsc"),
                              MakeFourCC("stsz"), MakeFourCC("stco"), MakeFourCC("co64")});
    CChunkOffsetAtomBase* offsets = RequireChunkOffsets(*this);
    const uint64_t chunks = offsets->GetChunkCount();
    if (chunks > UINT32_MAX)
        Mp4Raise("STSC: too many chunks to merge");
    RequireSingle(MakeFourCC("stsd"))->Append(*that->RequireSingle(MakeFourCC("stsd")));
    RequireSingle(MakeFourCC("stts"))->Append(*that->RequireSingle(MakeFourCC("stts")));
    RequireSingle(MakeFourCC("stsz"))->Append(*that->RequireSingle(MakeFourCC("stsz")));
    RequireSingleAs<CSTSCAtom>(*this, MakeFourCC("stsc"))
        ->AppendAfterChunks(*RequireSingleAs<CSTSCAtom>(*that, MakeFourCC("stsc")),
                            static_cast<uint32_t>(chunks));
    offsets->Append(*RequireChunkOffsets(*that));
}

// ---- udta and meta ----------------------------------------------------------------------------

CUdtaAtom::CUdtaAtom(CAtomReader& reader) : CContainerAtom(reader) {
    ReadChildren(reader);
    Trailing = reader.Rest();
}

CUdtaAtom::CUdtaAtom(const CUdtaAtom& other, CAtom* parent)
    : CContainerAtom(other, parent), Trailing(other.Trailing) {
    CloneChildren(other);
}

uint64_t CUdtaAtom::ComputeSize() {
    CContainerAtom::ComputeSize();
    Size += Trailing.size();
    return Size;
}

void CUdtaAtom::Write(CAtomStream& stream) {
    CContainerAtom::Write(stream);
    stream.Write(Trailing.data(), Trailing.size());
}

CMetaAtom::CMetaAtom(CAtomReader& reader) : CFullAtom(reader) {
    // Version and flags are always 0; anything else is the size of the first child.
    if ((Version != 0 || Flags != 0) && reader.Size - reader.HeaderSize >= 8) {
        reader.Rewind();
        Version = 0;
        Flags = 0;
        Headerless = true;
    }
    ReadChildren(reader);
}

CMetaAtom::CMetaAtom(const CMetaAtom& other, CAtom* parent)
    : CFullAtom(other, parent), Headerless(other.Headerless) {
    CloneChildren(other);
}

void CMetaAtom::WritePayload(CAtomStream& stream) const {
    if (!Headerless)
        CFullAtom::WritePayload(stream);
}
