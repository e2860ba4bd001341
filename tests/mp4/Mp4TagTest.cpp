// Tags of M4A files: the value rules of the item classes, files tagged by other writers read
// through our classes and rewritten byte for byte, and our tags read back by other readers.
#include "mp4/KeyedMetadata.h"
#include "mp4/MP4File.h"
#include "mp4/TagAtoms.h"
#include "support/TestSupport.h"

#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <taglib/mp4file.h>
#include <taglib/tpropertymap.h>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

ZrString U(const std::string& utf8) {
    return ZrString::FromUtf8(utf8);
}

// "key=value" split at the first '='.
std::pair<std::string, std::string> KeyValue(const std::string& pair) {
    return {pair.substr(0, pair.find('=')), pair.substr(pair.find('=') + 1)};
}

// ---- the value rules --------------------------------------------------------------------------

struct Rule {
    const char* Name;
    const char Type[5];
    std::optional<Bytes> Stored; // payload of the data atom before; none: no data atom
    uint32_t StoredType = 1;
    const char* Read;     // GetValue's text; nullptr: false
    std::string Set = {}; // a value to set ("" sets nothing)
    bool Changed = false; // SetValue's result
    Bytes After = {};     // the payload after a change
    uint32_t AfterType = 0;
};

std::vector<Rule> Rules() {
    const std::string long300(300, 'x'), cut = std::string(254, 'x') + "é";
    const Bytes trk3of12 = {0, 0, 0, 3, 0, 12, 0, 0};
    return {
        {"(17) reads as the genre", "\251gen", Bytes{'(', '1', '7', ')'}, 1, "Rock"},
        {"(148) is past the list", "\251gen", Bytes{'(', '1', '4', '8', ')'}, 1, "(148)"},
        {"four digits are text", "\251gen", Bytes{'(', '0', '0', '1', '7', ')'}, 1, "(0017)"},
        {"gnre stores index + 1", "gnre", Bytes{0, 18}, 0, "Rock"},
        {"gnre 0 is no genre", "gnre", Bytes{0, 0}, 0, nullptr},
        {"gnre is set by exact name", "gnre", {}, 0, nullptr, "Jazz", true, {0, 9}, 0},
        {"gnre refuses other texts", "gnre", {}, 0, nullptr, "jazz", false},
        {"gnre compares ignoring case", "gnre", Bytes{0, 18}, 0, "Rock", "ROCK", false},
        {"track n/m", "trkn", trk3of12, 0, "3/12"},
        {"a total of 0 is left out", "trkn", Bytes{0, 0, 0, 3, 0, 0, 0, 0}, 0, "3"},
        {"a total of 255 is left out", "trkn", Bytes{0, 0, 0, 3, 0, 255, 0, 0}, 0, "3"},
        {"track 0 is none", "trkn", Bytes{0, 0, 0, 0, 0, 12, 0, 0}, 0, nullptr},
        {"trkn is 8 bytes", "trkn", {}, 0, nullptr, "5/9", true, {0, 0, 0, 5, 0, 9, 0, 0}},
        {"disk is 6 bytes", "disk", {}, 0, nullptr, "1/2", true, {0, 0, 0, 1, 0, 2}},
        {"same pair, no change", "trkn", trk3of12, 0, "3/12", "3/12", false},
        {"tmpo 0 changes nothing", "tmpo", Bytes{0, 120}, 21, "120", "0", false},
        {"tmpo is 16 bits", "tmpo", {}, 0, nullptr, "65656", true, {0, 120}, 21},
        {"a flag", "cpil", {}, 0, nullptr, "7", true, {1}, 21},
        {"a flag above 1 is none", "pgap", Bytes{2}, 21, nullptr},
        {"rating 7 stores 4", "rtng", {}, 0, nullptr, "7", true, {4}, 21},
        {"rating 2 stays", "rtng", {}, 0, nullptr, "2", true, {2}, 21},
        {"stik keeps the low byte", "stik", {}, 0, nullptr, "257", true, {1}, 21},
        {"text is cut at 255 bytes", "\251nam", {}, 0, nullptr, long300, true, Bytes(255, 'x'), 1},
        {"lyrics are not cut", "\251lyr", {}, 0, nullptr, long300, true, Bytes(300, 'x'), 1},
        {"a cut never splits a character",
         "\251nam",
         {},
         0,
         nullptr,
         cut,
         true,
         Bytes(254, 'x'),
         1},
        {"the same text, no change", "\251ART", Bytes{'A', 'b'}, 1, "Ab", "Ab", false},
        {"text compares exactly", "\251ART", Bytes{'A', 'b'}, 1, "Ab", "ab", true, {'a', 'b'}, 1},
        {"an empty text is no value", "\251alb", Bytes{}, 1, nullptr},
        {"season is neither read nor set", "tves", Bytes{0, 0, 0, 2}, 21, nullptr, "3", false},
    };
}

