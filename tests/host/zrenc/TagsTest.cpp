// Tags carried by zrenc: one input tagged with every common field and two covers, encoded by
// every encoder and read back field by field by readers other than zrenc's writers.
#include "zrenc/Tags.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/tpropertymap.h>

namespace {

using namespace zrtest;

struct Field {
    std::string key, value;
    std::string id3; // how mutagen-inspect lists the ID3v2 frame of a DSF file
};
const std::vector<Field> Fields = {
    {"TITLE", "曲のタイトル 🎵", "TIT2="},
    {"ARTIST", "Artist", "TPE1="},
    {"ALBUM", "Album", "TALB="},
    {"ALBUMARTIST", "Album Artist", "TPE2="},
    {"TRACKNUMBER", "3/12", "TRCK="},
    {"DISCNUMBER", "1/2", "TPOS="},
    {"DATE", "2024", "TDRC="},
    {"GENRE", "Rock", "TCON="},
    {"COMPOSER", "Composer", "TCOM="},
    {"COMMENT", "Comment", "COMM==XXX="},
    {"LYRICS", "line one\nline two", "USLT=LYRICS=XXX="},
    {"COMPILATION", "1", "TCMP="},
    {"REPLAYGAIN_TRACK_GAIN", "-6.50 dB", "TXXX=REPLAYGAIN_TRACK_GAIN="},
    {"MUSICBRAINZ_TRACKID", "0b7a6a4e-0000-4000-8000-000000000001",
     "UFID=http://musicbrainz.org=b'"},
    {"MOOD", "Calm", "TMOO="},
};

struct Target {
    const char* encoder;
    const char* extension;
    size_t pictures;           // the two covers, or what the format holds
    const char* settings = ""; // -s
};

const std::vector<Target> Targets = {
    {"wav", "wav", 2},    {"aiff", "aif", 2}, {"flac", "flac", 2}, {"ape", "ape", 2},
    {"wavpack", "wv", 2}, {"alac", "m4a", 1}, {"dsd", "dsf", 2},   {"wma", "wma", 2},
    {"mp3", "mp3", 2},    {"ogg", "ogg", 2},  {"mpc", "mpc", 2},   {"flac", "ogg", 2, "Ogg=1"},
};

class TagsTest : public ::testing::Test {
protected:
    RunResult Zrenc(const std::vector<std::string>& args) {
        for (const char* folder : {"out", "big"})
            fs::create_directories(dir / folder);
        return RunZrencAt(dir.Path(), args);
    }
    std::vector<uint8_t> Image(const std::string& name) {
        const fs::path path = dir / name;
        EXPECT_EQ(zrtest::Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=red:s=8x8",
                               "-frames:v", "1", path.string()})
                      .ExitCode,
                  0);
        return ReadFile(path);
    }
    // A FLAC input with every field and the given pictures.
    fs::path
    TaggedInput(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& pictures) {
        const fs::path path = dir / "in.flac";
        EXPECT_EQ(zrtest::Run({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=d=0.1",
                               "-ac", "2", path.string()})
                      .ExitCode,
                  0);
        TagLib::FLAC::File file(path.c_str());
        TagLib::PropertyMap map;
        for (const Field& field : Fields)
            map.insert(field.key, TagLib::String(field.value, TagLib::String::UTF8));
        file.setProperties(map);
        int type = 3;
        for (const auto& [mime, data] : pictures) {
            auto* picture = new TagLib::FLAC::Picture;
            picture->setType(static_cast<TagLib::FLAC::Picture::Type>(type++));
            picture->setMimeType(mime);
            picture->setData(TagLib::ByteVector(reinterpret_cast<const char*>(data.data()),
                                                static_cast<unsigned>(data.size())));
            file.addPicture(picture);
        }
        EXPECT_TRUE(file.save());
        return path;
    }
    struct Seen {
        std::map<std::string, std::string> fields; // first values, upper-case names
        size_t pictures = 0;
        bool audio = false;
    };
    // The file as two independent readers see it: TagLib, then ffprobe for the names TagLib
    // does not map (and mutagen-inspect for DSF, which TagLib does not read).
    Seen ReadBack(const fs::path& path) {
        Seen seen;
        const RunResult probe =
            zrtest::Run({"ffprobe", "-v", "error", "-show_entries",
                         "format_tags:stream=codec_type:stream_disposition=attached_pic", "-of",
                         "flat", path.string()});
        for (const std::string& line : Lines(probe.Output)) {
            seen.pictures += line.ends_with(".attached_pic=1");
            seen.audio |= line.ends_with(".codec_type=\"audio\"");
            const size_t equals = line.find("=\"");
            if (!line.starts_with("format.tags.") || equals == std::string::npos)
                continue;
            std::string value;
            for (size_t i = equals + 2; i + 1 < line.size(); ++i)
                value += line[i] == '\\' && line[i + 1] == 'n' ? (++i, '\n')
                         : line[i] == '\\'                     ? line[++i]
                                                               : line[i];
            std::string key = line.substr(12, equals - 12);
            for (char& c : key)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            seen.fields[key] = value;
        }
        // ffprobe sees no picture in the ASF metadata library, where a large one must go.
        if (path.extension() == ".wma") {
            seen.pictures = 0;
            for (const std::string& line :
                 Lines(zrtest::Run({"mutagen-inspect", path.string()}).Output))
                seen.pictures += line.starts_with("WM/Picture=");
        }
        if (path.extension() == ".dsf") {
            const std::string listing = zrtest::Run({"mutagen-inspect", path.string()}).Output;
            for (const Field& field : Fields)
                if (listing.find(field.id3 + field.value) != std::string::npos)
                    seen.fields[field.key] = field.value;
            return seen;
        }
        TagLib::FileRef ref(path.c_str());
        if (!ref.isNull())
            for (const auto& [key, values] : ref.file()->properties())
                seen.fields[key.upper().to8Bit(true)] = values.toString("; ").to8Bit(true);
        return seen;
    }

    TempDir dir;
};

