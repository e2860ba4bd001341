#include "mp4/TagAtoms.h"

#include "foundation/ZrByteOrder.h"
#include "foundation/ZrFile.h"
#include "foundation/ZrFileSystem.h"
#include "foundation/ZrNumber.h"
#include "mp4/BasicAtoms.h"
#include "mp4/TempFileName.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

const char* const GenreNames[GenreCount] = {"Blues",
                                            "Classic Rock",
                                            "Country",
                                            "Dance",
                                            "Disco",
                                            "Funk",
                                            "Grunge",
                                            "Hip-Hop",
                                            "Jazz",
                                            "Metal",
                                            "New Age",
                                            "Oldies",
                                            "Other",
                                            "Pop",
                                            "R&B",
                                            "Rap",
                                            "Reggae",
                                            "Rock",
                                            "Techno",
                                            "Industrial",
                                            "Alternative",
                                            "Ska",
                                            "Death Metal",
                                            "Pranks",
                                            "Soundtrack",
                                            "Euro-Techno",
                                            "Ambient",
                                            "Trip-Hop",
                                            "Vocal",
                                            "Jazz+Funk",
                                            "Fusion",
                                            "Trance",
                                            "Classical",
                                            "Instrumental",
                                            "Acid",
                                            "House",
                                            "Game",
                                            "Sound Clip",
                                            "Gospel",
                                            "Noise",
                                            "Alt. Rock",
                                            "Bass",
                                            "Soul",
                                            "Punk",
                                            "Space",
                                            "Meditative",
                                            "Instrumental Pop",
                                            "Instrumental Rock",
                                            "Ethnic",
                                            "Gothic",
                                            "Darkwave",
                                            "Techno-Industrial",
                                            "Electronic",
                                            "Pop-Folk",
                                            "Eurodance",
                                            "Dream",
                                            "Southern Rock",
                                            "Comedy",
                                            "Cult",
                                            "Gangsta",
                                            "Top 40",
                                            "Christian Rap",
                                            "Pop/Funk",
                                            "Jungle",
                                            "Native American",
                                            "Cabaret",
                                            "New Wave",
                                            "Psychedelic",
                                            "Rave",
                                            "Showtunes",
                                            "Trailer",
                                            "Lo-Fi",
                                            "Tribal",
                                            "Acid Punk",
                                            "Acid Jazz",
                                            "Polka",
                                            "Retro",
                                            "Musical",
                                            "Rock & Roll",
                                            "Hard Rock",
                                            "Folk",
                                            "Folk-Rock",
                                            "National Folk",
                                            "Swing",
                                            "Fast Fusion",
                                            "Bebop",
                                            "Latin",
                                            "Revival",
                                            "Celtic",
                                            "Bluegrass",
                                            "Avantgarde",
                                            "Gothic Rock",
                                            "Progressive Rock",
                                            "Psychedelic Rock",
                                            "Symphonic Rock",
                                            "Slow Rock",
                                            "Big Band",
                                            "Chorus",
                                            "Easy Listening",
                                            "Acoustic",
                                            "Humour",
                                            "Speech",
                                            "Chanson",
                                            "Opera",
                                            "Chamber Music",
                                            "Sonata",
                                            "Symphony",
                                            "Booty Bass",
                                            "Primus",
                                            "Porn Groove",
                                            "Satire",
                                            "Slow Jam",
                                            "Club",
                                            "Tango",
                                            "Samba",
                                            "Folklore",
                                            "Ballad",
                                            "Power Ballad",
                                            "Rhythmic Soul",
                                            "Freestyle",
                                            "Duet",
                                            "Punk Rock",
                                            "Drum Solo",
                                            "Acapella",
                                            "Euro-House",
                                            "Dance Hall",
                                            "Goa",
                                            "Drum & Bass",
                                            "Club House",
                                            "Hardcore",
                                            "Terror",
                                            "Indie",
                                            "BritPop",
                                            "Black Punk",
                                            "Polsk Punk",
                                            "Beat",
                                            "Christian Gangsta",
                                            "Heavy Metal",
                                            "Black Metal",
                                            "Crossover",
                                            "Contemporary C",
                                            "Christian Rock",
                                            "Merengue",
                                            "Salsa",
                                            "Thrash Metal",
                                            "Anime",
                                            "JPop",
                                            "SynthPop"};

int FindGenre(const std::string& name) {
    for (size_t i = 0; i < GenreCount; ++i)
        if (name == GenreNames[i])
            return static_cast<int>(i);
    return -1;
}

