// The SEEKTABLE metadata block handed to libFLAC: a template of target sample numbers that the
// library fills with stream offsets while it encodes and writes back when it finishes.
#pragma once

#include <FLAC/format.h>
#include <cstdint>

class CFlacSeekTable {
public:
    CFlacSeekTable();
    CFlacSeekTable(const CFlacSeekTable&) = delete;
    CFlacSeekTable& operator=(const CFlacSeekTable&) = delete;
    ~CFlacSeekTable();

    // Replaces the points with the template for a stream of `totalSamples` frames at
    // `sampleRate` Hz: one point per second from 3 to 10 seconds, 100 points from 11 seconds on,
    // a single point at half the length below 3 seconds. Both numbers must be non-zero.
    // False when libFLAC could not allocate the points.
    bool Build(uint64_t totalSamples, uint32_t sampleRate);

    // libFLAC keeps a pointer to the points until the stream is finished.
    FLAC__StreamMetadata* Block() { return &m_block; }
    uint32_t PointCount() const { return m_block.data.seek_table.num_points; }
    const FLAC__StreamMetadata_SeekPoint& Point(uint32_t index) const {
        return m_block.data.seek_table.points[index];
    }

private:
    FLAC__StreamMetadata m_block;
};
