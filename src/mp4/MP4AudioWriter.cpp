// The writer's half of CMP4File: the tree of one ALAC track, the packets, and the finish.
#include "mp4/BasicAtoms.h"
#include "mp4/ChunkOffsetAtoms.h"
#include "mp4/ContainerAtoms.h"
#include "mp4/DescriptionAtoms.h"
#include "mp4/HeaderAtoms.h"
#include "mp4/MP4File.h"
#include "mp4/SampleTableAtoms.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr FourCC T(const char (&text)[5]) {
    return MakeFourCC(text);
}

template <typename A, typename... Args>
A* Add(CContainerAtom& parent, Args&&... args) {
    return static_cast<A*>(parent.AddChild(std::make_unique<A>(std::forward<Args>(args)...)));
}

} // namespace

// ---- writing one audio track ------------------------------------------------------------------

void CMP4File::BuildAudioTree(uint16_t channels, uint32_t rate, uint16_t bits) {
    auto ftyp = std::make_unique<CFTYPAtom>();
    ftyp->AddBrand(T("mp42"));
    ftyp->AddBrand(T("isom"));
    ftyp->AddBrand(0);
    ftyp->SetMajorBrand(T("M4A "));
    m_ftyp = ftyp.get();
    m_atoms.push_back(std::move(ftyp));

    auto moov = std::make_unique<CMOOVAtom>();
    m_moov = moov.get();
    m_atoms.push_back(std::move(moov));

    m_mvhd = Add<CMVHDAtom>(*m_moov);
    m_mvhd->CreationTime = m_mvhd->ModificationTime = Mp4TimeNow();
    m_mvhd->TimeScale = 44100;
    auto* trak = Add<CTRAKAtom>(*m_moov);
    m_tkhd = Add<CTKHDAtom>(*trak);
    m_tkhd->CreationTime = m_tkhd->ModificationTime = Mp4TimeNow();
    m_tkhd->TrackId = m_mvhd->NextTrackId++;
    auto* mdia = Add<CMDIAAtom>(*trak, T("mdia"));
    m_mdhd = Add<CMDHDAtom>(*mdia);
    m_mdhd->CreationTime = m_mdhd->ModificationTime = Mp4TimeNow();
    m_mdhd->TimeScale = rate;
    Add<CHDLRAtom>(*mdia, T("soun"), std::vector<uint8_t>{0, 0});
    auto* minf = Add<CMINFAtom>(*mdia, T("minf"));
    Add<CSMHDAtom>(*minf);
    auto* dinf = Add<CDINFAtom>(*minf, T("dinf"));
    auto* dref = Add<CDREFAtom>(*dinf);
    dref->AddEntry(std::make_unique<CDataEntryAtom>(T("url "), CDataEntryAtom::SelfContained));
    auto* stbl = Add<CSTBLAtom>(*minf);
    m_stsd = Add<CSTSDAtom>(*stbl);
    auto* entry = static_cast<CSOUNAtomGeneral*>(
        m_stsd->AddEntry(std::make_unique<CSOUNAtomGeneral>(T("alac"), channels, bits, rate)));
    // Provisional until the encoder's record arrives at finish.
    std::vector<uint8_t> record(ConfigRecordSize, 0);
    record[2] = 0x10; // 4096 frames
    record[5] = static_cast<uint8_t>(bits);
    record[9] = static_cast<uint8_t>(channels);
    for (int i = 0; i < 4; ++i)
        record[20 + i] = static_cast<uint8_t>(rate >> (24 - 8 * i));
    Add<CALACDesc>(*entry, std::move(record));
    m_stts = Add<CSTTSAtom>(*stbl);
    m_stsc = Add<CSTSCAtom>(*stbl);
    m_stsz = Add<CSTSZAtom>(*stbl);
    m_chunkOffsets = Add<CSTCOAtom>(*stbl);
}

