// The host's view of an M4A file's tags: field names to item atoms, through the tag-name map.
#include "mp4/ContainerAtoms.h"
#include "mp4/HeaderAtoms.h"
#include "mp4/KeyedMetadata.h"
#include "mp4/MP4File.h"
#include "mp4/TagAtoms.h"

#include <algorithm>

namespace {

constexpr FourCC T(const char (&text)[5]) {
    return MakeFourCC(text);
}

constexpr char16_t FreeformPrefix[] = u"----:";

struct CTagNameRow {
    const char16_t* Field;
    FourCC Type;
};

const CTagNameRow TagNameRows[] = {
    {u"Album", T("\xA9"
                 "alb")},
    {u"Artist", T("\xA9"
                  "ART")},
    {u"Album Artist", T("aART")},
    {u"Comment", T("\xA9"
                   "cmt")},
    {u"Date", T("\xA9"
                "day")},
    {u"Name", T("\xA9nam")},
    {u"Genre", T("gnre")},
    {u"Track #", T("trkn")},
    {u"Disc #", T("disk")},
    {u"Composer", T("\xA9wrt")},
    {u"Conductor", T("\xA9"
                     "con")},
    {u"Director", T("\xA9"
                    "dir")},
    {u"Producer", T("\xA9prd")},
    {u"Publisher", T("\xA9pub")},
    {u"Work", T("\xA9wrk")},
    {u"Movement", T("\xA9mvn")},
    {u"Movement Number", T("\xA9mvi")},
    {u"Movement Count", T("\xA9mvc")},
    {u"Show Work Movement", T("shwm")},
    {u"BPM", T("tmpo")},
    {u"Compilation", T("cpil")},
    {u"Access Rating", T("rtng")},
    {u"Grouping", T("\xA9grp")},
    {u"stik", T("stik")},
    {u"Podcast", T("pcst")},
    {u"Category", T("catg")},
    {u"Keywords", T("keyw")},
    {u"Feed URL", T("purl")},
    {u"Episode Global ID", T("egid")},
    {u"Description", T("desc")},
    {u"Lyrics", T("\xA9lyr")},
    {u"TV Network Name", T("tvnn")},
    {u"TV Show Name", T("tvsh")},
    {u"Number of Episodes", T("tven")},
    {u"Season", T("tves")},
    {u"Purchased Date", T("purd")},
    {u"Gapless Playback", T("pgap")},
    {u"Title Sort Order", T("sonm")},
    {u"Title Sort", T("sonm")},
    {u"Artist Sort Order", T("soar")},
    {u"Artist Sort", T("soar")},
    {u"Album Artist Sort Order", T("soaa")},
    {u"Album Artist Sort", T("soaa")},
    {u"Album Sort Order", T("soal")},
    {u"Album Sort", T("soal")},
    {u"Composer Sort Order", T("soco")},
    {u"Composer Sort", T("soco")},
    {u"Show Name Sort Order", T("sosn")},
    {u"Show Name Sort", T("sosn")},
};

// "----:MEAN:NAME" split into its parts; false for any other field name.
bool SplitFreeform(const ZrString& field, std::string& mean, std::string& name) {
    if (!field.StartsWith(FreeformPrefix))
        return false;
    const std::string rest = field.ToUtf8().substr(5);
    const size_t colon = rest.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size())
        return false;
    mean = rest.substr(0, colon);
    name = rest.substr(colon + 1);
    return true;
}

} // namespace

void CMP4File::FillTagNames() {
    m_tagNames.clear();
    for (const CTagNameRow& row : TagNameRows) {
        auto same = [&](const auto& entry) { return entry.first.EqualsNoCase(row.Field); };
        auto it = std::find_if(m_tagNames.begin(), m_tagNames.end(), same);
        if (it != m_tagNames.end())
            it->second = row.Type;
        else
            m_tagNames.emplace_back(row.Field, row.Type);
    }
}

FourCC CMP4File::TagAtomType(const ZrString& field) const {
    for (const auto& [name, type] : m_tagNames)
        if (name.EqualsNoCase(field.View()))
            return type;
    // Beyond the tag-name map: the item names of the keyed-metadata maps that have a class.
    for (const auto& [name, item] : MetadataItemKeysAtom::HostToItem())
        if (field.EqualsNoCase(ZrString::FromUtf8(name).View()) && CreateTagItem(item.Type))
            return item.Type;
    return 0;
}

bool CMP4File::OpenForTagging(const ZrString& fileName) {
    return Open(fileName, false) && ReadAtoms() && ValidateAtoms();
}