TEST(TagItems, ValueRules) {
    for (const Rule& r : Rules()) {
        SCOPED_TRACE(r.Name);
        std::unique_ptr<CTagAtomBase> item = CreateTagItem(MakeFourCC(r.Type));
        ASSERT_NE(item, nullptr);
        if (r.Stored)
            item->AddChild(std::make_unique<CTagDataAtom>(r.StoredType, *r.Stored));
        ZrString value;
        EXPECT_EQ(item->GetValue(value), r.Read != nullptr);
        EXPECT_EQ(value.ToUtf8(), r.Read ? r.Read : "");
        if (r.Set.empty())
            continue;
        const Bytes before = item->FirstData() ? item->FirstData()->Payload : Bytes{};
        EXPECT_EQ(item->SetValue(U(r.Set)), r.Changed);
        const CTagDataAtom* data = item->FirstData();
        if (!r.Changed) {
            EXPECT_EQ(data ? data->Payload : Bytes{}, before);
            continue;
        }
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(data->Payload, r.After);
        EXPECT_EQ(data->DataType, r.AfterType);
        EXPECT_EQ(SizeWithHeader(*item), 8u + 16u + r.After.size());
    }
}

// Keyed items by data type, and the key maps.
TEST(TagItems, KeyedValues) {
    const char* max64 = "18446744073709551615";
    struct Case {
        uint32_t Type;
        Bytes Payload;
        const char* Read;
    } const cases[] = {
        {1, {'h', 'i'}, "hi"},           {21, {0xFF, 0xFE}, "-2"}, {22, {1, 0, 0}, "65536"},
        {66, {0x80, 0}, "-32768"},       {75, {200}, "200"},       {78, Bytes(8, 0xFF), max64},
        {23, {0x3F, 0xC0, 0, 0}, "1.5"}, {67, {0, 1}, nullptr},    {21, Bytes(5, 1), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Type);
        MetadataItemAtom item(1);
        item.AddChild(std::make_unique<CTagDataAtom>(c.Type, c.Payload));
        ZrString value;
        EXPECT_EQ(item.GetValue(value) ? value.ToUtf8() : "-", c.Read ? c.Read : "-");
    }
    MetadataItemAtom item(1);
    EXPECT_FALSE(item.SetValue(U("x"), 1, 1, 0, 0)); // type set 1 is refused
    EXPECT_TRUE(item.SetValue(U("-3"), 0, 66, 0, 0));
    EXPECT_FALSE(item.SetValue(U("-3"), 0, 66, 0, 0));
    EXPECT_EQ(item.FirstData()->Payload, (Bytes{0xFF, 0xFD}));

    EXPECT_EQ(MetadataItemKeysAtom::KeyToHost().at("com.apple.quicktime.title").Name, "Name");
    EXPECT_EQ(MetadataItemKeysAtom::HostToKey().at("Rating").DataType, 23u);
    EXPECT_EQ(MetadataItemKeysAtom::HostToItem().at("BPM").Type, MakeFourCC("tmpo"));
    EXPECT_EQ(MetadataItemKeysAtom::ItemToHost().at(MakeFourCC("covr")).Name, "Image File");
}

// ---- files of other writers -------------------------------------------------------------------

// 0.5 s of a tone in M4A; `moovFirst` puts the movie before the media data.
fs::path MakeM4a(const fs::path& path, const std::string& codec = "alac", bool moovFirst = true,
                 const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = {"ffmpeg", "-v",    "error", "-y",
                                     "-f",     "lavfi", "-i",    "sine=f=440:d=0.5:r=44100",
                                     "-c:a",   codec};
    if (moovFirst)
        argv.insert(argv.end(), {"-movflags", "+faststart"});
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(path.string());
    const zrtest::RunResult r = zrtest::Run(argv);
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    return path;
}

Bytes MakeImage(const fs::path& path) {
    const zrtest::RunResult r =
        zrtest::Run({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "color=c=red:s=16x16",
                     "-frames:v", "1", path.string()});
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    return zrtest::ReadFile(path);
}

