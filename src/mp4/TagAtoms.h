// Item-list metadata: moov/udta/meta/ilst holds one item atom per tag, each holding data atoms.
// Every item class converts between its stored data and the text the host shows:
// GetValue fills the text and says whether there is a value; SetValue stores a text and says
// whether the stored value changed (text items compare exactly, the others ignoring case).
//
// The reading factory builds these classes only under an ilst; the same types anywhere else stay
// opaque atoms. Whatever an item holds beside its data atoms is written back unchanged.
#pragma once

#include "foundation/ZrString.h"
#include "mp4/Atom.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Well-known data types of a data atom.
namespace TagDataType {
inline constexpr uint32_t Implicit = 0; // raw bytes: track and disc numbers, standard genre
inline constexpr uint32_t Utf8 = 1;
inline constexpr uint32_t Utf8Sort = 4;
inline constexpr uint32_t Utf16Sort = 5; // read like UTF-8, as the writers we meet store it
inline constexpr uint32_t Jpeg = 13;
inline constexpr uint32_t Png = 14;
inline constexpr uint32_t SignedBE = 21;
inline constexpr uint32_t UnsignedBE = 22;
inline constexpr uint32_t Float32BE = 23;
inline constexpr uint32_t Float64BE = 24;
inline constexpr uint32_t Image = 27; // read like JPEG
inline constexpr uint32_t Int8 = 65;
inline constexpr uint32_t Int16 = 66;
inline constexpr uint32_t Int32 = 67;
inline constexpr uint32_t Int64 = 74;
inline constexpr uint32_t UInt8 = 75;
inline constexpr uint32_t UInt16 = 76;
inline constexpr uint32_t UInt32 = 77;
inline constexpr uint32_t UInt64 = 78;
} // namespace TagDataType

// The standard genre list (148 names); gnre stores index + 1.
inline constexpr size_t GenreCount = 148;
extern const char* const GenreNames[GenreCount];
// Index of a name compared exactly, or -1.
int FindGenre(const std::string& name);

// "data": type set, data type, country, language, then the value.
class CTagDataAtom final : public CAtom {
public:
    CTagDataAtom(uint32_t dataType, std::vector<uint8_t> payload, uint8_t typeSet = 0,
                 uint16_t country = 0, uint16_t language = 0);
    explicit CTagDataAtom(CAtomReader& reader);
    CTagDataAtom(const CTagDataAtom& other, CAtom* parent);

    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext&) override {}
    const char* ClassName() const override { return "CTagDataAtom"; }

    uint8_t TypeSet = 0;
    uint32_t DataType = 0; // 24 bits
    uint16_t Country = 0;
    uint16_t Language = 0;
    std::vector<uint8_t> Payload;

protected:
    uint64_t PayloadSize() const override { return 8 + Payload.size(); }
    void WritePayload(CAtomStream& stream) const override;
    void DumpFields(int verbosity, int indent, std::string& out) const override;
};

// Base of every item: children (data atoms and whatever else the writer put there), then any
// bytes too short to be an atom.
class CTagAtomBase : public CContainerAtom {
public:
    virtual bool GetValue(ZrString& value) const;
    virtual bool SetValue(const ZrString& value);

    uint64_t ComputeSize() override;
    void Write(CAtomStream& stream) override;
    void Verify(CVerifyContext& context) override { VerifyChildren(context); }

    CTagDataAtom* FirstData() const;
    // Replaces the first data atom's payload and data type; appends a data atom when none.
    void StoreData(uint32_t dataType, std::vector<uint8_t> payload);

    std::vector<uint8_t> Trailing;

protected:
    explicit CTagAtomBase(FourCC type) : CContainerAtom(type) { Size = 8; }
    explicit CTagAtomBase(CAtomReader& reader);
    CTagAtomBase(const CTagAtomBase& other, CAtom* parent);

    // The current value equals `value`: exactly, or ignoring case.
    bool Holds(const ZrString& value, bool exact) const;
};