bool CMP4File::CreateAudioFile(const ZrString& fileName, const WAVEFORMATEX* format) {
    return Guarded([&] {
        if (!format)
            Mp4Raise("No audio format");
        m_atoms.clear();
        m_mdats.clear();
        m_ftyp = nullptr;
        m_moov = nullptr;
        m_uits = nullptr;
        m_validated = false;
        BuildAudioTree(format->nChannels, format->nSamplesPerSec, format->wBitsPerSample);
        if (!Open(fileName, true))
            return false;
        auto mdat = std::make_unique<CMDATAtom>();
        const uint64_t start = m_stream->Position();
        mdat->AddSourceRange(m_stream, start, start);
        mdat->DataOffset = start;
        m_mdats.push_back(mdat.get());
        m_atoms.push_back(std::move(mdat));
        m_chunkStart = m_stream->Position();
        m_packetsInChunk = 0;
        m_chunkNumber = 1;
        return true;
    });
}

void CMP4File::CloseChunk() {
    m_stsc->AddRun(m_chunkNumber, m_packetsInChunk);
    m_chunkOffsets->AddChunkOffset(m_chunkStart, m_mdats.back());
    ++m_chunkNumber;
    m_chunkStart = m_stream->Position();
    m_packetsInChunk = 0;
}

bool CMP4File::AddPacket(const uint8_t* data, uint32_t bytes, uint32_t frames) {
    if (!data || bytes == 0)
        return true;
    if (!m_stream || !m_stts || m_mdats.empty()) {
        m_error = u"The file was not created for writing";
        return false;
    }
    m_stream->Write(data, bytes);
    m_mdats.back()->ExtendLastRange(bytes);
    m_stts->AddSample(frames);
    m_stsz->AddSampleSize(bytes);
    m_tkhd->Duration += frames;
    if (++m_packetsInChunk == PacketsPerChunk)
        CloseChunk();
    if (m_stream->WriteFailed()) {
        m_error = ZrString::Format("Error writing %s: %s", m_name.ToUtf8().c_str(),
                                   m_stream->ErrorText().ToUtf8().c_str());
        return false;
    }
    return true;
}

bool CMP4File::FinishAudioFile(const uint8_t* config, uint64_t totalCompressedBytes) {
    const bool prepared = Guarded([&] {
        if (!config || !m_stts || !m_stream)
            Mp4Raise("The file was not created for writing");
        if (m_packetsInChunk)
            CloseChunk();
        const uint64_t duration = m_stts->TotalDuration();
        const uint32_t scale = m_mdhd->TimeScale;
        if (duration && scale) {
            if (duration / scale > (m_mvhd->TimeScale ? m_mvhd->Duration / m_mvhd->TimeScale : 0)) {
                m_mvhd->Duration = duration;
                m_mvhd->TimeScale = scale;
            }
        }
        m_mdhd->Duration = duration;
        // Version 0 headers hold 32-bit durations: longer tracks need version 1 headers.
        if (duration > UINT32_MAX)
            m_mvhd->Version = m_tkhd->Version = m_mdhd->Version = 1;

        std::vector<uint8_t> record(config, config + ConfigRecordSize);
        double bitRate =
            duration && scale ? double(totalCompressedBytes) / double(duration) * 8.0 * scale : 0.0;
        const auto rate = static_cast<uint32_t>(std::min(std::trunc(bitRate), 4294967295.0));
        for (int i = 0; i < 4; ++i)
            record[16 + i] = static_cast<uint8_t>(rate >> (24 - 8 * i));
        auto* entry = dynamic_cast<CContainerAtom*>(m_stsd->FindChild(T("alac")));
        auto* desc = entry ? dynamic_cast<CALACDesc*>(entry->FindChild(T("alac"))) : nullptr;
        if (!desc)
            Mp4Raise("Missing ALAC configuration atom");
        desc->SetPayload(std::move(record));
        return true;
    });
    return prepared && Save();
}
