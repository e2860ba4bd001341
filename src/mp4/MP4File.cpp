#include "mp4/MP4File.h"

#include "foundation/ZrFile.h"
#include "foundation/ZrFileSystem.h"
#include "foundation/ZrSafeReplaceFile.h"
#include "mp4/BasicAtoms.h"
#include "mp4/ChunkOffsetAtoms.h"
#include "mp4/ContainerAtoms.h"
#include "mp4/DescriptionAtoms.h"
#include "mp4/HeaderAtoms.h"
#include "mp4/SampleTableAtoms.h"
#include "mp4/TempFileName.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr FourCC T(const char (&text)[5]) {
    return MakeFourCC(text);
}

ZrString Utf8(const std::string& text) {
    return ZrString::FromUtf8(text);
}

} // namespace

CMP4File::CMP4File() {
    FillTagNames();
}

CMP4File::~CMP4File() {
    Close();
}

CAtom* CMP4File::FindAtom(std::string_view path) const {
    const size_t slash = path.find('/');
    const std::string_view first = path.substr(0, slash);
    for (const auto& atom : m_atoms) {
        if (first.size() != 4 || FourCCText(atom->Type) != first)
            continue;
        if (slash == std::string_view::npos)
            return atom.get();
        if (auto* container = dynamic_cast<CContainerAtom*>(atom.get()))
            return container->FindPath(path.substr(slash + 1));
        return nullptr;
    }
    return nullptr;
}

std::string CMP4File::Dump(int verbosity) const {
    std::string out;
    for (const auto& atom : m_atoms)
        atom->Dump(verbosity, 0, out);
    return out;
}

// ---- opening and reading ----------------------------------------------------------------------

bool CMP4File::Open(const ZrString& fileName, bool forWriting) {
    Close();
    auto stream = std::make_shared<CAtomStream>();
    if (!stream->Open(fileName, forWriting)) {
        m_error = ZrString::Format("Cannot open %s: %s", fileName.ToUtf8().c_str(),
                                   stream->ErrorText().ToUtf8().c_str());
        return false;
    }
    m_stream = std::move(stream);
    m_name = fileName;
    m_totalSize = m_stream->Size();
    return m_stream->IsOpen();
}

bool CMP4File::OpenMemory(const uint8_t* data, size_t bytes) {
    Close();
    auto stream = std::make_shared<CAtomStream>();
    ZrFile file;
    if (!file.OpenCopyOf(data, bytes) || !stream->Attach(std::move(file), ZrString(u"memory")))
        return false;
    m_stream = std::move(stream);
    m_name.Empty();
    m_totalSize = m_stream->Size();
    return true;
}

void CMP4File::Close() {
    if (m_modified && m_stream) {
        m_modified = false;
        Save();
    }
    if (m_stream)
        m_stream->Close();
    m_stream.reset();
}

bool CMP4File::ReadAtoms() {
    if (!m_stream || !m_stream->IsOpen()) {
        m_error = u"Failed to open file";
        return false;
    }
    m_atoms.clear();
    m_ftyp = nullptr;
    m_moov = nullptr;
    m_uits = nullptr;
    m_mdats.clear();
    m_validated = false;
    m_error.Empty();
    m_stream->Seek(0);
    CAtomReadContext context(m_stream);
    try {
        for (;;) {
            const uint64_t position = m_stream->Position();
            const uint64_t left = m_stream->Size() > position ? m_stream->Size() - position : 0;
            std::unique_ptr<CAtom> atom = CAtom::Read(context, nullptr, left);
            if (!atom)
                return true;
            m_atoms.push_back(std::move(atom));
        }
    } catch (const CMP4Error& e) {
        m_error = Utf8(e.Message());
        // A file cut short still gives the atoms before the cut.
        return e.Message() == "Read past EOF";
    } catch (const std::bad_alloc&) {
        m_error = u"Out of memory";
    } catch (...) {
        m_error = u"Unknown error";
    }
    return false;
}

