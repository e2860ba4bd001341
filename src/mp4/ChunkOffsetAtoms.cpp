#include "mp4/ChunkOffsetAtoms.h"

#include "mp4/BasicAtoms.h"

#include <algorithm>
#include <cinttypes>

CChunkOffsetAtomBase::CChunkOffsetAtomBase(CAtomReader& reader) : CFullAtom(reader) {
    const uint32_t count = reader.U32();
    const unsigned width = reader.Type == MakeFourCC("co64") ? 8 : 4;
    reader.RequireEntries(count, width);
    m_offsets.resize(count);
    m_mdats.assign(count, nullptr);
    for (uint64_t& offset : m_offsets)
        offset = width == 8 ? reader.U64() : reader.U32();
}

void CChunkOffsetAtomBase::CopyChunks(const CChunkOffsetAtomBase& other) {
    m_offsets = other.m_offsets;
    m_mdats = other.m_mdats;
    m_relative = other.m_relative;
    Version = other.Version;
    Flags = other.Flags;
}

int64_t CChunkOffsetAtomBase::GetChunkOffset(uint64_t index) const {
    return index < m_offsets.size() ? static_cast<int64_t>(m_offsets[static_cast<size_t>(index)])
                                    : -1;
}

void CChunkOffsetAtomBase::AddChunkOffset(uint64_t offset, CMDATAtom* mdat) {
    m_offsets.push_back(offset);
    m_mdats.push_back(mdat);
    Size += EntryBytes();
}

uint64_t CChunkOffsetAtomBase::LargestOffset() const {
    return m_offsets.empty() ? 0 : *std::max_element(m_offsets.begin(), m_offsets.end());
}

void CChunkOffsetAtomBase::MakeChunkOffsetsRelative() {
    if (m_relative)
        return;
    for (size_t i = 0; i < m_offsets.size(); ++i)
        if (m_mdats[i])
            m_offsets[i] -= m_mdats[i]->GetDataOffset();
    m_relative = true;
}

void CChunkOffsetAtomBase::MakeChunkOffsetsAbsolute() {
    if (!m_relative)
        return;
    for (size_t i = 0; i < m_offsets.size(); ++i)
        if (m_mdats[i])
            m_offsets[i] += m_mdats[i]->GetDataOffset();
    m_relative = false;
}

void CChunkOffsetAtomBase::Append(CAtom& other) {
    auto* that = dynamic_cast<CChunkOffsetAtomBase*>(&other);
    if (!that)
        return CAtom::Append(other);
    if (!m_relative || !that->m_relative)
        Mp4Raise("Chunk offsets must be made relative before they are merged");
    m_offsets.insert(m_offsets.end(), that->m_offsets.begin(), that->m_offsets.end());
    m_mdats.insert(m_mdats.end(), that->m_mdats.begin(), that->m_mdats.end());
}

void CChunkOffsetAtomBase::MatchChunks(const std::vector<CMDATAtom*>& mdats,
                                       const std::vector<uint64_t>& chunkBytes) {
    if (mdats.empty())
        return;
    // Media data atoms by data offset, for a binary search per chunk.
    std::vector<CMDATAtom*> byOffset(mdats);
    std::sort(byOffset.begin(), byOffset.end(), [](const CMDATAtom* a, const CMDATAtom* b) {
        return a->GetDataOffset() < b->GetDataOffset();
    });
    for (size_t i = 0; i < m_offsets.size(); ++i) {
        const uint64_t offset = m_offsets[i];
        const uint64_t bytes = i < chunkBytes.size() ? chunkBytes[i] : 0;
        auto it = std::upper_bound(
            byOffset.begin(), byOffset.end(), offset,
            [](uint64_t value, const CMDATAtom* m) { return value < m->GetDataOffset(); });
        CMDATAtom* holder = nullptr;
        if (it != byOffset.begin()) {
            CMDATAtom* candidate = *(it - 1);
            const uint64_t start = candidate->GetDataOffset();
            const uint64_t end = start + candidate->GetDataSize();
            if (offset <= end && bytes <= end - offset)
                holder = candidate;
        }
        if (!holder)
            Mp4Raise("Chunk %zu at offset %" PRIu64 " (%" PRIu64
                     " bytes) lies outside the media data",
                     i + 1, offset, bytes);
        m_mdats[i] = holder;
    }
}

void CChunkOffsetAtomBase::Verify(CVerifyContext&) {
    CheckParent(MakeFourCC("stbl"));
}

void CChunkOffsetAtomBase::WritePayload(CAtomStream& stream) const {
    CFullAtom::WritePayload(stream);
    stream.WriteBE(m_offsets.size(), 4);
    const unsigned width = EntryBytes();
    for (uint64_t offset : m_offsets) {
        if (width == 4 && offset > UINT32_MAX)
            Mp4Raise("Chunk offset %" PRIu64 " does not fit in stco", offset);
        stream.WriteBE(offset, width);
    }
}

void CChunkOffsetAtomBase::DumpFields(int verbosity, int indent, std::string& out) const {
    DumpLine(indent + 1, out, "Chunks: " + std::to_string(m_offsets.size()));
    if (verbosity >= 2)
        for (size_t i = 0; i < m_offsets.size(); ++i)
            DumpLine(indent + 2, out, std::to_string(i + 1) + ": " + std::to_string(m_offsets[i]));
}

CCO64Atom::CCO64Atom(const CChunkOffsetAtomBase& narrow)
    : CChunkOffsetAtomBase(MakeFourCC("co64")) {
    CopyChunks(narrow);
    Size = 16 + 8 * GetChunkCount();
}

bool WidenChunkOffsets(CAtom& atom) {
    auto* container = dynamic_cast<CContainerAtom*>(&atom);
    if (!container)
        return false;
    bool changed = false;
    for (size_t i = 0; i < container->Children().size(); ++i) {
        CAtom* child = container->Children()[i].get();
        auto* stco = dynamic_cast<CSTCOAtom*>(child);
        if (stco && stco->LargestOffset() > UINT32_MAX) {
            auto wide = std::make_unique<CCO64Atom>(*stco);
            container->RemoveChild(stco);
            container->InsertChild(i, std::move(wide));
            changed = true;
        } else {
            changed |= WidenChunkOffsets(*child);
        }
    }
    return changed;
}
