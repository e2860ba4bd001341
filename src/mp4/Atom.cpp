#include "mp4/Atom.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

// ---- CAtomReader ------------------------------------------------------------------------------

uint64_t CAtomReader::Take(unsigned bytes) {
    if (m_remaining < bytes)
        RaiseTooShort();
    m_remaining -= bytes;
    return Stream().ReadBE(bytes);
}

void CAtomReader::RaiseTooShort() const {
    Mp4Raise("%s atom at %" PRIu64 " is too short for its contents", FourCCText(Type).c_str(),
             Position);
}

std::vector<uint8_t> CAtomReader::Bytes(uint64_t count) {
    if (count > m_remaining)
        RaiseTooShort();
    if (count > CAtomReadLimits::MaxHeldPayload)
        Mp4Raise("Out of memory");
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    Stream().Read(bytes.data(), bytes.size());
    m_remaining -= count;
    return bytes;
}

void CAtomReader::Skip(uint64_t count) {
    if (count > m_remaining)
        RaiseTooShort();
    Stream().Skip(count);
    m_remaining -= count;
}

void CAtomReader::Rewind() {
    Stream().Seek(Position + HeaderSize);
    m_remaining = Size - HeaderSize;
}

void CAtomReader::SkipZero(uint64_t count) {
    for (uint64_t i = 0; i < count; ++i)
        if (U8() != 0)
            Mp4Raise("SkipZero error");
}

void CAtomReader::RequireEntries(uint64_t count, uint64_t entryBytes) const {
    if (entryBytes && count > m_remaining / entryBytes)
        Mp4Raise("%s atom at %" PRIu64 " holds fewer entries than its count of %" PRIu64,
                 FourCCText(Type).c_str(), Position, count);
}

// ---- CAtom ------------------------------------------------------------------------------------

CAtom::~CAtom() = default;

CAtom::CAtom(const CAtomReader& reader)
    : Type(reader.Type), Position(reader.Position), Size(reader.Size), Parent(reader.Parent) {}

CAtom::CAtom(const CAtom& other, CAtom* parent)
    : Opaque(other.Opaque), Type(other.Type), Position(other.Position), Size(other.Size),
      Parent(parent) {}

uint64_t CAtom::ComputeSize() {
    Size += 8 + PayloadSize();
    return Size;
}

void CAtom::WriteHeader(CAtomStream& stream) const {
    if (Size >= LargeAtomSize) {
        stream.WriteBE(1, 4);
        stream.WriteBE(Type, 4);
        stream.WriteBE(Size, 8);
    } else {
        stream.WriteBE(Size, 4);
        stream.WriteBE(Type, 4);
    }
}

void CAtom::Write(CAtomStream& stream) {
    WriteHeader(stream);
    WritePayload(stream);
}

void CAtom::DumpLine(int indent, std::string& out, const std::string& text) const {
    out.append(static_cast<size_t>(indent > 0 ? indent : 0), '\t');
    out += text;
    out += '\n';
}

void CAtom::DumpHeader(int, int indent, std::string& out) const {
    char line[128];
    std::snprintf(line, sizeof line, "\tPosition: %" PRIu64 ", length=%" PRIu64 " ", Position,
                  Size);
    DumpLine(indent, out, "Atom: " + FourCCText(Type) + line);
}

void CAtom::Dump(int verbosity, int indent, std::string& out) const {
    DumpHeader(verbosity, indent, out);
    DumpFields(verbosity, indent, out);
}

void CAtom::Verify(CVerifyContext&) {
    Mp4Raise("CAtom::Verify not implemented");
}

void CAtom::Append(CAtom&) {
    Mp4Raise("Append not implemented for this atom");
}

void CAtom::CheckParent(FourCC expected) const {
    if (!Parent)
        Mp4Raise("%s Parent is null", ClassName());
    if (Parent->Type != expected)
        Mp4Raise("%s Parent is not %s: %s", ClassName(), FourCCText(expected).c_str(),
                 FourCCText(Parent->Type).c_str());
}

void CAtom::RaiseAppendMismatch(const char* what) const {
    Mp4Raise("%s", what);
}

uint64_t SizeWithHeader(CAtom& atom) {
    atom.Size = 0;
    atom.ComputeSize();
    if (atom.Size >= LargeAtomSize)
        atom.Size += 8;
    return atom.Size;
}