bool CMP4File::ValidateAtoms() {
    return Guarded([&] {
        m_ftyp = nullptr;
        m_moov = nullptr;
        m_uits = nullptr;
        m_mdats.clear();
        for (const auto& atom : m_atoms) {
            if (auto* ftyp = dynamic_cast<CFTYPAtom*>(atom.get())) {
                if (m_ftyp)
                    Mp4Raise("Too many FTYP atoms in file");
                m_ftyp = ftyp;
            } else if (auto* moov = dynamic_cast<CMOOVAtom*>(atom.get())) {
                if (m_moov)
                    Mp4Raise("Too many MOOV atoms in file");
                m_moov = moov;
            } else if (auto* mdat = dynamic_cast<CMDATAtom*>(atom.get())) {
                m_mdats.push_back(mdat);
            } else if (auto* uuid = dynamic_cast<CUUIDAtom*>(atom.get()); uuid && uuid->IsUits()) {
                if (m_uits)
                    Mp4Raise("Too many UITS payload atoms in file");
                m_uits = uuid;
            }
        }
        if (!m_ftyp)
            Mp4Raise("Missing FTYP Atom");
        if (!m_moov)
            Mp4Raise("Missing MOOV Atom");
        if (m_mdats.empty())
            ScanForMdat();
        if (m_mdats.empty() && !m_mdatOptional)
            Mp4Raise("Missing MDAT Atom");
        CVerifyContext context;
        context.Mdats = m_mdats;
        context.OverlapCheck = m_overlapCheck;
        m_moov->Verify(context);
        m_validated = true;
        return true;
    });
}

void CMP4File::ScanForMdat() {
    if (!m_stream || !m_stream->IsOpen() || m_atoms.empty())
        return;
    const CAtom& last = *m_atoms.back();
    const uint64_t size = m_stream->Size();
    uint64_t from = last.Position + last.Size;
    std::vector<uint8_t> block(CAtomStream::ReadAheadSize + 3);
    while (from + 8 <= size) {
        // Find "mdat" at or after from + 4 (the size field comes before it).
        uint64_t found = UINT64_MAX;
        for (uint64_t at = from + 4; at + 4 <= size && found == UINT64_MAX;) {
            m_stream->Seek(at);
            const size_t n = m_stream->ReadSome(block.data(), block.size());
            if (n < 4)
                break;
            for (size_t i = 0; i + 4 <= n; ++i) {
                if (std::memcmp(block.data() + i, "mdat", 4) == 0) {
                    found = at + i;
                    break;
                }
            }
            at += n - 3;
        }
        if (found == UINT64_MAX)
            return;
        m_stream->Seek(found - 4);
        CAtomReadContext context(m_stream);
        std::unique_ptr<CAtom> atom;
        try {
            atom = CAtom::Read(context, nullptr, size - (found - 4));
        } catch (const CMP4Error&) {
        }
        auto* mdat = dynamic_cast<CMDATAtom*>(atom.get());
        if (!mdat) {
            from = found - 3; // keep looking after this "mdat"
            continue;
        }
        from = mdat->Position + mdat->Size;
        m_mdats.push_back(mdat);
        m_atoms.push_back(std::move(atom));
    }
}

// ---- layout and saving ------------------------------------------------------------------------

void CMP4File::FindWriterShortcuts() {
    if (!m_stsd)
        return;
    auto* stbl = dynamic_cast<CContainerAtom*>(m_stsd->Parent);
    CAtom* offsets =
        stbl->FindChild(T("stco")) ? stbl->FindChild(T("stco")) : stbl->FindChild(T("co64"));
    m_chunkOffsets = dynamic_cast<CChunkOffsetAtomBase*>(offsets);
}

uint64_t CMP4File::LayOut() {
    uint64_t total = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& atom : m_atoms)
            atom->MakeChunkOffsetsRelative();
        total = 0;
        for (const auto& atom : m_atoms)
            total += SizeWithHeader(*atom);
        uint64_t before = 0;
        for (const auto& atom : m_atoms) {
            if (auto* mdat = dynamic_cast<CMDATAtom*>(atom.get()))
                mdat->DataOffset = before + (mdat->Size >= 0x80000000ull ? 16 : 8);
            before += atom->Size;
        }
        for (const auto& atom : m_atoms)
            atom->MakeChunkOffsetsAbsolute();
        bool widened = false;
        for (const auto& atom : m_atoms)
            widened |= WidenChunkOffsets(*atom);
        if (!widened)
            break;
        FindWriterShortcuts();
    }
    m_totalSize = total;
    return total;
}

