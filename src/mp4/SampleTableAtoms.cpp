#include "mp4/SampleTableAtoms.h"

#include <cinttypes>
#include <cstdio>

// ---- stts -------------------------------------------------------------------------------------

CSTTSAtom::CSTTSAtom(CAtomReader& reader) : CFullAtom(reader) {
    const uint32_t count = reader.U32();
    reader.RequireEntries(count, 8);
    Entries.resize(count);
    for (Entry& e : Entries) {
        e.Count = reader.U32();
        e.Delta = reader.U32();
    }
}

void CSTTSAtom::AddSample(uint32_t delta) {
    if (!Entries.empty() && Entries.back().Delta == delta && Entries.back().Count < UINT32_MAX) {
        ++Entries.back().Count;
        return;
    }
    Entries.push_back({1, delta});
    Size += 8;
}

uint64_t CSTTSAtom::TotalDuration() const {
    uint64_t total = 0;
    for (const Entry& e : Entries)
        total += uint64_t{e.Count} * e.Delta;
    return total;
}

uint64_t CSTTSAtom::SampleCount() const {
    uint64_t total = 0;
    for (const Entry& e : Entries)
        total += e.Count;
    return total;
}

void CSTTSAtom::WritePayload(CAtomStream& stream) const {
    CFullAtom::WritePayload(stream);
    stream.WriteBE(Entries.size(), 4);
    for (const Entry& e : Entries) {
        stream.WriteBE(e.Count, 4);
        stream.WriteBE(e.Delta, 4);
    }
}

void CSTTSAtom::Verify(CVerifyContext&) {
    CheckParent(MakeFourCC("stbl"));
}

void CSTTSAtom::Append(CAtom& other) {
    auto* that = dynamic_cast<CSTTSAtom*>(&other);
    if (!that)
        return CAtom::Append(other);
    for (const Entry& e : that->Entries) {
        if (!Entries.empty() && Entries.back().Delta == e.Delta &&
            uint64_t{Entries.back().Count} + e.Count <= UINT32_MAX) {
            Entries.back().Count += e.Count;
        } else {
            Entries.push_back(e);
        }
    }
}

void CSTTSAtom::DumpFields(int verbosity, int indent, std::string& out) const {
    DumpLine(indent + 1, out, "Entries: " + std::to_string(Entries.size()));
    if (verbosity >= 2)
        for (const Entry& e : Entries)
            DumpLine(indent + 2, out,
                     "Count: " + std::to_string(e.Count) + ", delta: " + std::to_string(e.Delta));
}

// ---- stsc -------------------------------------------------------------------------------------

CSTSCAtom::CSTSCAtom(CAtomReader& reader) : CFullAtom(reader) {
    const uint32_t count = reader.U32();
    reader.RequireEntries(count, 12);
    Entries.resize(count);
    for (Entry& e : Entries) {
        e.FirstChunk = reader.U32();
        e.SamplesPerChunk = reader.U32();
        e.DescriptionIndex = reader.U32();
    }
}

void CSTSCAtom::AddRun(uint32_t firstChunk, uint32_t samplesPerChunk) {
    if (!Entries.empty() && Entries.back().SamplesPerChunk == samplesPerChunk &&
        Entries.back().DescriptionIndex == 1)
        return;
    Entries.push_back({firstChunk, samplesPerChunk, 1});
    Size += 12;
}

void CSTSCAtom::AppendAfterChunks(const CSTSCAtom& other, uint32_t chunkCount) {
    for (const Entry& e : other.Entries) {
        if (!Entries.empty() && Entries.back().SamplesPerChunk == e.SamplesPerChunk &&
            Entries.back().DescriptionIndex == e.DescriptionIndex)
            continue;
        if (uint64_t{e.FirstChunk} + chunkCount > UINT32_MAX)
            Mp4Raise("STSC: too many chunks to merge");
        Entries.push_back({e.FirstChunk + chunkCount, e.SamplesPerChunk, e.DescriptionIndex});
    }
}

void CSTSCAtom::Append(CAtom&) {
    Mp4Raise("STSC: chunks can only be merged together with their sample table");
}

