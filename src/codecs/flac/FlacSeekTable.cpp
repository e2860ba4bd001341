#include "codecs/flac/FlacSeekTable.h"

#include "foundation/ZrLog.h"

#include <FLAC/metadata.h>

CFlacSeekTable::CFlacSeekTable() : m_block{} {
    m_block.type = FLAC__METADATA_TYPE_SEEKTABLE;
}

// The points array belongs to libFLAC's allocator; resizing to nothing frees it.
CFlacSeekTable::~CFlacSeekTable() {
    FLAC__metadata_object_seektable_resize_points(&m_block, 0);
}

bool CFlacSeekTable::Build(uint64_t totalSamples, uint32_t sampleRate) {
    const ZrString scopeName =
        ZrString::Format("EncoderImpl::SetSeekTable(&st, %llu, %u)",
                         static_cast<unsigned long long>(totalSamples), sampleRate);
    ZrTraceScope scope(scopeName.c_str());

    if (!FLAC__metadata_object_seektable_resize_points(&m_block, 0))
        return false;
    const uint64_t seconds = totalSamples / sampleRate;
    bool ok;
    if (seconds >= 11) {
        ok = FLAC__metadata_object_seektable_template_append_spaced_points(&m_block, 100,
                                                                           totalSamples);
    } else if (seconds >= 3) {
        ok = FLAC__metadata_object_seektable_template_append_spaced_points(
            &m_block, static_cast<uint32_t>(seconds), totalSamples);
    } else {
        ok = FLAC__metadata_object_seektable_resize_points(&m_block, 1);
        if (ok)
            m_block.data.seek_table.points[0] = {totalSamples / 2, 0, 0};
    }
    if (!ok)
        return false;
    // Sorting moves duplicates to the end as placeholders and counts the distinct points.
    const uint32_t distinct = FLAC__format_seektable_sort(&m_block.data.seek_table);
    return FLAC__metadata_object_seektable_resize_points(&m_block, distinct);
}
