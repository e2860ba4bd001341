// The sample tables: time to sample (runs of equal durations), sample to chunk (runs of equal
// chunk lengths) and sample sizes (one common size while every sample has it).
#pragma once

#include "mp4/Atom.h"

#include <vector>

class CSTTSAtom final : public CFullAtom {
public:
    struct Entry {
        uint32_t Count;
        uint32_t Delta;
    };

    CSTTSAtom() : CFullAtom(MakeFourCC("stts")) { Size = 16; }
    explicit CSTTSAtom(CAtomReader& reader);
    CSTTSAtom(const CSTTSAtom& other, CAtom* parent)
        : CFullAtom(other, parent), Entries(other.Entries) {}

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext& context) override;
    // Appends the other table's runs, joining the two runs that meet when their deltas agree.
    void Append(CAtom& other) override;
    const char* ClassName() const override { return "CSTTSAtom"; }

    // One more sample of `delta` time units: the last run grows when its delta is the same.
    void AddSample(uint32_t delta);
    // Sum of count x delta over the runs, in 64 bits.
    uint64_t TotalDuration() const;
    uint64_t SampleCount() const;

    std::vector<Entry> Entries;

protected:
    uint64_t PayloadSize() const override { return 8 + 8 * Entries.size(); }
    void WritePayload(CAtomStream& stream) const override;
    void DumpFields(int verbosity, int indent, std::string& out) const override;
};

class CSTSCAtom final : public CFullAtom {
public:
    struct Entry {
        uint32_t FirstChunk; // 1-based
        uint32_t SamplesPerChunk;
        uint32_t DescriptionIndex;
    };

    CSTSCAtom() : CFullAtom(MakeFourCC("stsc")) { Size = 16; }
    explicit CSTSCAtom(CAtomReader& reader);
    CSTSCAtom(const CSTSCAtom& other, CAtom* parent)
        : CFullAtom(other, parent), Entries(other.Entries) {}

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext& context) override;
    // Needs the chunk count of this table: see AppendAfterChunks.
    void Append(CAtom& other) override;
    const char* ClassName() const override { return "CSTSCAtom"; }

    // Appends (first chunk, samples per chunk, 1) unless the last run has the same samples per
    // chunk and description index 1.
    void AddRun(uint32_t firstChunk, uint32_t samplesPerChunk);
    // Appends the other table, its chunks numbered after this table's `chunkCount` chunks.
    void AppendAfterChunks(const CSTSCAtom& other, uint32_t chunkCount);
    // Samples in each of `chunkCount` chunks; raises when the runs do not describe them.
    std::vector<uint32_t> SamplesPerChunk(uint64_t chunkCount) const;

    std::vector<Entry> Entries;

protected:
    uint64_t PayloadSize() const override { return 8 + 12 * Entries.size(); }
    void WritePayload(CAtomStream& stream) const override;
    void DumpFields(int verbosity, int indent, std::string& out) const override;
};

class CSTSZAtom final : public CFullAtom {
public:
    CSTSZAtom() : CFullAtom(MakeFourCC("stsz")) { Size = 20; }
    explicit CSTSZAtom(CAtomReader& reader);
    CSTSZAtom(const CSTSZAtom& other, CAtom* parent)
        : CFullAtom(other, parent), SampleSize(other.SampleSize), SampleCount(other.SampleCount),
          Sizes(other.Sizes) {}

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext& context) override;
    // Refuses "STSZ Sample Size is different" when both tables have a different common size.
    void Append(CAtom& other) override;
    const char* ClassName() const override { return "CSTSZAtom"; }

    // The table is created at the first size that differs from the common one.
    void AddSampleSize(uint32_t bytes);
    uint32_t GetSampleSize(uint64_t index) const {
        return SampleSize ? SampleSize : Sizes[static_cast<size_t>(index)];
    }

    uint32_t SampleSize = 0; // the common size; 0 when the table holds each size
    uint32_t SampleCount = 0;
    std::vector<uint32_t> Sizes;

protected:
    uint64_t PayloadSize() const override { return 12 + (SampleSize ? 0 : 4 * Sizes.size()); }
    void WritePayload(CAtomStream& stream) const override;
    void DumpFields(int verbosity, int indent, std::string& out) const override;
};