// Each output is then an input in turn, its tags read and carried into FLAC.
TEST_F(TagsTest, EveryEncoderCarriesEveryFieldAndBothCovers) {
    if (!HaveProgram("mutagen-inspect"))
        GTEST_SKIP() << "mutagen-inspect (python3-mutagen) is missing";
    const fs::path input =
        TaggedInput({{"image/png", Image("a.png")}, {"image/jpeg", Image("b.jpg")}});
    for (const Target& t : Targets) {
        SCOPED_TRACE(std::string(t.encoder) + t.settings);
        const fs::path out =
            dir / "out" / (std::string(t.encoder) + t.settings + "." + t.extension);
        const fs::path back = out.string() + ".flac";
        RunResult r =
            Zrenc({"-e", t.encoder, "-s", t.settings, "-o", out.string(), input.string()});
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        if (t.pictures < 2) {
            EXPECT_CONTAINS(r.Output, "tags left out: picture");
        }
        r = Zrenc({"-e", "flac", "-o", back.string(), out.string()});
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        for (const fs::path& file : {out, back}) {
            SCOPED_TRACE(file.filename().string());
            Seen seen = ReadBack(file);
            EXPECT_TRUE(seen.audio) << "the tagged file no longer reads as audio";
            for (const Field& field : Fields)
                EXPECT_EQ(seen.fields[field.key], field.value) << field.key;
            EXPECT_EQ(seen.pictures, t.pictures);
        }
    }
}

// A 3 MB cover, -t overriding a field and --no-tags dropping the input's.
TEST_F(TagsTest, LargeCoverOverridesAndNoTags) {
    std::vector<uint8_t> large(3 << 20);
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    large[0] = 0xFF, large[1] = 0xD8;
    const fs::path input = TaggedInput({{"image/jpeg", large}});
    for (const Target& t : Pick(Targets, Targets.size(), 2)) { // FLAC, or every one
        SCOPED_TRACE(t.encoder);
        const fs::path out =
            dir / "big" / (std::string(t.encoder) + t.settings + "." + t.extension);
        const RunResult r = Zrenc({"-e", t.encoder, "-s", t.settings, "-t", "TITLE=Other", "-t",
                                   "MOOD=", "-o", out.string(), input.string()});
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        const Seen seen = ReadBack(out);
        const auto& read = seen.fields;
        EXPECT_EQ(seen.pictures, 1u);
        EXPECT_GT(fs::file_size(out), large.size());
        if (t.extension != std::string("dsf")) {
            EXPECT_EQ(read.count("TITLE") ? read.at("TITLE") : "", "Other");
            EXPECT_EQ(read.count("MOOD"), 0u);
        }
    }
    const RunResult r = Zrenc({"-e", "flac", "--no-tags", "-t", "ARTIST=Only", "-d",
                               (dir / "none").string(), input.string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    const Seen seen = ReadBack(dir / "none/in.flac");
    EXPECT_EQ(seen.fields.size(), 1u);
    EXPECT_EQ(seen.fields.count("ARTIST"), 1u);
    EXPECT_EQ(seen.pictures, 0u);
}

// A container TagLib does not read: its tags come through libavformat.
TEST_F(TagsTest, OtherInputsThroughTheDecodingLibraries) {
    const fs::path flac = TaggedInput({}), mka = dir / "in.mka";
    ASSERT_EQ(
        zrtest::Run({"ffmpeg", "-v", "error", "-i", flac.string(), "-c:a", "copy", mka.string()})
            .ExitCode,
        0);
    const RunResult r = Zrenc({"-e", "mp3", "-d", (dir / "out").string(), mka.string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    Seen seen = ReadBack(dir / "out/in.mp3");
    for (const Field& field : Fields)
        EXPECT_EQ(seen.fields[field.key], field.value) << field.key;
    EXPECT_EQ(seen.fields.count("DURATION"), 0u);
}

// What a format cannot hold is named, not dropped.
TEST_F(TagsTest, NamesWhatTheOutputCannotHold) {
    const fs::path flac = TaggedInput({});
    WriteFile(dir / "raw.pcm", std::vector<uint8_t>(4096, 0xFF));
    WriteFile(dir / "rf64.wav", Riff({Fmt({}), Data(Pcm({}, 16))}));
    std::vector<uint8_t> rf64 = ReadFile(dir / "rf64.wav");
    std::copy_n("RF64", 4, rf64.begin());
    WriteFile(dir / "rf64.wav", rf64);
    zrenc::TagSet tags;
    tags.fields["TITLE"] = {"x"};
    tags.pictures.push_back({3, "image/jpeg", "", std::vector<uint8_t>(17 << 20, 0xD8)});
    const std::pair<fs::path, const char*> rows[] = {
        {flac, "picture 1 (front cover, 17.0 MiB) (over FLAC's 16 MiB block limit)"},
        {dir / "raw.pcm", "all (raw audio, or a format zrenc cannot tag)"},
        {dir / "rf64.wav", "all (zrenc writes no tags into RF64 files)"},
    };
    for (const auto& [path, expected] : rows) {
        std::vector<std::string> leftOut;
        std::string error;
        ASSERT_TRUE(zrenc::WriteTags(path.string(), tags, leftOut, error)) << error;
        EXPECT_EQ(leftOut, std::vector<std::string>{expected});
    }
    EXPECT_EQ(zrtest::Run({"flac", "-t", "-s", flac.string()}).ExitCode, 0);
}

} // namespace