bool CMP4File::SaveSteps(ZrString& temporary) {
    // Chunks of a file that was read must be linked to their media data first.
    if (!m_validated && !m_stts && !ValidateAtoms())
        return false;
    const uint64_t total = LayOut();

    // A temporary folder too small for the file gives way to the destination's own folder.
    ZrString folder = HostTempFolder();
    const int64_t room = ZrFileSystem::FreeSpace(folder);
    if (room >= 0 && static_cast<uint64_t>(room) < total + (1u << 20) &&
        ZrFileSystem::DirectoryExists(folder))
        folder = ZrFileSystem::FolderOf(m_name);
    temporary = CreateUniqueTempFile(folder, u"TempMp4FileForTagging", u"mp4");
    if (temporary.IsEmpty())
        Mp4Raise("Cannot create a temporary file in %s", folder.ToUtf8().c_str());
    {
        CAtomStream out;
        if (!out.Open(temporary, true))
            Mp4Raise("Cannot open %s: %s", temporary.ToUtf8().c_str(),
                     out.ErrorText().ToUtf8().c_str());
        for (const auto& atom : m_atoms)
            atom->Write(out);
        if (!out.Close())
            Mp4Raise("Error writing %s: %s", temporary.ToUtf8().c_str(),
                     out.ErrorText().ToUtf8().c_str());
    }

    CMP4File check;
    check.SetMdatOptional(false);
    const bool good = check.Open(temporary, false) && check.ReadAtoms() &&
                      check.ErrorText().IsEmpty() && check.ValidateAtoms();
    if (!good) {
        m_modified = false;
        m_error = check.ErrorText().IsEmpty() ? ZrString(u"The rewritten file is not valid")
                                              : check.ErrorText();
        check.Close();
        ZrFileSystem::DeleteFile(temporary);
        temporary.Empty();
        return false;
    }
    check.Close();
    if (!m_stream->Close())
        Mp4Raise("Error writing %s: %s", m_name.ToUtf8().c_str(),
                 m_stream->ErrorText().ToUtf8().c_str());
    m_stream.reset();
    m_modified = false;
    const ZrString replacement = temporary;
    temporary.Empty(); // from here on it is SafeReplaceFile's to keep or delete
    if (!ZrFileSystem::SafeReplaceFile(m_name, replacement, 1)) {
        m_error = ZrString::Format("Cannot put the rewritten file in place of %s",
                                   m_name.ToUtf8().c_str());
        return false;
    }
    return true;
}

bool CMP4File::Save() {
    if (m_name.IsEmpty() || !m_stream || !m_stream->IsOpen()) {
        m_error = u"The file is not open";
        return false;
    }
    m_error.Empty();
    ZrString temporary;
    const bool saved = Guarded([&] { return SaveSteps(temporary); });
    if (!temporary.IsEmpty())
        ZrFileSystem::DeleteFile(temporary);
    return saved;
}

bool CMP4File::AppendFile(CMP4File& other) {
    return Guarded([&] {
        if ((!m_validated && !ValidateAtoms()) || (!other.m_validated && !other.ValidateAtoms()))
            Mp4Raise("%s", (m_validated ? other.m_error : m_error).ToUtf8().c_str());
        for (const auto& atom : m_atoms)
            atom->MakeChunkOffsetsRelative();
        for (const auto& atom : other.m_atoms)
            atom->MakeChunkOffsetsRelative();
        m_moov->Append(*other.m_moov);
        // The other file's media data follows ours; its chunks stay linked to its atoms.
        size_t insertAt = m_atoms.size();
        for (size_t i = m_atoms.size(); i-- > 0;)
            if (dynamic_cast<CMDATAtom*>(m_atoms[i].get())) {
                insertAt = i + 1;
                break;
            }
        for (auto it = other.m_atoms.begin(); it != other.m_atoms.end();) {
            if (auto* mdat = dynamic_cast<CMDATAtom*>(it->get())) {
                m_mdats.push_back(mdat);
                m_atoms.insert(m_atoms.begin() + static_cast<std::ptrdiff_t>(insertAt++),
                               std::move(*it));
                it = other.m_atoms.erase(it);
            } else {
                ++it;
            }
        }
        other.m_mdats.clear();
        other.m_validated = false;
        return true;
    });
}
