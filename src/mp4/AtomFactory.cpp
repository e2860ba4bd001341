// The reading factory's table: which class reads a type met under which parent. Types without a
// class, and item types met outside an item list, are kept as opaque atoms.
#include "foundation/ZrLog.h"
#include "mp4/Atom.h"
#include "mp4/BasicAtoms.h"
#include "mp4/ChunkOffsetAtoms.h"
#include "mp4/ContainerAtoms.h"
#include "mp4/DescriptionAtoms.h"
#include "mp4/HeaderAtoms.h"
#include "mp4/KeyedMetadata.h"
#include "mp4/SampleTableAtoms.h"
#include "mp4/TagAtoms.h"

#include <cinttypes>

namespace {

constexpr FourCC T(const char (&text)[5]) {
    return MakeFourCC(text);
}

// Types that carry nothing; one with a payload is logged and kept as it is.
bool MustBeEmpty(FourCC type) {
    return type == T("wide");
}

template <typename A>
std::unique_ptr<CAtom> Make(CAtomReader& reader) {
    return std::make_unique<A>(reader);
}

// An item of an ilst: keyed when the meta above is, else the class of its type. An item whose
// content does not parse as atoms is kept whole as opaque bytes.
std::unique_ptr<CAtom> MakeItem(CAtomReader& reader) {
    const CAtom* ilst = reader.Parent;
    auto* meta = dynamic_cast<const CContainerAtom*>(ilst->Parent);
    const int depth = reader.Context.Depth;
    try {
        if (meta && meta->Type == T("meta") && IsKeyedMeta(*meta))
            return Make<MetadataItemAtom>(reader);
        if (std::unique_ptr<CAtom> item = ReadTagItem(reader))
            return item;
    } catch (const CMP4Error& e) {
        if (e.Message() == "Read past EOF")
            throw;
        reader.Context.Depth = depth;
        reader.Rewind();
    }
    return Make<CFREEAtom>(reader);
}

// Children of an item: data atoms, and mean and name in a freeform item.
std::unique_ptr<CAtom> MakeItemPart(CAtomReader& reader) {
    const FourCC type = reader.Type;
    if (type == T("data") && reader.Remaining() >= 8)
        return Make<CTagDataAtom>(reader);
    if (reader.Parent->Type == T("----") && type == T("mean"))
        return Make<CMeanAtom>(reader);
    if (reader.Parent->Type == T("----") && type == T("name"))
        return Make<C__NameAtom>(reader);
    return Make<CFREEAtom>(reader);
}

std::unique_ptr<CAtom> MakeMeta(CAtomReader& reader) {
    auto meta = std::make_unique<CMetaAtom>(reader);
    if (!IsKeyedMeta(*meta))
        return meta;
    return std::make_unique<QTMetaAtom>(std::move(*meta));
}

} // namespace

std::unique_ptr<CAtom> CreateAtomForReading(CAtomReader& reader) {
    const FourCC type = reader.Type;
    const FourCC parent = reader.Parent ? reader.Parent->Type : 0;

    if (MustBeEmpty(type) && reader.Remaining() != 0) {
        ZrLogLine(u"CAtom::Read",
                  ZrString::Format("CAtom::Read Expected empty size %" PRId64 ", Pos %" PRId64
                                   ", Size %" PRId64 ", %s",
                                   static_cast<int64_t>(reader.Remaining()),
                                   static_cast<int64_t>(reader.Position),
                                   static_cast<int64_t>(reader.Size), FourCCText(type).c_str()));
    }
    // Item atoms are named by their content: their classes read them only inside an item list.
    if (parent == T("ilst"))
        return MakeItem(reader);
    if (dynamic_cast<CTagAtomBase*>(reader.Parent))
        return MakeItemPart(reader);
    if (parent == T("udta") && type == T("cprt") && reader.Remaining() >= 6)
        return Make<CCopyrightAtom>(reader);
    if (parent == T("meta") && type == T("keys"))
        return Make<MetadataItemKeysAtom>(reader);
    // Inside a sample description, only sound entries are interpreted.
    if (parent == T("stsd"))
        return IsSoundEntryType(type) ? Make<CSOUNAtomGeneral>(reader) : Make<CFREEAtom>(reader);
    if (reader.Parent && dynamic_cast<CSOUNAtom*>(reader.Parent)) {
        if (type == T("alac"))
            return Make<CALACDesc>(reader);
        if (type == T("esds"))
            return Make<CESDescriptorAtom>(reader);
        return Make<CFREEAtom>(reader);
    }
    if (parent == T("dref") && (type == T("url ") || type == T("urn ")))
        return Make<CDataEntryAtom>(reader);

    switch (type) {
    case T("ftyp"):
        return Make<CFTYPAtom>(reader);
    case T("mdat"):
        return Make<CMDATAtom>(reader);
    case T("uuid"):
        return Make<CUUIDAtom>(reader);
    case T("moov"):
        return Make<CMOOVAtom>(reader);
    case T("trak"):
        return Make<CTRAKAtom>(reader);
    case T("mdia"):
        return Make<CMDIAAtom>(reader);
    case T("minf"):
        return Make<CMINFAtom>(reader);
    case T("dinf"):
        return Make<CDINFAtom>(reader);
    case T("stbl"):
        return Make<CSTBLAtom>(reader);
    case T("udta"):
        return Make<CUdtaAtom>(reader);
    case T("meta"):
        return MakeMeta(reader);
    case T("ilst"):
        return Make<CILSTAtom>(reader);
    case T("mvhd"):
        return Make<CMVHDAtom>(reader);
    case T("tkhd"):
        return Make<CTKHDAtom>(reader);
    case T("mdhd"):
        return Make<CMDHDAtom>(reader);
    case T("hdlr"):
        return Make<CHDLRAtom>(reader);
    case T("smhd"):
        return Make<CSMHDAtom>(reader);
    case T("dref"):
        return Make<CDREFAtom>(reader);
    case T("stsd"):
        return Make<CSTSDAtom>(reader);
    case T("stts"):
        return Make<CSTTSAtom>(reader);
    case T("stsc"):
        return Make<CSTSCAtom>(reader);
    case T("stsz"):
        return Make<CSTSZAtom>(reader);
    case T("stco"):
        return Make<CSTCOAtom>(reader);
    case T("co64"):
        return Make<CCO64Atom>(reader);
    default:
        return Make<CFREEAtom>(reader); // "free", "skip" and every other type
    }
}