// Text items: UTF-8, at most 255 bytes unless the class lifts the limit.
class CStringTagAtomBase : public CTagAtomBase {
public:
    static constexpr size_t MaxBytes = 255;

    bool GetValue(ZrString& value) const override;
    bool SetValue(const ZrString& value) override;

    bool LengthLimited = true;

protected:
    explicit CStringTagAtomBase(FourCC type) : CTagAtomBase(type) {}
    explicit CStringTagAtomBase(CAtomReader& reader) : CTagAtomBase(reader) {}
    CStringTagAtomBase(const CStringTagAtomBase& other, CAtom* parent)
        : CTagAtomBase(other, parent), LengthLimited(other.LengthLimited) {}
};

class CUnlimitedStringTagAtomBase : public CStringTagAtomBase {
protected:
    explicit CUnlimitedStringTagAtomBase(FourCC type) : CStringTagAtomBase(type) {
        LengthLimited = false;
    }
    explicit CUnlimitedStringTagAtomBase(CAtomReader& reader) : CStringTagAtomBase(reader) {
        LengthLimited = false;
    }
    CUnlimitedStringTagAtomBase(const CUnlimitedStringTagAtomBase& other, CAtom* parent)
        : CStringTagAtomBase(other, parent) {}
};

// ©gen: text; "(n)" with one to three digits reads as genre name n.
class CCustomGenreTagBase : public CStringTagAtomBase {
public:
    bool GetValue(ZrString& value) const override;

protected:
    using CStringTagAtomBase::CStringTagAtomBase;
};

// Declares an item kind whose value rules are given by GetValue/SetValue in TagAtoms.cpp.
#define ZR_TAG_KIND(Kind)                                                                          \
    class Kind : public CTagAtomBase {                                                             \
    public:                                                                                        \
        bool GetValue(ZrString& value) const override;                                             \
        bool SetValue(const ZrString& value) override;                                             \
                                                                                                   \
    protected:                                                                                     \
        using CTagAtomBase::CTagAtomBase;                                                          \
    }

ZR_TAG_KIND(CStandardGenreTagBase); // gnre: 2 bytes, genre index + 1
ZR_TAG_KIND(CNumberPairTagBase);    // trkn, disk: n/m
ZR_TAG_KIND(CShortNumberTagBase);   // tmpo, ©mvi, ©mvc: 16-bit number
ZR_TAG_KIND(CFlagTagBase);          // cpil, pcst, pgap, shwm: 0 or 1
ZR_TAG_KIND(CRatingTagBase);        // rtng: 0, 1, 2 or 4
ZR_TAG_KIND(CByteTagBase);          // stik: one byte
// covr: the image is handed out as a new temporary file ("cover art….jpg" or ".png") that the
// caller deletes; set from the path of an image file.
ZR_TAG_KIND(CCoverartTagBase);
#undef ZR_TAG_KIND

// tvsn, tves: neither read nor set; kept as read.
class CNoValueTagBase : public CTagAtomBase {
protected:
    using CTagAtomBase::CTagAtomBase;
};

// One item class: its atom type, its name and the value rules of its kind.
template <FourCC Code, const char* Name, class Kind>
class CTagItem final : public Kind {
public:
    static constexpr FourCC AtomType = Code;
    CTagItem() : Kind(Code) {}
    explicit CTagItem(CAtomReader& reader) : Kind(reader) {}
    CTagItem(const CTagItem& other, CAtom* parent) : Kind(other, parent) {}
    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    const char* ClassName() const override { return Name; }
};

#define ZR_TAG_ITEM(Class, Code, Kind)                                                             \
    inline constexpr char Class##Name[] = #Class;                                                  \
    using Class = CTagItem<MakeFourCC(Code), Class##Name, Kind>

ZR_TAG_ITEM(CNameAtom, "\xA9nam", CStringTagAtomBase);
ZR_TAG_ITEM(CArtistAtom,
            "\xA9"
            "ART",
            CStringTagAtomBase);
ZR_TAG_ITEM(CAlbumAtom,
            "\xA9"
            "alb",
            CStringTagAtomBase);
