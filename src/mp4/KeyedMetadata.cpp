#include "mp4/KeyedMetadata.h"

#include "foundation/ZrByteOrder.h"
#include "foundation/ZrLog.h"
#include "foundation/ZrNumber.h"
#include "mp4/HeaderAtoms.h"

#include <atomic>
#include <cinttypes>
#include <cstring>
#include <mutex>

// ---- the key maps -----------------------------------------------------------------------------

namespace {

struct CKeyMaps {
    std::map<std::string, CKeyedName> KeyToHost, HostToKey;
    std::map<FourCC, CKeyedName> ItemToHost;
    std::map<std::string, CItemTypeName> HostToItem;
};

CKeyMaps g_maps;
std::atomic<bool> g_mapsFilled{false};
std::mutex g_mapsLock;

struct CKeyRow {
    const char* Host;
    const char* Key;
    uint32_t DataType;
};
const CKeyRow KeyRows[] = {
    {"Album", "com.apple.quicktime.album", 1},
    {"Artist", "com.apple.quicktime.artist", 1},
    {"Image File", "com.apple.quicktime.artwork", 13},
    {"Author", "com.apple.quicktime.author", 1},
    {"Comment", "com.apple.quicktime.comment", 1},
    {"Copyright", "com.apple.quicktime.copyright", 1},
    {"Date", "com.apple.quicktime.creationdate", 1},
    {"Description", "com.apple.quicktime.description", 1},
    {"Director", "com.apple.quicktime.director", 1},
    {"Name", "com.apple.quicktime.title", 1},
    {"Genre", "com.apple.quicktime.genre", 1},
    {"Information", "com.apple.quicktime.information", 1},
    {"Keywords", "com.apple.quicktime.keywords", 1},
    {"Location", "com.apple.quicktime.location.ISO6709", 1},
    {"Producer", "com.apple.quicktime.producer", 1},
    {"Publisher", "com.apple.quicktime.publisher", 1},
    {"Software", "com.apple.quicktime.software", 1},
    {"Year", "com.apple.quicktime.year", 1},
    {"User Collection", "com.apple.quicktime.collection.user", 1},
    {"Rating", "com.apple.quicktime.rating.user", 23},
    {"Make", "com.apple.quicktime.make", 1},
    {"Model", "com.apple.quicktime.model", 1},
    {"Content ID", "com.apple.quicktime.content.identifier", 1},
    {"Originating Signature", "com.apple.photos.originating.signature", 1},
};

struct CItemRow {
    const char* Host;
    FourCC Type;
    uint32_t DataType;
};
const CItemRow ItemRows[] = {
    {"Album",
     MakeFourCC("\xA9"
                "alb"),
     1},
    {"Artist",
     MakeFourCC("\xA9"
                "ART"),
     1},
    {"Album Artist", MakeFourCC("aART"), 1},
    {"Image File", MakeFourCC("covr"), 13},
    {"Comment",
     MakeFourCC("\xA9"
                "cmt"),
     1},
    {"Copyright",
     MakeFourCC("\xA9"
                "cpy"),
     1},
    {"Date",
     MakeFourCC("\xA9"
                "day"),
     1},
    {"Description", MakeFourCC("desc"), 1},
    {"Director",
     MakeFourCC("\xA9"
                "dir"),
     1},
    {"Name", MakeFourCC("\xA9nam"), 1},
    {"Genre", MakeFourCC("\xA9gen"), 1},
    {"Keywords", MakeFourCC("keyw"), 1},
    {"Producer", MakeFourCC("\xA9prd"), 1},
    {"Publisher", MakeFourCC("\xA9pub"), 1},
    {"Access Rating", MakeFourCC("rtng"), 75},
    {"Composer", MakeFourCC("\xA9wrt"), 1},
    {"Conductor",
     MakeFourCC("\xA9"
                "con"),
     1},
    {"Work", MakeFourCC("\xA9wrk"), 1},
    {"Movement", MakeFourCC("\xA9mvn"), 1},
    {"Movement Number", MakeFourCC("\xA9mvi"), 76},
    {"Movement Count", MakeFourCC("\xA9mvc"), 76},
    {"Show Work Movement", MakeFourCC("shwm"), 75},
    {"BPM", MakeFourCC("tmpo"), 76},
    {"Compilation", MakeFourCC("cpil"), 75},
    {"Grouping", MakeFourCC("\xA9grp"), 1},
    {"Lyrics", MakeFourCC("\xA9lyr"), 1},
};

} // namespace

void MetadataItemKeysAtom::IntializeKeyMaps() {
    if (g_mapsFilled.load(std::memory_order_acquire))
        return;
    ZrTraceScope scope(u"MetadataItemKeysAtom::IntializeKeyMaps");
    std::lock_guard<std::mutex> lock(g_mapsLock);
    if (g_mapsFilled.load(std::memory_order_acquire)) {
        scope.Log("someone got here faster than us");
        return;
    }
    g_maps = CKeyMaps();
    for (const CKeyRow& row : KeyRows) {
        g_maps.KeyToHost[row.Key] = {row.Host, row.DataType};
        g_maps.HostToKey[row.Host] = {row.Key, row.DataType};
    }
    for (const CItemRow& row : ItemRows) {
        g_maps.ItemToHost[row.Type] = {row.Host, row.DataType};
        g_maps.HostToItem[row.Host] = {row.Type, row.DataType};
    }
    g_mapsFilled.store(true, std::memory_order_release);
}