void TagWithTagLib(const fs::path& file, const Bytes& jpeg) {
    TagLib::MP4::File f(file.c_str());
    ASSERT_TRUE(f.isValid());
    TagLib::PropertyMap p = f.properties();
    for (const char* pair : {"TITLE=TagLib title", "ARTIST=Ärtist", "TRACKNUMBER=3/12",
                             "DISCNUMBER=1/2", "GENRE=Jazz", "BPM=120", "COMPILATION=1"}) {
        const auto [key, value] = KeyValue(pair);
        p[key] = TagLib::String(value, TagLib::String::UTF8);
    }
    f.setProperties(p);
    TagLib::MP4::Tag* tag = f.tag();
    tag->setItem("----:com.apple.iTunes:MOOD", TagLib::StringList("calm"));
    TagLib::MP4::CoverArtList art;
    art.append(TagLib::MP4::CoverArt(TagLib::MP4::CoverArt::JPEG,
                                     TagLib::ByteVector(reinterpret_cast<const char*>(jpeg.data()),
                                                        static_cast<unsigned>(jpeg.size()))));
    tag->setItem("covr", art);
    ASSERT_TRUE(f.save());
}

struct Writer {
    const char* Name;
    std::function<void(const fs::path& file, const zrtest::TempDir& dir)> Tag;
    std::vector<std::string> Expected; // "field=value" ("Image File": the image file)
};

std::vector<Writer> Writers() {
    auto ffmpegMeta = [](std::vector<std::string> meta, const char* format) {
        return [meta, format](const fs::path& file, const zrtest::TempDir&) {
            std::vector<std::string> extra;
            for (const std::string& m : meta)
                extra.insert(extra.end(), {"-metadata", m});
            if (*format)
                extra.insert(extra.end(), {"-movflags", "use_metadata_tags", "-f", format});
            MakeM4a(file, "alac", false, extra);
        };
    };
    return {
        {"ffmpeg",
         ffmpegMeta({"title=Song", "artist=Sänger", "album=LP", "album_artist=Band", "comment=Note",
                     "date=2024", "genre=(17)", "track=3/12", "disc=1/2", "composer=Writer",
                     "grouping=Set", "lyrics=La la"},
                    ""),
         {"Name=Song", "Artist=Sänger", "Album=LP", "Album Artist=Band", "Comment=Note",
          "Date=2024", "Genre=Rock", "Track #=3/12", "Disc #=1/2", "Composer=Writer",
          "Grouping=Set", "Lyrics=La la"}},
        {"ffmpeg keyed metadata",
         ffmpegMeta({"com.apple.quicktime.title=Keyed", "com.apple.quicktime.artist=Key Artist",
                     "com.apple.quicktime.genre=Ambient"},
                    "mov"),
         {"Name=Keyed", "Artist=Key Artist", "Genre=Ambient"}},
        {"AtomicParsley",
         [](const fs::path& file, const zrtest::TempDir& dir) {
             MakeM4a(file);
             MakeImage(dir / "cover.png");
             const zrtest::RunResult r = zrtest::Run(
                 {"AtomicParsley", file.string(), "--title",    "AP title",
                  "--genre",       "Rock",        "--tracknum", "3/12",
                  "--disk",        "1/2",         "--bpm",      "120",
                  "--compilation", "true",        "--artwork",  (dir / "cover.png").string(),
                  "--rDNSatom",    "calm",        "name=MOOD",  "domain=com.apple.iTunes",
                  "--stik",        "Music",       "--advisory", "explicit",
                  "--overWrite"});
             ASSERT_EQ(r.ExitCode, 0) << r.Output;
         },
         {"Name=AP title", "Genre=Rock", "Track #=3/12", "Disc #=1/2", "BPM=120", "Compilation=1",
          "Image File=cover.png", "----:com.apple.iTunes:MOOD=calm", "stik=0", "Access Rating=4"}},
        {"TagLib",
         [](const fs::path& file, const zrtest::TempDir& dir) {
             MakeM4a(file, "aac");
             MakeImage(dir / "cover.jpg");
             TagWithTagLib(file, zrtest::ReadFile(dir / "cover.jpg"));
         },
         {"Name=TagLib title", "Artist=Ärtist", "Track #=3/12", "Disc #=1/2", "Genre=Jazz",
          "BPM=120", "Compilation=1", "----:com.apple.iTunes:MOOD=calm", "Image File=cover.jpg"}},
    };
}