std::vector<uint32_t> CSTSCAtom::SamplesPerChunk(uint64_t chunkCount) const {
    std::vector<uint32_t> perChunk;
    perChunk.reserve(static_cast<size_t>(chunkCount));
    for (size_t i = 0; i < Entries.size(); ++i) {
        const Entry& e = Entries[i];
        const uint64_t next = i + 1 < Entries.size() ? Entries[i + 1].FirstChunk : chunkCount + 1;
        if (e.FirstChunk != perChunk.size() + 1 || next <= e.FirstChunk || next > chunkCount + 1)
            Mp4Raise("STSC run %zu does not match the %" PRIu64 " chunks of the track", i + 1,
                     chunkCount);
        perChunk.insert(perChunk.end(), static_cast<size_t>(next - e.FirstChunk),
                        e.SamplesPerChunk);
    }
    if (perChunk.size() != chunkCount)
        Mp4Raise("STSC runs describe %zu of the %" PRIu64 " chunks of the track", perChunk.size(),
                 chunkCount);
    return perChunk;
}

void CSTSCAtom::WritePayload(CAtomStream& stream) const {
    CFullAtom::WritePayload(stream);
    stream.WriteBE(Entries.size(), 4);
    for (const Entry& e : Entries) {
        stream.WriteBE(e.FirstChunk, 4);
        stream.WriteBE(e.SamplesPerChunk, 4);
        stream.WriteBE(e.DescriptionIndex, 4);
    }
}

void CSTSCAtom::Verify(CVerifyContext&) {
    CheckParent(MakeFourCC("stbl"));
}

void CSTSCAtom::DumpFields(int verbosity, int indent, std::string& out) const {
    DumpLine(indent + 1, out, "Entries: " + std::to_string(Entries.size()));
    if (verbosity >= 2)
        for (const Entry& e : Entries)
            DumpLine(indent + 2, out,
                     "First chunk: " + std::to_string(e.FirstChunk) +
                         ", samples per chunk: " + std::to_string(e.SamplesPerChunk) +
                         ", description: " + std::to_string(e.DescriptionIndex));
}

// ---- stsz -------------------------------------------------------------------------------------

CSTSZAtom::CSTSZAtom(CAtomReader& reader) : CFullAtom(reader) {
    SampleSize = reader.U32();
    SampleCount = reader.U32();
    if (SampleSize == 0) {
        reader.RequireEntries(SampleCount, 4);
        Sizes.resize(SampleCount);
        for (uint32_t& s : Sizes)
            s = reader.U32();
    }
}

void CSTSZAtom::AddSampleSize(uint32_t bytes) {
    if (SampleCount == 0) {
        SampleSize = bytes;
        SampleCount = 1;
        return;
    }
    if (SampleSize != 0 && SampleSize == bytes) {
        ++SampleCount;
        return;
    }
    if (SampleSize != 0) { // the first size that differs: every earlier one goes in the table
        Sizes.assign(SampleCount, SampleSize);
        Size += 4 * uint64_t{SampleCount};
        SampleSize = 0;
    }
    Sizes.push_back(bytes);
    Size += 4;
    ++SampleCount;
}

void CSTSZAtom::WritePayload(CAtomStream& stream) const {
    CFullAtom::WritePayload(stream);
    stream.WriteBE(SampleSize, 4);
    stream.WriteBE(SampleCount, 4);
    if (SampleSize == 0)
        for (uint32_t s : Sizes)
            stream.WriteBE(s, 4);
}

void CSTSZAtom::Verify(CVerifyContext&) {
    CheckParent(MakeFourCC("stbl"));
}

void CSTSZAtom::Append(CAtom& other) {
    auto* that = dynamic_cast<CSTSZAtom*>(&other);
    if (!that)
        return CAtom::Append(other);
    if (uint64_t{SampleCount} + that->SampleCount > UINT32_MAX)
        Mp4Raise("STSZ: too many samples to merge");
    if (that->SampleCount == 0)
        return;
    if (SampleCount == 0) {
        SampleSize = that->SampleSize;
        SampleCount = that->SampleCount;
        Sizes = that->Sizes;
        return;
    }
    if (SampleSize != that->SampleSize)
        Mp4Raise("STSZ Sample Size is different");
    if (SampleSize == 0)
        Sizes.insert(Sizes.end(), that->Sizes.begin(), that->Sizes.end());
    SampleCount += that->SampleCount;
}

void CSTSZAtom::DumpFields(int verbosity, int indent, std::string& out) const {
    DumpLine(indent + 1, out,
             "Sample size: " + std::to_string(SampleSize) +
                 ", sample count: " + std::to_string(SampleCount));
    if (verbosity >= 2 && SampleSize == 0)
        for (size_t i = 0; i < Sizes.size(); ++i)
            DumpLine(indent + 2, out, std::to_string(i + 1) + ": " + std::to_string(Sizes[i]));
}