const std::map<std::string, CKeyedName>& MetadataItemKeysAtom::KeyToHost() {
    IntializeKeyMaps();
    return g_maps.KeyToHost;
}
const std::map<std::string, CKeyedName>& MetadataItemKeysAtom::HostToKey() {
    IntializeKeyMaps();
    return g_maps.HostToKey;
}
const std::map<FourCC, CKeyedName>& MetadataItemKeysAtom::ItemToHost() {
    IntializeKeyMaps();
    return g_maps.ItemToHost;
}
const std::map<std::string, CItemTypeName>& MetadataItemKeysAtom::HostToItem() {
    IntializeKeyMaps();
    return g_maps.HostToItem;
}

// ---- keys -------------------------------------------------------------------------------------

MetadataItemKeysAtom::MetadataItemKeysAtom(CAtomReader& reader) : CFullAtom(reader) {
    const uint32_t count = reader.U32();
    reader.RequireEntries(count, 8);
    Keys.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t size = reader.U32();
        if (size < 8)
            Mp4Raise("keys atom at %" PRIu64 " has a key of size %u", reader.Position, size);
        Key key;
        key.Namespace = reader.U32();
        const std::vector<uint8_t> name = reader.Bytes(size - 8);
        key.Name.assign(name.begin(), name.end());
        Keys.push_back(std::move(key));
    }
}

MetadataItemKeysAtom::MetadataItemKeysAtom(const MetadataItemKeysAtom& other, CAtom* parent)
    : CFullAtom(other, parent), Keys(other.Keys) {}

uint64_t MetadataItemKeysAtom::PayloadSize() const {
    uint64_t size = 8;
    for (const Key& key : Keys)
        size += 8 + key.Name.size();
    return size;
}

void MetadataItemKeysAtom::WritePayload(CAtomStream& stream) const {
    CFullAtom::WritePayload(stream);
    stream.WriteBE(Keys.size(), 4);
    for (const Key& key : Keys) {
        stream.WriteBE(8 + key.Name.size(), 4);
        stream.WriteBE(key.Namespace, 4);
        stream.Write(key.Name.data(), key.Name.size());
    }
}

void MetadataItemKeysAtom::DumpFields(int verbosity, int indent, std::string& out) const {
    for (size_t i = 0; verbosity >= 1 && i < Keys.size(); ++i)
        DumpLine(indent + 1, out, std::to_string(i + 1) + ": " + Keys[i].Name);
}

uint32_t MetadataItemKeysAtom::IndexOf(const std::string& name) const {
    for (size_t i = 0; i < Keys.size(); ++i)
        if (Keys[i].Name == name)
            return static_cast<uint32_t>(i + 1);
    return 0;
}

uint32_t MetadataItemKeysAtom::AddKey(const std::string& name) {
    Keys.push_back({MakeFourCC("mdta"), name});
    Size += 8 + name.size();
    return static_cast<uint32_t>(Keys.size());
}

// ---- keyed items ------------------------------------------------------------------------------