// Reads the file through our classes; the rewrite of an unchanged tree gives the same bytes.
TEST(TagInterop, ReadsWhatOtherWritersWrote) {
    for (const Writer& w : Writers()) {
        SCOPED_TRACE(w.Name);
        zrtest::TempDir dir;
        const fs::path file = dir / "tagged.m4a";
        w.Tag(file, dir);
        const Bytes original = zrtest::ReadFile(file);
        CMP4File mp4;
        ASSERT_TRUE(mp4.OpenForTagging(zrtest::U(file))) << mp4.ErrorText().ToUtf8() << "\n"
                                                         << mp4.Dump(1);
        for (const std::string& pair : w.Expected) {
            const auto [field, expected] = KeyValue(pair);
            ZrString value;
            EXPECT_TRUE(mp4.GetTag(U(field), value)) << field;
            if (field != "Image File") {
                EXPECT_EQ(value.ToUtf8(), expected) << field;
                continue;
            }
            const fs::path extracted = value.ToUtf8();
            EXPECT_EQ(extracted.extension(), fs::path(expected).extension());
            EXPECT_EQ(zrtest::ReadFile(extracted), zrtest::ReadFile(dir / expected));
            fs::remove(extracted);
        }
        ASSERT_TRUE(mp4.Save()) << mp4.ErrorText().ToUtf8();
        EXPECT_EQ(zrtest::ReadFile(file), original);
    }
}

// ---- our tags read by other readers -----------------------------------------------------------

struct Field {
    const char* Name;
    const char* Value;
    const char* FfprobeKey; // nullptr: ffprobe does not show it
    const char* TagLibKey;
};

// Every field of the tag-name map that can be set, with a value of its kind.
const Field Fields[] = {
    {"Album", "Album ✓", "album", "©alb"},
    {"Artist", "Artist", "artist", "©ART"},
    {"Album Artist", "Band", "album_artist", "aART"},
    {"Comment", "Comment", "comment", "©cmt"},
    {"Date", "2025-01-02", "date", "©day"},
    {"Name", "Title", "title", "©nam"},
    {"Genre", "Rock", "genre", "©gen"}, // TagLib reads gnre as ©gen
    {"Track #", "3/12", "track", "trkn"},
    {"Disc #", "1/2", "disc", "disk"},
    {"Composer", "Composer", "composer", "©wrt"},
    {"Conductor", "Conductor", nullptr, "©con"},
    {"Director", "Director", nullptr, "©dir"},
    {"Producer", "Producer", nullptr, "©prd"},
    {"Publisher", "Publisher", nullptr, "©pub"},
    {"Work", "Work", nullptr, "©wrk"},
    {"Movement", "Movement", nullptr, "©mvn"},
    {"Movement Number", "2", nullptr, "©mvi"},
    {"Movement Count", "4", nullptr, "©mvc"},
    {"Show Work Movement", "1", nullptr, "shwm"},
    {"BPM", "128", nullptr, "tmpo"},
    {"Compilation", "1", "compilation", "cpil"},
    {"Access Rating", "2", "rating", "rtng"},
    {"Grouping", "Grouping", "grouping", "©grp"},
    {"stik", "1", "media_type", "stik"},
    {"Podcast", "1", "podcast", "pcst"},
    {"Category", "Category", "category", "catg"},
    {"Keywords", "Keywords", "keywords", "keyw"},
    {"Feed URL", "http://example.org/feed", nullptr, "purl"},
    {"Episode Global ID", "ep-1", nullptr, "egid"},
    {"Description", "Description", "description", "desc"},
    {"Lyrics", "Lyrics", "lyrics", "©lyr"},
    {"TV Network Name", "Network", "network", "tvnn"},
    {"TV Show Name", "Show", "show", "tvsh"},
    {"Number of Episodes", "E12", "episode_id", "tven"},
    {"Purchased Date", "2025-02-03", nullptr, "purd"},
    {"Gapless Playback", "1", "gapless_playback", "pgap"},
    {"Title Sort Order", "Title, The", "sort_name", "sonm"},
    {"Artist Sort", "Artist, The", "sort_artist", "soar"},
    {"Album Artist Sort", "Band, The", "sort_album_artist", "soaa"},
    {"Album Sort", "Album, The", "sort_album", "soal"},
    {"Composer Sort", "Composer, The", "sort_composer", "soco"},
    {"Show Name Sort", "Show, The", "sort_show", "sosn"},
    {"----:com.apple.iTunes:MOOD", "calm", "MOOD", "----:com.apple.iTunes:MOOD"},
};