ZR_TAG_ITEM(CAlbumArtistAtom, "aART", CStringTagAtomBase);
ZR_TAG_ITEM(CCommentsAtom,
            "\xA9"
            "cmt",
            CStringTagAtomBase);
ZR_TAG_ITEM(CDateAtom,
            "\xA9"
            "day",
            CStringTagAtomBase);
ZR_TAG_ITEM(CComposerAtom, "\xA9wrt", CStringTagAtomBase);
ZR_TAG_ITEM(CToolAtom, "\xA9too", CStringTagAtomBase);
ZR_TAG_ITEM(CCopyrightAtom2, "cprt", CStringTagAtomBase);
ZR_TAG_ITEM(CGroupingAtom, "\xA9grp", CStringTagAtomBase);
ZR_TAG_ITEM(CLyricsAtom, "\xA9lyr", CUnlimitedStringTagAtomBase);
ZR_TAG_ITEM(ConductorAtom,
            "\xA9"
            "con",
            CStringTagAtomBase);
ZR_TAG_ITEM(DirectorAtom,
            "\xA9"
            "dir",
            CStringTagAtomBase);
ZR_TAG_ITEM(ProducerAtom, "\xA9prd", CStringTagAtomBase);
ZR_TAG_ITEM(PublisherAtom, "\xA9pub", CStringTagAtomBase);
ZR_TAG_ITEM(WorkAtom, "\xA9wrk", CStringTagAtomBase);
ZR_TAG_ITEM(MovementAtom, "\xA9mvn", CStringTagAtomBase);
ZR_TAG_ITEM(CCustomGenreAtom, "\xA9gen", CCustomGenreTagBase);
ZR_TAG_ITEM(CStandardGenreAtom, "gnre", CStandardGenreTagBase);
ZR_TAG_ITEM(CCategoryAtom, "catg", CStringTagAtomBase);
ZR_TAG_ITEM(CKeywordAtom, "keyw", CStringTagAtomBase);
ZR_TAG_ITEM(CPodcastURLAtom, "purl", CStringTagAtomBase);
ZR_TAG_ITEM(CEpisodeGlobalIDAtom, "egid", CStringTagAtomBase);
ZR_TAG_ITEM(CDescriptionAtom, "desc", CStringTagAtomBase);
ZR_TAG_ITEM(CTVNetworkNameAtom, "tvnn", CStringTagAtomBase);
ZR_TAG_ITEM(CTVShowNameAtom, "tvsh", CStringTagAtomBase);
ZR_TAG_ITEM(CTVEpisodeNumberAtom, "tven", CStringTagAtomBase);
ZR_TAG_ITEM(CPurchaseDateAtom, "purd", CStringTagAtomBase);
ZR_TAG_ITEM(CSortNameOfTrackAtom, "sonm", CStringTagAtomBase);
ZR_TAG_ITEM(CSortNameOfArtistAtom, "soar", CStringTagAtomBase);
ZR_TAG_ITEM(CSortNameOfAlbumArtistAtom, "soaa", CStringTagAtomBase);
ZR_TAG_ITEM(CSortNameOfAlbumAtom, "soal", CStringTagAtomBase);
ZR_TAG_ITEM(CSortNameOfComposerAtom, "soco", CStringTagAtomBase);
ZR_TAG_ITEM(CSortNameOfShowAtom, "sosn", CStringTagAtomBase);
ZR_TAG_ITEM(CTrackNumAtom, "trkn", CNumberPairTagBase);
ZR_TAG_ITEM(CDiskNumAtom, "disk", CNumberPairTagBase);
ZR_TAG_ITEM(CBPMAtom, "tmpo", CShortNumberTagBase);
ZR_TAG_ITEM(MovementNumAtom, "\xA9mvi", CShortNumberTagBase);
ZR_TAG_ITEM(MovementCountAtom, "\xA9mvc", CShortNumberTagBase);
ZR_TAG_ITEM(CCompilationAtom, "cpil", CFlagTagBase);
ZR_TAG_ITEM(CPodcastAtom, "pcst", CFlagTagBase);
ZR_TAG_ITEM(CGaplessPlaybackAtom, "pgap", CFlagTagBase);
ZR_TAG_ITEM(ShowWrkMvmntAtom, "shwm", CFlagTagBase);
ZR_TAG_ITEM(CRatingAtom, "rtng", CRatingTagBase);
ZR_TAG_ITEM(CStikAtom, "stik", CByteTagBase);
ZR_TAG_ITEM(CCoverartAtom, "covr", CCoverartTagBase);
ZR_TAG_ITEM(CTVSeasonAtom, "tvsn", CNoValueTagBase);
ZR_TAG_ITEM(CTVEpisodeAtom, "tves", CNoValueTagBase);
#undef ZR_TAG_ITEM