CContainerAtom* CMP4File::ItemList(bool create) {
    if (!m_moov)
        return nullptr;
    CContainerAtom* moov = m_moov;
    auto* udta = dynamic_cast<CContainerAtom*>(moov->FindChild(T("udta")));
    if (!udta && !create)
        return nullptr;
    if (!udta)
        udta = static_cast<CContainerAtom*>(moov->AddChild(std::make_unique<CUdtaAtom>()));
    CContainerAtom* meta = nullptr;
    for (size_t i = 0; !meta && udta->FindChild(T("meta"), i); ++i) {
        auto* candidate = dynamic_cast<CMetaAtom*>(udta->FindChild(T("meta"), i));
        if (candidate && !IsKeyedMeta(*candidate))
            meta = candidate;
    }
    if (!meta && !create)
        return nullptr;
    if (!meta) {
        meta = static_cast<CContainerAtom*>(udta->AddChild(std::make_unique<CMetaAtom>()));
        meta->AddChild(std::make_unique<CHDLRAtom>(T("mdir"), std::vector<uint8_t>{0}));
    }
    auto* ilst = dynamic_cast<CContainerAtom*>(meta->FindChild(T("ilst")));
    if (!ilst && create)
        ilst = static_cast<CContainerAtom*>(meta->AddChild(std::make_unique<CILSTAtom>(T("ilst"))));
    return ilst;
}

// The first item of `type`; for the freeform type, the one named by `field`.
CTagAtomBase* CMP4File::FindItem(FourCC type, const ZrString& field) const {
    auto* ilst = const_cast<CMP4File*>(this)->ItemList(false);
    if (!ilst)
        return nullptr;
    std::string mean, name;
    const bool freeform = SplitFreeform(field, mean, name);
    for (const auto& child : ilst->Children()) {
        if (child->Type != type)
            continue;
        if (!freeform)
            return dynamic_cast<CTagAtomBase*>(child.get());
        auto* item = dynamic_cast<C4DashesAtom*>(child.get());
        if (item && item->Mean() == mean && item->Name() == name)
            return item;
    }
    return nullptr;
}

bool CMP4File::RemoveItems(FourCC type, const ZrString& field) {
    CContainerAtom* ilst = ItemList(false);
    bool removed = false;
    while (CTagAtomBase* item = FindItem(type, field)) {
        ilst->RemoveChild(item);
        removed = true;
    }
    return removed;
}

bool CMP4File::GetKeyedTag(const ZrString& field, ZrString& value) const {
    std::string key;
    for (const auto& [host, entry] : MetadataItemKeysAtom::HostToKey())
        if (field.EqualsNoCase(ZrString::FromUtf8(host).View()))
            key = entry.Name;
    if (key.empty() || !m_moov)
        return false;
    // Keyed metadata lies in moov or in its udta.
    std::vector<const CContainerAtom*> holders = {m_moov};
    if (auto* udta = dynamic_cast<const CContainerAtom*>(m_moov->FindChild(T("udta"))))
        holders.push_back(udta);
    for (const CContainerAtom* holder : holders)
        for (const auto& child : holder->Children())
            if (auto* meta = dynamic_cast<const QTMetaAtom*>(child.get()))
                if (meta->GetValue(key, value))
                    return true;
    return false;
}

bool CMP4File::GetTag(const ZrString& field, ZrString& value) {
    value.Empty();
    std::string mean, name;
    const FourCC type = SplitFreeform(field, mean, name) ? T("----") : TagAtomType(field);
    if (type) {
        if (CTagAtomBase* item = FindItem(type, field); item && item->GetValue(value))
            return true;
        if (type == T("gnre"))
            if (CTagAtomBase* item = FindItem(T("\xA9gen"), field); item && item->GetValue(value))
                return true;
    }
    return GetKeyedTag(field, value);
}

bool CMP4File::SetTag(const ZrString& field, const ZrString& value) {
    return Guarded([&] {
        m_error.Empty();
        if (!m_moov)
            Mp4Raise("The file has no movie to tag (open it for tagging first)");
        std::string mean, name;
        const bool freeform = SplitFreeform(field, mean, name);
        FourCC type = freeform ? T("----") : TagAtomType(field);
        if (!type)
            Mp4Raise("No item is known for the tag field \"%s\"", field.ToUtf8().c_str());

        bool changed = false;
        if (type == T("gnre")) {
            // A standard name goes to gnre, any other text to ©gen; only one of them stays.
            const bool standard = !value.IsEmpty() && FindGenre(value.ToUtf8()) >= 0;
            const FourCC other = standard ? T("\xA9gen") : T("gnre");
            type = standard ? T("gnre") : T("\xA9gen");
            changed = RemoveItems(other, field);
        }
        if (value.IsEmpty()) {
            changed |= RemoveItems(type, field);
            m_modified |= changed;
            return changed;
        }

        CTagAtomBase* item = FindItem(type, field);
        const bool created = !item;
        if (created) {
            std::unique_ptr<CTagAtomBase> fresh =
                freeform ? std::make_unique<C4DashesAtom>(mean, name) : CreateTagItem(type);
            item = static_cast<CTagAtomBase*>(ItemList(true)->AddChild(std::move(fresh)));
        }
        if (item->SetValue(value)) {
            m_modified = true;
            return true;
        }
        ZrString current;
        std::vector<uint8_t> image;
        const bool held = type == T("covr")
                              ? !created && ReadWholeFile(value, image)
                              : item->GetValue(current) && current.EqualsNoCase(value.View());
        if (created)
            ItemList(false)->RemoveChild(item);
        m_modified |= changed;
        if (!held && !changed)
            Mp4Raise("The tag field \"%s\" cannot hold the value \"%s\"", field.ToUtf8().c_str(),
                     value.ToUtf8().c_str());
        return changed;
    });
}