std::map<std::string, std::string> FfprobeTags(const fs::path& file) {
    const zrtest::RunResult r = zrtest::Run({"ffprobe", "-v", "error", "-show_entries",
                                             "format_tags", "-of", "flat=s=_", file.string()});
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    std::map<std::string, std::string> tags;
    for (const std::string& line : zrtest::Lines(r.Output)) {
        const size_t eq = line.find('=');
        const std::string prefix = "format_tags_";
        if (eq == std::string::npos || line.rfind(prefix, 0) != 0 || line.size() < eq + 3)
            continue;
        tags[line.substr(prefix.size(), eq - prefix.size())] =
            line.substr(eq + 2, line.size() - eq - 3);
    }
    return tags;
}

std::string TagLibText(const TagLib::MP4::Item& item, const std::string& key) {
    if (key == "trkn" || key == "disk") {
        const auto pair = item.toIntPair();
        return std::to_string(pair.first) + "/" + std::to_string(pair.second);
    }
    if (!item.toStringList().isEmpty())
        return item.toStringList().toString().to8Bit(true);
    if (key == "tmpo" || key == "©mvi" || key == "©mvc")
        return std::to_string(item.toInt());
    if (key == "rtng" || key == "stik")
        return std::to_string(item.toByte());
    return item.toBool() ? "1" : "0";
}

// Every mapped field set on a file whose movie lies before its media data: ffprobe and TagLib
// read what was set, the audio decodes to the same samples, and our reader accepts the file.
TEST(TagInterop, SetFieldsReadBackElsewhere) {
    zrtest::TempDir dir;
    const fs::path file = MakeM4a(dir / "song.m4a");
    const Bytes pcm = zrtest::DecodeWithFfmpeg(file, "s16le");
    const Bytes image = MakeImage(dir / "cover.png");
    {
        CMP4File mp4;
        ASSERT_TRUE(mp4.OpenForTagging(zrtest::U(file))) << mp4.ErrorText().ToUtf8();
        for (const Field& f : Fields)
            EXPECT_TRUE(mp4.SetTag(U(f.Name), U(f.Value))) << f.Name << mp4.ErrorText().ToUtf8();
        EXPECT_TRUE(mp4.SetTag(U("image file"), zrtest::U(dir / "cover.png")));
        // Unchanged values and refusals.
        EXPECT_FALSE(mp4.SetTag(U("name"), U("Title")));
        EXPECT_TRUE(mp4.ErrorText().IsEmpty());
        EXPECT_FALSE(mp4.SetTag(U("Season"), U("3")));
        EXPECT_CONTAINS(mp4.ErrorText().ToUtf8(), "cannot hold");
        EXPECT_FALSE(mp4.SetTag(U("No Such Field"), U("x")));
        EXPECT_CONTAINS(mp4.ErrorText().ToUtf8(), "No item is known");
    } // the destructor saves
    EXPECT_GT(zrtest::ReadFile(file).size(), 1000u);

    const auto probed = FfprobeTags(file);
    TagLib::MP4::File tagged(file.c_str());
    ASSERT_TRUE(tagged.isValid());
    const TagLib::MP4::ItemMap& items = tagged.tag()->itemMap();
    for (const Field& f : Fields) {
        SCOPED_TRACE(f.Name);
        if (f.FfprobeKey) {
            const auto it = probed.find(f.FfprobeKey);
            EXPECT_EQ(it == probed.end() ? "(none)" : it->second, f.Value);
        }
        const TagLib::String key(f.TagLibKey, TagLib::String::UTF8);
        ASSERT_TRUE(items.contains(key));
        EXPECT_EQ(TagLibText(items[key], f.TagLibKey), f.Value);
    }
    const TagLib::MP4::CoverArtList art = items["covr"].toCoverArtList();
    ASSERT_EQ(art.size(), 1u);
    EXPECT_EQ(art.front().format(), TagLib::MP4::CoverArt::PNG);
    const TagLib::ByteVector data = art.front().data();
    EXPECT_EQ(Bytes(data.begin(), data.end()), image);

    EXPECT_TRUE(zrtest::SamePcm(pcm, zrtest::DecodeWithFfmpeg(file, "s16le"), 2));
    CMP4File mp4;
    ASSERT_TRUE(mp4.OpenForTagging(zrtest::U(file))) << mp4.ErrorText().ToUtf8();
    ZrString value;
    EXPECT_TRUE(mp4.GetTag(U("Album"), value) && value == U("Album ✓"));
    // Removing and re-genring: a custom genre replaces the standard one.
    EXPECT_TRUE(mp4.SetTag(U("Genre"), U("Synthwave")));
    EXPECT_TRUE(mp4.GetTag(U("Genre"), value) && value == u"Synthwave");
    EXPECT_TRUE(mp4.SetTag(U("Album"), ZrString()));
    EXPECT_FALSE(mp4.GetTag(U("Album"), value));
}

} // namespace