// A new, empty item of the class for `type`; null when no class has that type.
std::unique_ptr<CTagAtomBase> CreateTagItem(FourCC type);
// Reads an item met under an ilst; null when no class has the type.
std::unique_ptr<CAtom> ReadTagItem(CAtomReader& reader);

// "mean" and "name" of a freeform item: the whole payload (version and flags too) as read.
class CFreeformPartAtom : public CAtom {
public:
    // A new part: version 0, flags 0, then the text.
    CFreeformPartAtom(FourCC type, const std::string& text);
    explicit CFreeformPartAtom(CAtomReader& reader);
    CFreeformPartAtom(const CFreeformPartAtom& other, CAtom* parent);
    void Verify(CVerifyContext&) override {}
    // The text after version and flags.
    std::string Text() const;

    std::vector<uint8_t> Payload;

protected:
    uint64_t PayloadSize() const override { return Payload.size(); }
    void WritePayload(CAtomStream& stream) const override;
};

class CMeanAtom final : public CFreeformPartAtom {
public:
    explicit CMeanAtom(const std::string& text) : CFreeformPartAtom(MakeFourCC("mean"), text) {}
    using CFreeformPartAtom::CFreeformPartAtom;
    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    const char* ClassName() const override { return "CMeanAtom"; }
};

class C__NameAtom final : public CFreeformPartAtom {
public:
    explicit C__NameAtom(const std::string& text) : CFreeformPartAtom(MakeFourCC("name"), text) {}
    using CFreeformPartAtom::CFreeformPartAtom;
    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    const char* ClassName() const override { return "C__NameAtom"; }
};

// "----": a freeform item named by its mean ("com.apple.iTunes") and name; the value is the first
// data atom's text, without a length limit.
class C4DashesAtom final : public CStringTagAtomBase {
public:
    // A new item with its mean and name atoms and no data atom yet.
    C4DashesAtom(const std::string& mean, const std::string& name);
    explicit C4DashesAtom(CAtomReader& reader);
    C4DashesAtom(const C4DashesAtom& other, CAtom* parent);
    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    const char* ClassName() const override { return "C4DashesAtom"; }

    std::string Mean() const;
    std::string Name() const;
};

// "cprt" in udta: language and the notice bytes.
class CCopyrightAtom final : public CFullAtom {
public:
    CCopyrightAtom(uint16_t language, std::vector<uint8_t> notice);
    explicit CCopyrightAtom(CAtomReader& reader);
    CCopyrightAtom(const CCopyrightAtom& other, CAtom* parent);
    std::unique_ptr<CAtom> Clone(CAtom* parent) const override { return CloneAs(*this, parent); }
    void Verify(CVerifyContext&) override {}
    const char* ClassName() const override { return "CCopyrightAtom"; }

    uint16_t Language = 0;
    std::vector<uint8_t> Notice;

protected:
    uint64_t PayloadSize() const override { return 6 + Notice.size(); }
    void WritePayload(CAtomStream& stream) const override;
};

// Image bytes to a new temporary file named from "cover art" (".png" for PNG, else ".jpg");
// empty when it could not be written.
ZrString WriteCoverArtFile(const std::vector<uint8_t>& bytes, uint32_t dataType);
// A file's bytes; false when it cannot be read.
bool ReadWholeFile(const ZrString& path, std::vector<uint8_t>& bytes);