std::unique_ptr<CAtom> CAtom::Read(CAtomReadContext& context, CAtom* parent, uint64_t limit) {
    if (limit < 8)
        return nullptr;
    CAtomStream& stream = *context.Stream;
    const uint64_t position = stream.Position();
    const uint64_t size32 = stream.ReadBE(4);
    const FourCC type = static_cast<FourCC>(stream.ReadBE(4));
    unsigned headerSize = 8;
    uint64_t size = size32;
    if (size32 == 1) {
        if (limit < 16)
            Mp4Raise("Read past EOF");
        size = stream.ReadBE(8);
        headerSize = 16;
    } else if (size32 == 0) {
        size = limit; // the atom runs to the end of its parent (of the file at the top)
    }
    if (size < headerSize)
        Mp4Raise("%s atom at %" PRIu64 " has an invalid size of %" PRIu64, FourCCText(type).c_str(),
                 position, size);
    if (size > limit) {
        if (!parent) // a file cut short
            Mp4Raise("Read past EOF");
        Mp4Raise("%s atom at %" PRIu64 " is larger than its parent %s", FourCCText(type).c_str(),
                 position, FourCCText(parent->Type).c_str());
    }
    if (++context.AtomCount > CAtomReadLimits::MaxAtoms)
        Mp4Raise("Too many atoms in file");
    if (context.Depth >= CAtomReadLimits::MaxDepth)
        Mp4Raise("Atoms nested too deeply at %" PRIu64, position);

    ++context.Depth;
    CAtomReader reader(context, type, position, size, headerSize, parent);
    std::unique_ptr<CAtom> atom = CreateAtomForReading(reader);
    --context.Depth;
    // Bytes a class did not interpret are passed over.
    if (reader.Remaining())
        reader.Skip(reader.Remaining());
    return atom;
}

// ---- CContainerAtom ---------------------------------------------------------------------------

CContainerAtom::CContainerAtom(const CContainerAtom& other, CAtom* parent) : CAtom(other, parent) {}

void CContainerAtom::CloneChildren(const CContainerAtom& other) {
    m_children.reserve(other.m_children.size());
    for (const auto& child : other.m_children)
        m_children.push_back(child->Clone(this));
}

uint64_t CContainerAtom::ComputeSize() {
    CAtom::ComputeSize();
    for (const auto& child : m_children)
        Size += SizeWithHeader(*child);
    return Size;
}

void CContainerAtom::Write(CAtomStream& stream) {
    CAtom::Write(stream);
    for (const auto& child : m_children)
        child->Write(stream);
}

void CContainerAtom::Dump(int verbosity, int indent, std::string& out) const {
    CAtom::Dump(verbosity, indent, out);
    DumpChildren(verbosity, indent, out);
}

void CContainerAtom::DumpChildren(int verbosity, int indent, std::string& out) const {
    for (const auto& child : m_children)
        child->Dump(verbosity, indent + 1, out);
}

void CContainerAtom::VerifyChildren(CVerifyContext& context) {
    for (const auto& child : m_children)
        child->Verify(context);
}

void CContainerAtom::Verify(CVerifyContext& context) {
    VerifyChildren(context);
}

void CContainerAtom::MakeChunkOffsetsRelative() {
    for (const auto& child : m_children)
        child->MakeChunkOffsetsRelative();
}

void CContainerAtom::MakeChunkOffsetsAbsolute() {
    for (const auto& child : m_children)
        child->MakeChunkOffsetsAbsolute();
}

void CContainerAtom::Append(CAtom& other) {
    auto* that = dynamic_cast<CContainerAtom*>(&other);
    if (!that || that->Type != Type)
        return CAtom::Append(other);
    // Collect the other side's types first: appending may add children to this atom.
    std::vector<FourCC> types;
    for (const auto& child : that->m_children)
        if (std::find(types.begin(), types.end(), child->Type) == types.end())
            types.push_back(child->Type);
    for (FourCC type : types) {
        const size_t mine = CountChildren(type);
        const size_t theirs = that->CountChildren(type);
        if (mine == 0) {
            for (size_t i = 0; i < theirs; ++i)
                AppendMissing(*that->FindChild(type, i));
        } else if (mine == 1 && theirs == 1) {
            FindChild(type)->Append(*that->FindChild(type));
        } else {
            AppendMultiple(*that, type);
        }
    }
}

