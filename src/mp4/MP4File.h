// CMP4File: an MP4 file as a tree of atoms. It builds the tree of a file with one ALAC track,
// streams the packets to the destination while the sample tables grow, and at the end rewrites
// the whole file (ftyp, moov, mdat) through a temporary file that is read back and validated
// before it replaces the destination. It also reads, validates and merges existing files.
//
// Tags of an existing file (see "tags" below): open it, get and set items by the host's field
// names, save. Saving never leaves a half-written file under the file's name.
//
// Every operation reports failure as false and keeps a readable reason in ErrorText(); nothing
// raised inside the atom library leaves this class.
#pragma once

#include "foundation/ZrString.h"
#include "mp4/Atom.h"
#include "tessary/WaveFormat.h"

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CFTYPAtom;
class CMOOVAtom;
class CMDATAtom;
class CUUIDAtom;
class CMVHDAtom;
class CTKHDAtom;
class CMDHDAtom;
class CSTSDAtom;
class CSTTSAtom;
class CSTSCAtom;
class CSTSZAtom;
class CChunkOffsetAtomBase;
class CContainerAtom;
class CTagAtomBase;

class CMP4File {
public:
    static constexpr uint32_t PacketsPerChunk = 5;
    static constexpr size_t ConfigRecordSize = 24;

    CMP4File();
    CMP4File(const CMP4File&) = delete;
    CMP4File& operator=(const CMP4File&) = delete;
    // Closes the stream (saving first only when the modified flag is set). A file that was
    // created but not finished keeps the raw packets written so far.
    ~CMP4File();

    // ---- writing one audio track ----
    // Builds the tree for the format's channels, rate and bits, and creates the destination.
    bool CreateAudioFile(const ZrString& fileName, const WAVEFORMATEX* format);
    // One compressed packet that decodes to `frames` frames. A null or empty packet is ignored.
    // False once a write to the destination has failed.
    bool AddPacket(const uint8_t* data, uint32_t bytes, uint32_t frames);
    // Closes the last chunk, sets the durations and the average bit rate, stores the 24-byte
    // ALAC configuration record and saves.
    bool FinishAudioFile(const uint8_t* config, uint64_t totalCompressedBytes);
    // Lays the tree out, writes it to a temporary file, reads that back and validates it, and
    // puts it in the place of this file. On any failure the temporary file is removed.
    bool Save();

    // ---- reading ----
    bool Open(const ZrString& fileName, bool forWriting);
    // Reads bytes in memory (they must outlive this object).
    bool OpenMemory(const uint8_t* data, size_t bytes);
    void Close();
    bool ReadAtoms();
    bool ValidateAtoms();
    // Appends the other file's samples to this file's tracks; the other file's media data atoms
    // move to this file. On failure this file may be partly merged and should be discarded.
    bool AppendFile(CMP4File& other);

    // ---- tags ----
    // Field names, compared ignoring case: those of the tag-name map ("Album", "Track #", "BPM",
    // ...; TagAtomType gives the item type); "Image File" (cover art: set from the path of a JPEG
    // or PNG file, read as a new temporary file that the caller deletes); and "----:MEAN:NAME"
    // for a freeform item ("----:com.apple.iTunes:MOOD"). "Genre" is stored as the standard
    // genre when the text is one of the standard names (exactly), else as the text item "©gen".
    //
    // Opens, reads and validates an existing file for GetTag and SetTag; the changes are written
    // by Save (Close and the destructor save what was not saved).
    bool OpenForTagging(const ZrString& fileName);
    // The field's value from the item list; failing that, for the names of the keyed-metadata
    // map ("Name", "Artist", ...), from keyed metadata. False when the file holds no value.
    bool GetTag(const ZrString& field, ZrString& value);
    // Sets a field in the item list (moov/udta/meta/ilst, created when missing); an empty value
    // removes it. True when the tags changed. When false, ErrorText() is empty if the file
    // already held the value, else it says why (an unknown field, a value the item cannot hold).
    bool SetTag(const ZrString& field, const ZrString& value);
    // The item atom type of a field name; 0 for a name that is not mapped.
    FourCC TagAtomType(const ZrString& field) const;

    // Chunk offsets relative, sizes computed, media data offsets set, chunk offsets absolute
    // (co64 where stco would not hold them). Returns the file size. Save does this first.
    uint64_t LayOut();

    const ZrString& ErrorText() const noexcept { return m_error; }
    const ZrString& FileName() const noexcept { return m_name; }
    const std::vector<std::unique_ptr<CAtom>>& Atoms() const noexcept { return m_atoms; }
    const std::vector<CMDATAtom*>& Mdats() const noexcept { return m_mdats; }
    // A top-level atom or a descendant by a path of types ("moov/trak/mdia/mdhd").
    CAtom* FindAtom(std::string_view path) const;
    uint64_t TotalSize() const noexcept { return m_totalSize; }
    std::string Dump(int verbosity) const;

    // While set, Close and the destructor save first.
    void SetModified(bool modified) { m_modified = modified; }
    void SetMdatOptional(bool optional) { m_mdatOptional = optional; }
    void SetOverlapCheck(int check) { m_overlapCheck = check; }

private:
    template <typename Operation>
    bool Guarded(Operation&& operation);
    void BuildAudioTree(uint16_t channels, uint32_t rate, uint16_t bits);
    void CloseChunk();
    void FindWriterShortcuts();
    void ScanForMdat();
    bool SaveSteps(ZrString& temporary);
    void FillTagNames();
    CContainerAtom* ItemList(bool create);
    CTagAtomBase* FindItem(FourCC type, const ZrString& field) const;
    bool RemoveItems(FourCC type, const ZrString& field);
    bool GetKeyedTag(const ZrString& field, ZrString& value) const;

    ZrString m_name;
    ZrString m_error;
    std::shared_ptr<CAtomStream> m_stream; // media data atoms share it
    std::vector<std::unique_ptr<CAtom>> m_atoms;
    CFTYPAtom* m_ftyp = nullptr;
    CMOOVAtom* m_moov = nullptr;
    CUUIDAtom* m_uits = nullptr;
    std::vector<CMDATAtom*> m_mdats;
    uint64_t m_totalSize = 0;
    bool m_modified = false;
    bool m_validated = false;
    bool m_mdatOptional = true;
    int m_overlapCheck = 0;
    // Host field name → item atom type; a later entry for the same name replaced the earlier.
    std::vector<std::pair<ZrString, FourCC>> m_tagNames;

    // The writer's shortcuts and chunk state.
    CMVHDAtom* m_mvhd = nullptr;
    CTKHDAtom* m_tkhd = nullptr;
    CMDHDAtom* m_mdhd = nullptr;
    CSTSDAtom* m_stsd = nullptr;
    CSTTSAtom* m_stts = nullptr;
    CSTSCAtom* m_stsc = nullptr;
    CSTSZAtom* m_stsz = nullptr;
    CChunkOffsetAtomBase* m_chunkOffsets = nullptr;
    uint64_t m_chunkStart = 0;
    uint32_t m_packetsInChunk = 0;
    uint32_t m_chunkNumber = 1;
};

// Runs an operation of the atom library: whatever it raises becomes the error text.
template <typename Operation>
bool CMP4File::Guarded(Operation&& operation) {
    try {
        return operation();
    } catch (const CMP4Error& e) {
        m_error = ZrString::FromUtf8(e.Message());
    } catch (const std::bad_alloc&) {
        m_error = u"Out of memory";
    } catch (...) {
        m_error = u"Unknown error";
    }
    return false;
}