namespace {

std::vector<uint8_t> Utf8Bytes(const ZrString& text) {
    const std::string utf8 = text.ToUtf8();
    return {utf8.begin(), utf8.end()};
}

ZrString FromBytes(const std::vector<uint8_t>& bytes) {
    return ZrString::FromUtf8(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

ZrString Decimal(int64_t value) {
    return ZrString::FromInt(value);
}

int32_t ParseInt(std::u16string_view text) {
    return ZrParseInt32(text);
}

// Cuts at most to `limit` bytes without splitting a UTF-8 sequence.
void LimitUtf8(std::vector<uint8_t>& bytes, size_t limit) {
    if (bytes.size() <= limit)
        return;
    size_t end = limit;
    while (end > 0 && (bytes[end] & 0xC0) == 0x80)
        --end;
    bytes.resize(end);
}

} // namespace

// ---- data -------------------------------------------------------------------------------------

CTagDataAtom::CTagDataAtom(uint32_t dataType, std::vector<uint8_t> payload, uint8_t typeSet,
                           uint16_t country, uint16_t language)
    : CAtom(MakeFourCC("data")), TypeSet(typeSet), DataType(dataType & 0xFFFFFF), Country(country),
      Language(language), Payload(std::move(payload)) {
    Size = 16 + Payload.size();
}

CTagDataAtom::CTagDataAtom(CAtomReader& reader) : CAtom(reader) {
    TypeSet = reader.U8();
    DataType = reader.U24();
    Country = reader.U16();
    Language = reader.U16();
    Payload = reader.Rest();
}

CTagDataAtom::CTagDataAtom(const CTagDataAtom& other, CAtom* parent)
    : CAtom(other, parent), TypeSet(other.TypeSet), DataType(other.DataType),
      Country(other.Country), Language(other.Language), Payload(other.Payload) {}

void CTagDataAtom::WritePayload(CAtomStream& stream) const {
    stream.WriteBE(TypeSet, 1);
    stream.WriteBE(DataType & 0xFFFFFF, 3);
    stream.WriteBE(Country, 2);
    stream.WriteBE(Language, 2);
    stream.Write(Payload.data(), Payload.size());
}

void CTagDataAtom::DumpFields(int, int indent, std::string& out) const {
    char line[96];
    std::snprintf(line, sizeof line, "Data type: %u, type set: %u, bytes: %zu", DataType, TypeSet,
                  Payload.size());
    DumpLine(indent + 1, out, line);
}

// ---- the item base ----------------------------------------------------------------------------

CTagAtomBase::CTagAtomBase(CAtomReader& reader) : CContainerAtom(reader) {
    ReadChildren(reader);
    Trailing = reader.Rest();
}

CTagAtomBase::CTagAtomBase(const CTagAtomBase& other, CAtom* parent)
    : CContainerAtom(other, parent), Trailing(other.Trailing) {
    CloneChildren(other);
}

bool CTagAtomBase::GetValue(ZrString& value) const {
    value.Empty();
    return false;
}

bool CTagAtomBase::SetValue(const ZrString&) {
    return false;
}

uint64_t CTagAtomBase::ComputeSize() {
    CContainerAtom::ComputeSize();
    Size += Trailing.size();
    return Size;
}

void CTagAtomBase::Write(CAtomStream& stream) {
    CContainerAtom::Write(stream);
    stream.Write(Trailing.data(), Trailing.size());
}

CTagDataAtom* CTagAtomBase::FirstData() const {
    for (const auto& child : Children())
        if (auto* data = dynamic_cast<CTagDataAtom*>(child.get()))
            return data;
    return nullptr;
}

void CTagAtomBase::StoreData(uint32_t dataType, std::vector<uint8_t> payload) {
    CTagDataAtom* data = FirstData();
    if (!data) {
        AddChild(std::make_unique<CTagDataAtom>(dataType, std::move(payload)));
        return;
    }
    Size -= std::min<uint64_t>(Size, data->Size);
    data->DataType = dataType;
    data->Payload = std::move(payload);
    data->Size = 16 + data->Payload.size();
    Size += data->Size;
}

bool CTagAtomBase::Holds(const ZrString& value, bool exact) const {
    ZrString current;
    GetValue(current);
    return exact ? current == value : current.EqualsNoCase(value.View());
}

// ---- text -------------------------------------------------------------------------------------

bool CStringTagAtomBase::GetValue(ZrString& value) const {
    value.Empty();
    const CTagDataAtom* data = FirstData();
    if (!data || data->Payload.empty())
        return false;
    value = FromBytes(data->Payload);
    return true;
}

bool CStringTagAtomBase::SetValue(const ZrString& value) {
    if (Holds(value, true))
        return false;
    std::vector<uint8_t> bytes = Utf8Bytes(value);
    if (LengthLimited)
        LimitUtf8(bytes, MaxBytes);
    StoreData(TagDataType::Utf8, std::move(bytes));
    return true;
}

bool CCustomGenreTagBase::GetValue(ZrString& value) const {
    if (!CStringTagAtomBase::GetValue(value))
        return false;
    const std::u16string_view text = value.View();
    if (text.size() < 3 || text.size() > 5 || text.front() != u'(' || text.back() != u')')
        return true;
    int n = 0;
    for (char16_t c : text.substr(1, text.size() - 2)) {
        if (c < u'0' || c > u'9')
            return true;
        n = n * 10 + (c - u'0');
    }
    if (n < static_cast<int>(GenreCount))
        value = ZrString::FromUtf8(GenreNames[n]);
    return true;
}

// ---- gnre -------------------------------------------------------------------------------------

bool CStandardGenreTagBase::GetValue(ZrString& value) const {
    value.Empty();
    const CTagDataAtom* data = FirstData();
    if (!data || data->Payload.size() < 2)
        return false;
    const unsigned b = data->Payload[1];
    if (b < 1 || b > GenreCount)
        return false;
    value = ZrString::FromUtf8(GenreNames[b - 1]);
    return true;
}

bool CStandardGenreTagBase::SetValue(const ZrString& value) {
    if (Holds(value, false))
        return false;
    const int index = FindGenre(value.ToUtf8());
    if (index < 0)
        return false;
    StoreData(TagDataType::Implicit, {0, static_cast<uint8_t>(index + 1)});
    return true;
}

// ---- trkn and disk ----------------------------------------------------------------------------

bool CNumberPairTagBase::GetValue(ZrString& value) const {
    value.Empty();
    const CTagDataAtom* data = FirstData();
    if (!data || data->Payload.size() < 4)
        return false;
    const uint8_t* p = data->Payload.data();
    const unsigned n = zrbytes::LoadBE16(p + 2);
    if (n == 0)
        return false;
    std::string text = std::to_string(n);
    if (data->Payload.size() >= 6) {
        const unsigned m = zrbytes::LoadBE16(p + 4);
        if (m >= 1 && m <= 254)
            text += "/" + std::to_string(m);
    }
    value = ZrString::FromUtf8(text);
    return true;
}

bool CNumberPairTagBase::SetValue(const ZrString& value) {
    if (Holds(value, false))
        return false;
    const std::u16string_view text = value.View();
    const size_t slash = text.find(u'/');
    const int32_t n = ParseInt(text.substr(0, slash));
    const int32_t m = slash == std::u16string_view::npos ? 0 : ParseInt(text.substr(slash + 1));
    if (n <= 0)
        return false;
    std::vector<uint8_t> payload(Type == MakeFourCC("trkn") ? 8 : 6, 0);
    zrbytes::StoreBE16(&payload[2], static_cast<uint16_t>(n));
    zrbytes::StoreBE16(&payload[4], static_cast<uint16_t>(m));
    StoreData(TagDataType::Implicit, std::move(payload));
    return true;
}

// ---- 16-bit numbers, flags, rating, stik ------------------------------------------------------

bool CShortNumberTagBase::GetValue(ZrString& value) const {
    value.Empty();
    const CTagDataAtom* data = FirstData();
    if (!data || data->Payload.size() < 2)
        return false;
    const unsigned n = zrbytes::LoadBE16(data->Payload.data());
    if (n == 0)
        return false;
    value = Decimal(n);
    return true;
}

bool CShortNumberTagBase::SetValue(const ZrString& value) {
    if (Holds(value, false))
        return false;
    const auto n = static_cast<uint16_t>(ParseInt(value.View()));
    if (n == 0)
        return false;
    StoreData(TagDataType::SignedBE, {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    return true;
}

bool CFlagTagBase::GetValue(ZrString& value) const {
    value.Empty();
    const CTagDataAtom* data = FirstData();
    if (!data || data->Payload.empty() || data->Payload[0] > 1)
        return false;
    value = data->Payload[0] ? ZrString(u"1") : ZrString(u"0");
    return true;
}

bool CFlagTagBase::SetValue(const ZrString& value) {
    if (Holds(value, false))
        return false;
    StoreData(TagDataType::SignedBE, {static_cast<uint8_t>(ParseInt(value.View()) != 0)});
    return true;
}

namespace {

bool FirstByteAsDecimal(const CTagDataAtom* data, ZrString& value) {
    value.Empty();
    if (!data || data->Payload.empty())
        return false;
    value = Decimal(data->Payload[0]);
    return true;
}

} // namespace

bool CRatingTagBase::GetValue(ZrString& value) const {
    return FirstByteAsDecimal(FirstData(), value);
}

bool CRatingTagBase::SetValue(const ZrString& value) {
    if (Holds(value, false))
        return false;
    // 0 none, 1 explicit, 2 clean; anything else is stored as the old explicit value 4.
    const auto v = static_cast<uint8_t>(ParseInt(value.View()));
    StoreData(TagDataType::SignedBE, {v < 3 ? v : uint8_t{4}});
    return true;
}

bool CByteTagBase::GetValue(ZrString& value) const {
    return FirstByteAsDecimal(FirstData(), value);
}

bool CByteTagBase::SetValue(const ZrString& value) {
    if (Holds(value, false))
        return false;
    StoreData(TagDataType::SignedBE, {static_cast<uint8_t>(ParseInt(value.View()))});
    return true;
}

// ---- covr -------------------------------------------------------------------------------------

ZrString WriteCoverArtFile(const std::vector<uint8_t>& bytes, uint32_t dataType) {
    const ZrString path = CreateUniqueTempFile(HostTempFolder(), u"cover art",
                                               dataType == TagDataType::Png ? u"png" : u"jpg");
    if (path.IsEmpty())
        return path;
    ZrFile file;
    if (!file.Open(path, ZrFile::Mode::Write) || !file.WriteAll(bytes.data(), bytes.size()) ||
        !file.Close()) {
        ZrFileSystem::DeleteFile(path);
        return ZrString();
    }
    return path;
}

bool ReadWholeFile(const ZrString& path, std::vector<uint8_t>& bytes) {
    ZrFile file;
    if (!file.Open(path, ZrFile::Mode::Read))
        return false;
    const int64_t size = file.Size();
    if (size < 0 || static_cast<uint64_t>(size) > CAtomReadLimits::MaxHeldPayload)
        return false;
    bytes.resize(static_cast<size_t>(size));
    return file.Read(bytes.data(), bytes.size()) == size;
}

bool CCoverartTagBase::GetValue(ZrString& value) const {
    value.Empty();
    const CTagDataAtom* data = FirstData();
    if (!data || data->Payload.empty())
        return false;
    value = WriteCoverArtFile(data->Payload, data->DataType);
    return !value.IsEmpty();
}

bool CCoverartTagBase::SetValue(const ZrString& value) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(value, bytes) || bytes.empty())
        return false;
    const uint32_t type = value.EndsWithNoCase(u".png") ? TagDataType::Png : TagDataType::Jpeg;
    // The value is a fresh file each time: compare the image instead.
    const CTagDataAtom* data = FirstData();
    if (data && data->DataType == type && data->Payload == bytes)
        return false;
    StoreData(type, std::move(bytes));
    return true;
}

// ---- the classes by type ----------------------------------------------------------------------

namespace {

struct CItemClass {
    FourCC Type;
    std::unique_ptr<CTagAtomBase> (*Create)();
    std::unique_ptr<CAtom> (*Read)(CAtomReader&);
};

template <class Item>
constexpr CItemClass Entry() {
    return {
        Item::AtomType, [] { return std::unique_ptr<CTagAtomBase>(std::make_unique<Item>()); },
        [](CAtomReader& reader) { return std::unique_ptr<CAtom>(std::make_unique<Item>(reader)); }};
}

constexpr CItemClass ItemClasses[] = {
    Entry<CNameAtom>(),
    Entry<CArtistAtom>(),
    Entry<CAlbumAtom>(),
    Entry<CAlbumArtistAtom>(),
    Entry<CCommentsAtom>(),
    Entry<CDateAtom>(),
    Entry<CComposerAtom>(),
    Entry<CToolAtom>(),
    Entry<CCopyrightAtom2>(),
    Entry<CGroupingAtom>(),
    Entry<CLyricsAtom>(),
    Entry<ConductorAtom>(),
    Entry<DirectorAtom>(),
    Entry<ProducerAtom>(),
    Entry<PublisherAtom>(),
    Entry<WorkAtom>(),
    Entry<MovementAtom>(),
    Entry<CCustomGenreAtom>(),
    Entry<CStandardGenreAtom>(),
    Entry<CCategoryAtom>(),
    Entry<CKeywordAtom>(),
    Entry<CPodcastURLAtom>(),
    Entry<CEpisodeGlobalIDAtom>(),
    Entry<CDescriptionAtom>(),
    Entry<CTVNetworkNameAtom>(),
    Entry<CTVShowNameAtom>(),
    Entry<CTVEpisodeNumberAtom>(),
    Entry<CPurchaseDateAtom>(),
    Entry<CSortNameOfTrackAtom>(),
    Entry<CSortNameOfArtistAtom>(),
    Entry<CSortNameOfAlbumArtistAtom>(),
    Entry<CSortNameOfAlbumAtom>(),
    Entry<CSortNameOfComposerAtom>(),
    Entry<CSortNameOfShowAtom>(),
    Entry<CTrackNumAtom>(),
    Entry<CDiskNumAtom>(),
    Entry<CBPMAtom>(),
    Entry<MovementNumAtom>(),
    Entry<MovementCountAtom>(),
    Entry<CCompilationAtom>(),
    Entry<CPodcastAtom>(),
    Entry<CGaplessPlaybackAtom>(),
    Entry<ShowWrkMvmntAtom>(),
    Entry<CRatingAtom>(),
    Entry<CStikAtom>(),
    Entry<CCoverartAtom>(),
    Entry<CTVSeasonAtom>(),
    Entry<CTVEpisodeAtom>(),
};

const CItemClass* FindItemClass(FourCC type) {
    for (const CItemClass& c : ItemClasses)
        if (c.Type == type)
            return &c;
    return nullptr;
}

} // namespace

std::unique_ptr<CTagAtomBase> CreateTagItem(FourCC type) {
    const CItemClass* c = FindItemClass(type);
    return c ? c->Create() : nullptr;
}

std::unique_ptr<CAtom> ReadTagItem(CAtomReader& reader) {
    if (reader.Type == MakeFourCC("----"))
        return std::make_unique<C4DashesAtom>(reader);
    const CItemClass* c = FindItemClass(reader.Type);
    return c ? c->Read(reader) : nullptr;
}

// ---- freeform ---------------------------------------------------------------------------------

CFreeformPartAtom::CFreeformPartAtom(FourCC type, const std::string& text) : CAtom(type) {
    Payload.reserve(4 + text.size());
    Payload.assign(4, 0); // version and flags
    Payload.insert(Payload.end(), text.begin(), text.end());
    Size = 8 + Payload.size();
}

CFreeformPartAtom::CFreeformPartAtom(CAtomReader& reader) : CAtom(reader) {
    Payload = reader.Rest();
}

CFreeformPartAtom::CFreeformPartAtom(const CFreeformPartAtom& other, CAtom* parent)
    : CAtom(other, parent), Payload(other.Payload) {}

std::string CFreeformPartAtom::Text() const {
    return Payload.size() <= 4 ? std::string() : std::string(Payload.begin() + 4, Payload.end());
}

void CFreeformPartAtom::WritePayload(CAtomStream& stream) const {
    stream.Write(Payload.data(), Payload.size());
}

C4DashesAtom::C4DashesAtom(const std::string& mean, const std::string& name)
    : CStringTagAtomBase(MakeFourCC("----")) {
    LengthLimited = false;
    AddChild(std::make_unique<CMeanAtom>(mean));
    AddChild(std::make_unique<C__NameAtom>(name));
}

C4DashesAtom::C4DashesAtom(CAtomReader& reader) : CStringTagAtomBase(reader) {
    LengthLimited = false;
}

C4DashesAtom::C4DashesAtom(const C4DashesAtom& other, CAtom* parent)
    : CStringTagAtomBase(other, parent) {}

std::string C4DashesAtom::Mean() const {
    auto* mean = dynamic_cast<const CFreeformPartAtom*>(FindChild(MakeFourCC("mean")));
    return mean ? mean->Text() : std::string();
}

std::string C4DashesAtom::Name() const {
    auto* name = dynamic_cast<const CFreeformPartAtom*>(FindChild(MakeFourCC("name")));
    return name ? name->Text() : std::string();
}

// ---- cprt in udta -----------------------------------------------------------------------------

CCopyrightAtom::CCopyrightAtom(uint16_t language, std::vector<uint8_t> notice)
    : CFullAtom(MakeFourCC("cprt")), Language(language), Notice(std::move(notice)) {
    Size = 14 + Notice.size();
}

CCopyrightAtom::CCopyrightAtom(CAtomReader& reader) : CFullAtom(reader) {
    Language = reader.U16();
    Notice = reader.Rest();
}

CCopyrightAtom::CCopyrightAtom(const CCopyrightAtom& other, CAtom* parent)
    : CFullAtom(other, parent), Language(other.Language), Notice(other.Notice) {}

void CCopyrightAtom::WritePayload(CAtomStream& stream) const {
    CFullAtom::WritePayload(stream);
    stream.WriteBE(Language, 2);
    stream.Write(Notice.data(), Notice.size());
}