namespace {

// Width and signedness of the integer types; width 0 for 21 and 22, which take 1 to 4 bytes.
struct CIntType {
    uint32_t DataType;
    unsigned Width;
    bool Signed;
};
constexpr CIntType IntTypes[] = {
    {TagDataType::SignedBE, 0, true}, {TagDataType::UnsignedBE, 0, false},
    {TagDataType::Int8, 1, true},     {TagDataType::Int16, 2, true},
    {TagDataType::Int32, 4, true},    {TagDataType::Int64, 8, true},
    {TagDataType::UInt8, 1, false},   {TagDataType::UInt16, 2, false},
    {TagDataType::UInt32, 4, false},  {TagDataType::UInt64, 8, false},
};

const CIntType* FindIntType(uint32_t dataType) {
    for (const CIntType& t : IntTypes)
        if (t.DataType == dataType)
            return &t;
    return nullptr;
}

bool IsText(uint32_t t) {
    return t == TagDataType::Utf8 || t == TagDataType::Utf8Sort || t == TagDataType::Utf16Sort;
}
bool IsImage(uint32_t t) {
    return t == TagDataType::Jpeg || t == TagDataType::Png || t == TagDataType::Image;
}

bool Decode(const CTagDataAtom& data, ZrString& value) {
    const std::vector<uint8_t>& p = data.Payload;
    const uint32_t type = data.DataType;
    if (IsText(type)) {
        value =
            ZrString::FromUtf8(std::string_view(reinterpret_cast<const char*>(p.data()), p.size()));
        return !p.empty();
    }
    if (IsImage(type)) {
        if (p.empty())
            return false;
        value = WriteCoverArtFile(p, type);
        return !value.IsEmpty();
    }
    if (const CIntType* t = FindIntType(type)) {
        const unsigned width = t->Width ? t->Width : static_cast<unsigned>(p.size());
        if (width == 0 || width > 8 || p.size() < width || (!t->Width && width > 4))
            return false;
        uint64_t raw = zrbytes::LoadBE(p.data(), width);
        if (t->Signed && width < 8 && (raw >> (8 * width - 1)) & 1)
            raw |= ~uint64_t{0} << (8 * width);
        value =
            t->Signed ? ZrString::FromInt(static_cast<int64_t>(raw)) : ZrString(ZrFormatUInt(raw));
        return true;
    }
    if (type == TagDataType::Float32BE && p.size() >= 4) {
        float f;
        const uint32_t bits = zrbytes::LoadBE32(p.data());
        std::memcpy(&f, &bits, 4);
        value = ZrString(ZrFormatDouble(f));
        return true;
    }
    if (type == TagDataType::Float64BE && p.size() >= 8) {
        double d;
        const uint64_t bits = zrbytes::LoadBE64(p.data());
        std::memcpy(&d, &bits, 8);
        value = ZrString(ZrFormatDouble(d));
        return true;
    }
    return false;
}

bool Encode(const ZrString& value, uint32_t type, std::vector<uint8_t>& out) {
    if (IsText(type)) {
        const std::string utf8 = value.ToUtf8();
        out.assign(utf8.begin(), utf8.end());
        return true;
    }
    if (IsImage(type))
        return ReadWholeFile(value, out) && !out.empty();
    if (const CIntType* t = FindIntType(type)) {
        const unsigned width = t->Width ? t->Width : 4;
        const int64_t n = ZrParseInt64(value.View());
        out.resize(width);
        zrbytes::StoreBE(out.data(), static_cast<uint64_t>(n), width);
        return true;
    }
    if (type == TagDataType::Float32BE) {
        const float f = static_cast<float>(ZrParseDouble(value.View()));
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        out.resize(4);
        zrbytes::StoreBE32(out.data(), bits);
        return true;
    }
    if (type == TagDataType::Float64BE) {
        const double d = ZrParseDouble(value.View());
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        out.resize(8);
        zrbytes::StoreBE64(out.data(), bits);
        return true;
    }
    return false;
}

} // namespace

bool MetadataItemAtom::GetValue(ZrString& value) const {
    value.Empty();
    const CTagDataAtom* data = FirstData();
    return data && Decode(*data, value);
}

bool MetadataItemAtom::SetValue(const ZrString& value, uint8_t typeSet, uint32_t dataType,
                                uint16_t country, uint16_t language) {
    std::vector<uint8_t> bytes;
    if (typeSet != 0 || !Encode(value, dataType, bytes))
        return false;
    for (const auto& child : Children()) {
        auto* data = dynamic_cast<CTagDataAtom*>(child.get());
        if (!data || data->TypeSet != typeSet || data->DataType != dataType ||
            data->Country != country || data->Language != language)
            continue;
        if (data->Payload == bytes)
            return false;
        Size -= std::min<uint64_t>(Size, data->Size);
        data->Payload = std::move(bytes);
        data->Size = 16 + data->Payload.size();
        Size += data->Size;
        return true;
    }
    AddChild(
        std::make_unique<CTagDataAtom>(dataType, std::move(bytes), typeSet, country, language));
    return true;
}

// ---- the keyed meta atom ----------------------------------------------------------------------

bool IsKeyedMeta(const CContainerAtom& meta) {
    auto* hdlr = dynamic_cast<const CHDLRAtom*>(meta.FindChild(MakeFourCC("hdlr")));
    return hdlr && hdlr->HandlerType == MakeFourCC("mdta");
}

QTMetaAtom::QTMetaAtom(CMetaAtom&& read) {
    Position = read.Position;
    Parent = read.Parent;
    Version = read.Version;
    Flags = read.Flags;
    Headerless = read.Headerless;
    const uint64_t size = read.Size; // removing the children shrinks it
    while (!read.Children().empty())
        AddChild(read.RemoveChild(read.Children().front().get()));
    Size = size;
}

MetadataItemKeysAtom* QTMetaAtom::Keys() const {
    return dynamic_cast<MetadataItemKeysAtom*>(FindChild(MakeFourCC("keys")));
}

bool QTMetaAtom::GetValue(const std::string& key, ZrString& value) const {
    value.Empty();
    const MetadataItemKeysAtom* keys = Keys();
    auto* ilst = dynamic_cast<CContainerAtom*>(FindChild(MakeFourCC("ilst")));
    const uint32_t index = keys ? keys->IndexOf(key) : 0;
    if (!ilst || index == 0)
        return false;
    auto* item = dynamic_cast<MetadataItemAtom*>(ilst->FindChild(index));
    return item && item->GetValue(value);
}
