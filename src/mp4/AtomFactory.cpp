// The reading factory's table: which class reads a type met under which parent. Types without a
// class (and items of an item list until their classes exist) are kept as opaque atoms.
#include "foundation/ZrLog.h"
#include "mp4/Atom.h"
#include "mp4/BasicAtoms.h"
#include "mp4/ChunkOffsetAtoms.h"
#include "mp4/ContainerAtoms.h"
#include "mp4/DescriptionAtoms.h"
#include "mp4/HeaderAtoms.h"
#include "mp4/SampleTableAtoms.h"

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
    // Item atoms are named by their content; only their own classes may read them.
    if (parent == T("ilst"))
        return Make<CFREEAtom>(reader);
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
        return Make<CMetaAtom>(reader);
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