void CContainerAtom::AppendMultiple(CContainerAtom&, FourCC childType) {
    Mp4Raise("CContainerAtom::AppendMultiple not implemented for %s with child %s",
             FourCCText(Type).c_str(), FourCCText(childType).c_str());
}

void CContainerAtom::AppendRoot(CContainerAtom&) {
    Mp4Raise("CContainerAtom::AppendRoot not implemented for %s", FourCCText(Type).c_str());
}

void CContainerAtom::AppendMissing(CAtom&) {
    Mp4Raise("CContainerAtom::AppendMissing not implemented for %s", FourCCText(Type).c_str());
}

CAtom* CContainerAtom::AddChild(std::unique_ptr<CAtom> child) {
    return InsertChild(m_children.size(), std::move(child));
}

CAtom* CContainerAtom::InsertChild(size_t at, std::unique_ptr<CAtom> child) {
    child->Parent = this;
    Size += child->Size;
    CAtom* raw = child.get();
    m_children.insert(m_children.begin() +
                          static_cast<std::ptrdiff_t>(std::min(at, m_children.size())),
                      std::move(child));
    return raw;
}

std::unique_ptr<CAtom> CContainerAtom::RemoveChild(CAtom* child) {
    for (auto it = m_children.begin(); it != m_children.end(); ++it) {
        if (it->get() == child) {
            std::unique_ptr<CAtom> owned = std::move(*it);
            m_children.erase(it);
            Size -= std::min(Size, owned->Size);
            owned->Parent = nullptr;
            return owned;
        }
    }
    return nullptr;
}

CAtom* CContainerAtom::FindChild(FourCC type, size_t nth) const {
    for (const auto& child : m_children)
        if (child->Type == type && nth-- == 0)
            return child.get();
    return nullptr;
}

size_t CContainerAtom::CountChildren(FourCC type) const {
    size_t n = 0;
    for (const auto& child : m_children)
        n += child->Type == type;
    return n;
}

CAtom* CContainerAtom::FindPath(std::string_view path) const {
    const CContainerAtom* at = this;
    CAtom* found = nullptr;
    while (!path.empty()) {
        const size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        if (part.size() != 4 || !at)
            return nullptr;
        const char text[5] = {part[0], part[1], part[2], part[3], 0};
        found = at->FindChild(MakeFourCC(text));
        if (!found)
            return nullptr;
        at = dynamic_cast<const CContainerAtom*>(found);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    }
    return found;
}

void CContainerAtom::ReadChildren(CAtomReader& reader, uint64_t requested) {
    uint64_t read = 0;
    while (reader.Remaining() >= 8) {
        std::unique_ptr<CAtom> child = CAtom::Read(reader.Context, this, reader.Remaining());
        if (!child)
            break;
        reader.Consumed(child->Size);
        m_children.push_back(std::move(child));
        ++read;
    }
    if (read < requested)
        Mp4Raise("CContainerAtom::ReadChildren didn't read the requested atoms");
}

CAtom* CContainerAtom::RequireSingle(FourCC type) const {
    if (CountChildren(type) != 1)
        Mp4Raise("%s atom has wrong number of %s atoms", FourCCText(Type).c_str(),
                 FourCCText(type).c_str());
    return FindChild(type);
}

// ---- CFullAtom --------------------------------------------------------------------------------

CFullAtom::CFullAtom(CAtomReader& reader) : CContainerAtom(reader) {
    Version = reader.U8();
    Flags = reader.U24();
}

void CFullAtom::WritePayload(CAtomStream& stream) const {
    stream.WriteBE(Version, 1);
    stream.WriteBE(Flags & 0xFFFFFF, 3);
}

void CFullAtom::DumpHeader(int verbosity, int indent, std::string& out) const {
    CAtom::DumpHeader(verbosity, indent, out);
    if (verbosity >= 1) {
        char line[64];
        std::snprintf(line, sizeof line, "Version: %d, Flags: %x", Version, Flags);
        DumpLine(indent, out, line);
    }
}
