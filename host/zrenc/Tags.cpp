#include "zrenc/Tags.h"

#include "foundation/ZrLibav.h"
#include "foundation/ZrString.h"
#include "mp4/MP4File.h"
#include "zrenc/Display.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/apeitem.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/asfpicture.h>
#include <taglib/asftag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mp4coverart.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/mpcfile.h>
#include <taglib/mpegfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>
#include <unistd.h>

namespace zrenc {

namespace {

using TagLib::ByteVector;
using TagLib::String;

String Text(const std::string& utf8) {
    return String(utf8, String::UTF8);
}
std::string Utf8(const String& text) {
    return text.to8Bit(true);
}
ByteVector Bytes(const std::vector<uint8_t>& data) {
    return ByteVector(reinterpret_cast<const char*>(data.data()),
                      static_cast<unsigned>(data.size()));
}
std::vector<uint8_t> Data(const ByteVector& bytes) {
    return {bytes.begin(), bytes.end()};
}

// Formats that store no MIME type: told by the picture's first bytes.
std::string SniffMime(const std::vector<uint8_t>& data) {
    static const uint8_t png[] = {0x89, 'P', 'N', 'G'};
    if (data.size() >= 4 && std::equal(png, png + 4, data.begin()))
        return "image/png";
    if (data.size() >= 2 && data[0] == 0xFF && data[1] == 0xD8)
        return "image/jpeg";
    if (data.size() >= 3 && std::memcmp(data.data(), "GIF", 3) == 0)
        return "image/gif";
    if (data.size() >= 2 && std::memcmp(data.data(), "BM", 2) == 0)
        return "image/bmp";
    return "image/jpeg";
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

String Lower(const String& text) {
    std::string out = Utf8(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return Text(out);
}

std::string PictureName(const TagPicture& picture, size_t index) {
    static const char* names[] = {"other",      "file icon", "icon",  "front cover",
                                  "back cover", "leaflet",   "media", "lead artist"};
    std::string name = picture.type >= 0 && picture.type < 8 ? names[picture.type] : "picture";
    return "picture " + std::to_string(index + 1) + " (" + name + ", " +
           FormatBytes(picture.data.size()) + ")";
}

TagLib::PropertyMap Properties(const TagSet& tags) {
    TagLib::PropertyMap map;
    for (const auto& [key, values] : tags.fields) {
        TagLib::StringList list;
        for (const std::string& value : values)
            list.append(Text(value));
        map.insert(Text(key), list);
    }
    return map;
}

void Absorb(const TagLib::PropertyMap& map, TagSet& tags) {
    for (const auto& [key, values] : map) {
        // The input's encoder did not make the output.
        if (Upper(Utf8(key)) == "ENCODER")
            continue;
        std::vector<std::string>& out = tags.fields[Upper(Utf8(key))];
        for (const String& value : values)
            out.push_back(Utf8(value));
    }
}

// ---- reading ----

// Free-form M4A items that TagLib maps to no property (ReplayGain among them) are fields under
// their own names.
void AbsorbFreeMp4(TagLib::MP4::Tag* tag, TagSet& tags) {
    static const String ITunes = "----:com.apple.iTunes:";
    if (!tag)
        return;
    const TagLib::StringList unmapped = tag->properties().unsupportedData();
    for (const auto& [name, item] : tag->itemMap()) {
        if (!name.startsWith(ITunes) || !unmapped.contains(name))
            continue;
        const std::string key = Upper(Utf8(name.substr(ITunes.size())));
        if (key == "ENCODER" || tags.fields.count(key))
            continue;
        for (const String& value : item.toStringList())
            tags.fields[key].push_back(Utf8(value));
    }
}

// TagLib maps only the standard ASF names; the free-form attributes that writers (we among
// them) add under a field's own name are fields too.
void AbsorbFreeAsf(TagLib::ASF::Tag* tag, TagSet& tags) {
    if (!tag)
        return;
    const TagLib::StringList unmapped = tag->properties().unsupportedData();
    for (const auto& [name, attributes] : tag->attributeListMap()) {
        const std::string key = Upper(Utf8(name));
        if (!unmapped.contains(name) || name.startsWith("WM/") || key == "ENCODER" ||
            tags.fields.count(key))
            continue;
        for (const TagLib::ASF::Attribute& attribute : attributes)
            if (attribute.type() == TagLib::ASF::Attribute::UnicodeType)
                tags.fields[key].push_back(Utf8(attribute.toString()));
    }
}

void ReadId3Pictures(TagLib::ID3v2::Tag* tag, TagSet& tags) {
    if (!tag)
        return;
    for (TagLib::ID3v2::Frame* frame : tag->frameList("APIC"))
        if (auto* apic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame))
            tags.pictures.push_back({static_cast<int>(apic->type()), Utf8(apic->mimeType()),
                                     Utf8(apic->description()), Data(apic->picture())});
}

void ReadFlacPictures(const TagLib::List<TagLib::FLAC::Picture*>& list, TagSet& tags) {
    for (const TagLib::FLAC::Picture* picture : list)
        tags.pictures.push_back({static_cast<int>(picture->type()), Utf8(picture->mimeType()),
                                 Utf8(picture->description()), Data(picture->data())});
}

// APEv2 keeps one picture per "Cover Art (...)" item: the description, a zero byte, the data.
const std::pair<int, const char*> ApePictureKeys[] = {
    {3, "Cover Art (Front)"}, {4, "Cover Art (Back)"}, {0, "Cover Art (Other)"}};

void ReadApePictures(TagLib::APE::Tag* tag, TagSet& tags) {
    if (!tag)
        return;
    for (const auto& [type, key] : ApePictureKeys) {
        const auto& items = tag->itemListMap();
        const auto found = items.find(String(key).upper());
        if (found == items.end() || found->second.type() != TagLib::APE::Item::Binary)
            continue;
        const ByteVector value = found->second.binaryData();
        const int zero = value.find('\0');
        if (zero < 0)
            continue;
        TagPicture picture{
            type, {}, Utf8(String(value.mid(0, zero), String::UTF8)), Data(value.mid(zero + 1))};
        picture.mime = SniffMime(picture.data);
        tags.pictures.push_back(std::move(picture));
    }
}

void ReadPictures(TagLib::File* file, TagSet& tags) {
    if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file))
        ReadFlacPictures(flac->pictureList(), tags);
    else if (auto* xiph = dynamic_cast<TagLib::Ogg::XiphComment*>(file->tag()))
        ReadFlacPictures(xiph->pictureList(), tags);
    else if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file))
        ReadId3Pictures(mpeg->ID3v2Tag(), tags);
    else if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file))
        ReadId3Pictures(wav->ID3v2Tag(), tags);
    else if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(file))
        ReadId3Pictures(aiff->tag(), tags);
    else if (auto* ape = dynamic_cast<TagLib::APE::File*>(file))
        ReadApePictures(ape->APETag(), tags);
    else if (auto* wv = dynamic_cast<TagLib::WavPack::File*>(file))
        ReadApePictures(wv->APETag(), tags);
    else if (auto* mpc = dynamic_cast<TagLib::MPC::File*>(file))
        ReadApePictures(mpc->APETag(), tags);
    else if (auto* asf = dynamic_cast<TagLib::ASF::File*>(file)) {
        const auto& attributes = asf->tag()->attributeListMap();
        if (const auto found = attributes.find("WM/Picture"); found != attributes.end())
            for (const TagLib::ASF::Attribute& attribute : found->second) {
                const TagLib::ASF::Picture picture = attribute.toPicture();
                if (picture.isValid())
                    tags.pictures.push_back({static_cast<int>(picture.type()),
                                             Utf8(picture.mimeType()), Utf8(picture.description()),
                                             Data(picture.picture())});
            }
    } else if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file)) {
        if (mp4->tag() && mp4->tag()->contains("covr"))
            for (const TagLib::MP4::CoverArt& cover : mp4->tag()->item("covr").toCoverArtList()) {
                TagPicture picture{3, {}, {}, Data(cover.data())};
                picture.mime = SniffMime(picture.data);
                tags.pictures.push_back(std::move(picture));
            }
    }
}

// DSF keeps an ID3v2 block at the offset its header names.
bool ReadDsfTags(const std::string& path, TagSet& tags) {
    std::ifstream in(path, std::ios::binary);
    char header[28] = {};
    if (!in.read(header, sizeof header) || std::memcmp(header, "DSD ", 4) != 0)
        return false;
    uint64_t pointer = 0;
    for (int i = 7; i >= 0; --i)
        pointer = pointer << 8 | static_cast<uint8_t>(header[20 + i]);
    if (pointer == 0 || !in.seekg(static_cast<std::streamoff>(pointer)))
        return true;
    std::string block((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ByteVector bytes(block.data(), static_cast<unsigned>(block.size()));
    TagLib::ByteVectorStream stream(bytes);
    TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (TagLib::ID3v2::Tag* tag = file.ID3v2Tag()) {
        Absorb(tag->properties(), tags);
        ReadId3Pictures(tag, tags);
    }
    return true;
}

// ---- writing ----

// A FLAC picture block's length has 24 bits.
constexpr size_t FlacBlockLimit = (size_t{1} << 24) - 1;

size_t FlacPictureSize(const TagPicture& picture) {
    return 32 + picture.mime.size() + picture.description.size() + picture.data.size();
}

// Released to the file or comment, which owns its pictures.
std::unique_ptr<TagLib::FLAC::Picture> FlacPicture(const TagPicture& from) {
    auto picture = std::make_unique<TagLib::FLAC::Picture>();
    picture->setType(static_cast<TagLib::FLAC::Picture::Type>(from.type));
    picture->setMimeType(Text(from.mime));
    picture->setDescription(Text(from.description));
    picture->setData(Bytes(from.data));
    return picture;
}

void AddId3Pictures(TagLib::ID3v2::Tag* tag, const TagSet& tags) {
    tag->removeFrames("APIC");
    for (const TagPicture& from : tags.pictures) {
        auto frame = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
        frame->setTextEncoding(String::UTF8);
        frame->setType(static_cast<TagLib::ID3v2::AttachedPictureFrame::Type>(from.type));
        frame->setMimeType(Text(from.mime));
        frame->setDescription(Text(from.description));
        frame->setPicture(Bytes(from.data));
        tag->addFrame(frame.release());
    }
}

struct Writer {
    const TagSet& tags;
    std::vector<std::string>& leftOut;
    std::string format;

    void Unsupported(const TagLib::PropertyMap& rest) {
        for (const auto& [key, values] : rest)
            leftOut.push_back(Utf8(key) + " (" + format + " has no such field)");
    }
    // Tag::setProperties is not virtual: each tag type's own is called.
    template <typename Tag>
    void Properties(Tag* tag) {
        Unsupported(tag->setProperties(zrenc::Properties(tags)));
    }

    void Flac(TagLib::FLAC::File& file) {
        Properties(file.xiphComment(true));
        file.removePictures();
        for (size_t i = 0; i < tags.pictures.size(); ++i) {
            const TagPicture& picture = tags.pictures[i];
            if (FlacPictureSize(picture) > FlacBlockLimit)
                leftOut.push_back(PictureName(picture, i) + " (over FLAC's 16 MiB block limit)");
            else
                file.addPicture(FlacPicture(picture).release());
        }
    }
    // In Ogg FLAC the whole comment, pictures in base64 included, is one metadata block.
    void Xiph(TagLib::Ogg::XiphComment* comment, bool flacBlock) {
        Properties(comment);
        comment->removeAllPictures();
        size_t room = flacBlock ? FlacBlockLimit - comment->render().size() : SIZE_MAX;
        for (size_t i = 0; i < tags.pictures.size(); ++i) {
            const TagPicture& picture = tags.pictures[i];
            const size_t size = 32 + (FlacPictureSize(picture) + 2) / 3 * 4;
            if (size > room) {
                leftOut.push_back(PictureName(picture, i) +
                                  " (over the 16 MiB of an Ogg FLAC comment)");
                continue;
            }
            room -= size;
            comment->addPicture(FlacPicture(picture).release());
        }
    }
    void Ape(TagLib::APE::Tag* tag) {
        Properties(tag);
        for (size_t i = 0; i < tags.pictures.size(); ++i) {
            const TagPicture& picture = tags.pictures[i];
            const char* key = "Cover Art (Other)";
            for (const auto& [type, name] : ApePictureKeys)
                if (type == picture.type) {
                    key = name;
                    break;
                }
            if (tag->itemListMap().contains(String(key).upper())) {
                leftOut.push_back(PictureName(picture, i) + " (APEv2 holds one picture of a kind)");
                continue;
            }
            // Readers tell the image's kind by the description's ending, as of a file name.
            const std::string ending = picture.mime == "image/png" ? ".png" : ".jpg";
            std::string description = picture.description.empty() ? "cover" : picture.description;
            if (!description.ends_with(ending))
                description += ending;
            ByteVector value = Text(description).data(String::UTF8);
            value.append('\0');
            value.append(Bytes(picture.data));
            tag->setItem(key, TagLib::APE::Item(key, value, true));
        }
    }
    void Id3(TagLib::ID3v2::Tag* tag) {
        Properties(tag);
        AddId3Pictures(tag, tags);
    }
    void Asf(TagLib::ASF::Tag* tag) {
        // Attributes are free-form: what has no standard name keeps its own.
        for (const auto& [key, values] : tag->setProperties(zrenc::Properties(tags)))
            for (const String& value : values)
                tag->addAttribute(key.startsWith("REPLAYGAIN_") ? Lower(key) : key, value);
        tag->removeItem("WM/Picture");
        for (const TagPicture& from : tags.pictures) {
            TagLib::ASF::Picture picture;
            picture.setType(static_cast<TagLib::ASF::Picture::Type>(from.type));
            picture.setMimeType(Text(from.mime));
            picture.setDescription(Text(from.description));
            picture.setPicture(Bytes(from.data));
            tag->addAttribute("WM/Picture", TagLib::ASF::Attribute(picture));
        }
    }
};

// RIFF INFO texts as UTF-8 rather than Latin-1, so that they hold what the ID3 chunk holds.
class Utf8InfoText final : public TagLib::RIFF::Info::StringHandler {
public:
    String parse(const ByteVector& data) const override { return String(data, String::UTF8); }
    ByteVector render(const String& text) const override { return text.data(String::UTF8); }
};

// The host field names of our MP4 library for the common fields; the rest go to freeform
// items under the names other programs use.
const std::pair<const char*, const char*> Mp4Fields[] = {
    {"TITLE", "Name"},
    {"ARTIST", "Artist"},
    {"ALBUM", "Album"},
    {"ALBUMARTIST", "Album Artist"},
    {"COMMENT", "Comment"},
    {"DATE", "Date"},
    {"GENRE", "Genre"},
    {"TRACKNUMBER", "Track #"},
    {"DISCNUMBER", "Disc #"},
    {"COMPOSER", "Composer"},
    {"CONDUCTOR", "Conductor"},
    {"WORK", "Work"},
    {"MOVEMENTNAME", "Movement"},
    {"BPM", "BPM"},
    {"COMPILATION", "Compilation"},
    {"GROUPING", "Grouping"},
    {"LYRICS", "Lyrics"},
    {"PODCAST", "Podcast"},
    {"TITLESORT", "Title Sort Order"},
    {"ARTISTSORT", "Artist Sort Order"},
    {"ALBUMARTISTSORT", "Album Artist Sort Order"},
    {"ALBUMSORT", "Album Sort Order"},
    {"COMPOSERSORT", "Composer Sort Order"},
    {"MUSICBRAINZ_TRACKID", "----:com.apple.iTunes:MusicBrainz Track Id"},
    {"MUSICBRAINZ_ARTISTID", "----:com.apple.iTunes:MusicBrainz Artist Id"},
    {"MUSICBRAINZ_ALBUMID", "----:com.apple.iTunes:MusicBrainz Album Id"},
    {"MUSICBRAINZ_ALBUMARTISTID", "----:com.apple.iTunes:MusicBrainz Album Artist Id"},
    {"MUSICBRAINZ_RELEASEGROUPID", "----:com.apple.iTunes:MusicBrainz Release Group Id"},
    {"MUSICBRAINZ_RELEASETRACKID", "----:com.apple.iTunes:MusicBrainz Release Track Id"},
    {"MUSICBRAINZ_WORKID", "----:com.apple.iTunes:MusicBrainz Work Id"},
    {"ACOUSTID_ID", "----:com.apple.iTunes:Acoustid Id"},
    // Readers know ReplayGain in M4A only under these lower-case names.
    {"REPLAYGAIN_TRACK_GAIN", "----:com.apple.iTunes:replaygain_track_gain"},
    {"REPLAYGAIN_TRACK_PEAK", "----:com.apple.iTunes:replaygain_track_peak"},
    {"REPLAYGAIN_ALBUM_GAIN", "----:com.apple.iTunes:replaygain_album_gain"},
    {"REPLAYGAIN_ALBUM_PEAK", "----:com.apple.iTunes:replaygain_album_peak"},
};

std::string Mp4Field(const std::string& key) {
    for (const auto& [ours, theirs] : Mp4Fields)
        if (key == ours)
            return theirs;
    return "----:com.apple.iTunes:" + key;
}

bool WriteMp4(const std::string& path, const TagSet& tags, std::vector<std::string>& leftOut,
              std::string& error) {
    CMP4File file;
    if (!file.OpenForTagging(ZrString::FromUtf8(path))) {
        error = file.ErrorText().ToUtf8();
        return false;
    }
    for (const auto& [key, values] : tags.fields) {
        std::string joined;
        for (const std::string& value : values)
            joined += (joined.empty() ? "" : "; ") + value;
        if (!file.SetTag(ZrString::FromUtf8(Mp4Field(key)), ZrString::FromUtf8(joined)) &&
            !file.ErrorText().IsEmpty())
            leftOut.push_back(key + " (" + file.ErrorText().ToUtf8() + ")");
    }
    // One cover item: the front cover, else the first picture.
    const auto cover = std::find_if(tags.pictures.begin(), tags.pictures.end(),
                                    [](const TagPicture& p) { return p.type == 3; });
    for (size_t i = 0; i < tags.pictures.size(); ++i) {
        const TagPicture& picture = tags.pictures[i];
        const bool chosen = cover == tags.pictures.end() ? i == 0 : &*cover == &picture;
        if (!chosen) {
            leftOut.push_back(PictureName(picture, i) + " (M4A holds one cover)");
            continue;
        }
        const bool png = picture.mime == "image/png";
        std::string name =
            (std::filesystem::temp_directory_path() / "zrenc-cover-XXXXXX").string() +
            (png ? ".png" : ".jpg");
        const int fd = ::mkstemps(name.data(), 4);
        bool written = fd >= 0 && ::write(fd, picture.data.data(), picture.data.size()) ==
                                      static_cast<ssize_t>(picture.data.size());
        if (fd >= 0)
            ::close(fd);
        if (written && !file.SetTag(u"Image File", ZrString::FromUtf8(name)) &&
            !file.ErrorText().IsEmpty())
            leftOut.push_back(PictureName(picture, i) + " (" + file.ErrorText().ToUtf8() + ")");
        if (fd >= 0)
            ::unlink(name.c_str());
        if (!written)
            leftOut.push_back(PictureName(picture, i) + " (no room for a temporary copy)");
    }
    if (!file.Save()) {
        error = file.ErrorText().ToUtf8();
        return false;
    }
    return true;
}

void PutLE64(std::fstream& file, std::streamoff at, uint64_t value) {
    char bytes[8];
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<char>(value >> (8 * i));
    file.seekp(at);
    file.write(bytes, 8);
}

bool WriteDsf(const std::string& path, const TagSet& tags, Writer& writer, std::string& error) {
    TagLib::ID3v2::Tag tag;
    writer.Id3(&tag);
    const ByteVector block = tag.render(TagLib::ID3v2::v4);
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    char header[28] = {};
    if (!file.read(header, sizeof header)) {
        error = "cannot read the DSF header";
        return false;
    }
    uint64_t pointer = 0;
    for (int i = 7; i >= 0; --i)
        pointer = pointer << 8 | static_cast<uint8_t>(header[20 + i]);
    file.seekg(0, std::ios::end);
    const auto end = static_cast<uint64_t>(file.tellg());
    // A block the encoder left is replaced.
    const uint64_t at = pointer && pointer < end ? pointer : end;
    file.close();
    if (at != end && ::truncate(path.c_str(), static_cast<off_t>(at)) != 0) {
        error = std::string("cannot replace the DSF metadata: ") + std::strerror(errno);
        return false;
    }
    file.open(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(at));
    file.write(block.data(), block.size());
    PutLE64(file, 12, at + block.size());
    PutLE64(file, 20, tags.Empty() ? 0 : at);
    file.flush();
    if (!file) {
        error = std::string("cannot write the DSF metadata: ") + std::strerror(errno);
        return false;
    }
    return true;
}

template <typename File>
bool Saved(File& file, bool saved, std::string& error) {
    if (!saved)
        error = "the tag library could not save the file";
    return saved && file.isValid();
}

std::string Head(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string head(64, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    return head;
}

// The generic names libavformat gives the common fields.
const std::pair<const char*, const char*> LibavFields[] = {
    {"album_artist", "ALBUMARTIST"}, {"track", "TRACKNUMBER"},   {"disc", "DISCNUMBER"},
    {"tracktotal", "TRACKTOTAL"},    {"disctotal", "DISCTOTAL"},
};

// What TagLib does not read, libavformat may: its metadata and attached pictures.
void ReadLibavTags(const std::string& path, TagSet& tags) {
    const ZrLibav* av = ZrLibav::Open(ZrLibav::Format);
    AVFormatContext* context = nullptr;
    if (!av || av->avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0)
        return;
    auto absorb = [&](const AVDictionary* metadata) {
        for (const AVDictionaryEntry* entry = nullptr;
             (entry = av->av_dict_get(metadata, "", entry, AV_DICT_IGNORE_SUFFIX));) {
            std::string key = Upper(entry->key);
            key = key.substr(0, key.find('-')); // "lyrics-eng"
            for (const auto& [theirs, ours] : LibavFields)
                if (key == Upper(theirs))
                    key = ours;
            if (key != "ENCODER" && key != "DURATION" && !tags.fields.count(key))
                tags.fields[key].push_back(entry->value);
        }
    };
    absorb(context->metadata);
    // Some containers keep the tags with the audio stream instead.
    const bool fromStreams = tags.fields.empty();
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        if (!(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            if (fromStreams && stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
                absorb(stream->metadata);
            continue;
        }
        const AVPacket& packet = stream->attached_pic;
        TagPicture picture{3, {}, {}, {packet.data, packet.data + packet.size}};
        picture.mime = SniffMime(picture.data);
        if (const AVDictionaryEntry* comment =
                av->av_dict_get(stream->metadata, "comment", nullptr, 0);
            comment && std::strstr(comment->value, "back"))
            picture.type = 4;
        tags.pictures.push_back(std::move(picture));
    }
    av->avformat_close_input(&context);
}

// Vorbis comments may keep the total apart (TRACKNUMBER=3, TRACKTOTAL=12): one "n/m" field.
void JoinTotal(TagSet& tags, const std::string& number, const std::string& total) {
    const auto found = tags.fields.find(total);
    if (found == tags.fields.end())
        return;
    std::vector<std::string>& values = tags.fields[number];
    if (values.empty())
        values.push_back("0");
    if (values.front().find('/') == std::string::npos && !found->second.empty())
        values.front() += "/" + found->second.front();
    tags.fields.erase(total);
}

bool TagLibFormat(const std::string& head) {
    static const std::pair<size_t, const char*> magics[] = {
        {0, "RIFF"}, {0, "FORM"}, {0, "fLaC"}, {0, "OggS"}, {0, "ID3"},  {0, "MAC "},
        {0, "wvpk"}, {0, "MPCK"}, {0, "MP+"},  {4, "ftyp"}, {0, "TTA1"}, {0, "\x30\x26\xB2\x75"}};
    return std::any_of(std::begin(magics), std::end(magics), [&](const auto& magic) {
        return head.compare(magic.first, std::strlen(magic.second), magic.second) == 0;
    });
}

} // namespace

TagSet ReadTags(const std::string& path) {
    TagSet tags;
    if (!ReadDsfTags(path, tags)) {
        if (TagLib::FileRef ref(path.c_str(), false); !ref.isNull()) {
            Absorb(ref.file()->properties(), tags);
            if (auto* asf = dynamic_cast<TagLib::ASF::File*>(ref.file()))
                AbsorbFreeAsf(asf->tag(), tags);
            else if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(ref.file()))
                AbsorbFreeMp4(mp4->tag(), tags);
            ReadPictures(ref.file(), tags);
        }
        // TagLib may also take a container for the stream inside it (a FLAC stream in
        // Matroska). The decoding libraries are not loaded for a file TagLib surely knows.
        if (tags.Empty() && !TagLibFormat(Head(path)))
            ReadLibavTags(path, tags);
    }
    JoinTotal(tags, "TRACKNUMBER", "TRACKTOTAL");
    JoinTotal(tags, "TRACKNUMBER", "TOTALTRACKS");
    JoinTotal(tags, "DISCNUMBER", "DISCTOTAL");
    JoinTotal(tags, "DISCNUMBER", "TOTALDISCS");
    return tags;
}

void ApplySettings(TagSet& tags, const std::vector<std::pair<std::string, std::string>>& settings) {
    std::vector<std::string> seen;
    for (const auto& [rawKey, value] : settings) {
        const std::string key = Upper(rawKey);
        std::vector<std::string>& values = tags.fields[key];
        if (std::find(seen.begin(), seen.end(), key) == seen.end()) {
            values.clear();
            seen.push_back(key);
        }
        if (!value.empty())
            values.push_back(value);
        if (values.empty())
            tags.fields.erase(key);
    }
}

bool WriteTags(const std::string& path, const TagSet& tags, std::vector<std::string>& leftOut,
               std::string& error) {
    const std::string head = Head(path);
    auto is = [&](size_t at, const char* magic) {
        return head.compare(at, std::strlen(magic), magic) == 0;
    };
    Writer writer{tags, leftOut, {}};
    const char* name = path.c_str();
    if (is(0, "fLaC")) {
        writer.format = "FLAC";
        TagLib::FLAC::File file(name, false);
        writer.Flac(file);
        return Saved(file, file.save(), error);
    }
    if (is(0, "OggS")) {
        writer.format = "Ogg";
        if (is(28, "\x01vorbis")) {
            TagLib::Ogg::Vorbis::File file(name, false);
            writer.Xiph(file.tag(), false);
            return Saved(file, file.save(), error);
        }
        if (is(28, "\x7F"
                   "FLAC")) {
            TagLib::Ogg::FLAC::File file(name, false);
            writer.Xiph(file.tag(), true);
            return Saved(file, file.save(), error);
        }
        TagLib::Ogg::Opus::File file(name, false);
        writer.Xiph(file.tag(), false);
        return Saved(file, file.save(), error);
    }
    if (is(0, "MAC ") || is(0, "wvpk") || is(0, "MPCK") || is(0, "MP+")) {
        writer.format = "APEv2";
        if (is(0, "MAC ")) {
            TagLib::APE::File file(name, false);
            writer.Ape(file.APETag(true));
            return Saved(file, file.save(), error);
        }
        if (is(0, "wvpk")) {
            TagLib::WavPack::File file(name, false);
            writer.Ape(file.APETag(true));
            return Saved(file, file.save(), error);
        }
        TagLib::MPC::File file(name, false);
        writer.Ape(file.APETag(true));
        return Saved(file, file.save(), error);
    }
    if (is(0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11")) {
        writer.format = "Windows Media";
        TagLib::ASF::File file(name, false);
        writer.Asf(file.tag());
        return Saved(file, file.save(), error);
    }
    if (is(4, "ftyp"))
        return WriteMp4(path, tags, leftOut, error);
    if (is(0, "RIFF") && is(8, "WAVE")) {
        writer.format = "ID3v2";
        static std::once_flag once;
        static const Utf8InfoText utf8;
        std::call_once(once, [] { TagLib::RIFF::Info::Tag::setStringHandler(&utf8); });
        TagLib::RIFF::WAV::File file(name, false);
        file.InfoTag()->setProperties(Properties(tags)); // what INFO lacks, the ID3 chunk holds
        writer.Id3(file.ID3v2Tag());
        return Saved(
            file,
            file.save(TagLib::RIFF::WAV::File::AllTags, TagLib::File::StripNone, TagLib::ID3v2::v4),
            error);
    }
    if (is(0, "FORM") && (is(8, "AIFF") || is(8, "AIFC"))) {
        writer.format = "ID3v2";
        TagLib::RIFF::AIFF::File file(name, false);
        writer.Id3(file.tag());
        return Saved(file, file.save(TagLib::ID3v2::v4), error);
    }
    if (is(0, "DSD ")) {
        writer.format = "ID3v2";
        return WriteDsf(path, tags, writer, error);
    }
    // A frame sync alone could begin raw audio as well.
    const bool mpegName = Upper(path.substr(std::min(path.size(), path.rfind('.')))) == ".MP3";
    if (is(0, "ID3") || (mpegName && head.size() > 1 && static_cast<uint8_t>(head[0]) == 0xFF &&
                         (static_cast<uint8_t>(head[1]) & 0xE0) == 0xE0)) {
        writer.format = "ID3v2";
        TagLib::MPEG::File file(name, false);
        writer.Id3(file.ID3v2Tag(true));
        return Saved(file,
                     file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone,
                               TagLib::ID3v2::v4, TagLib::File::DoNotDuplicate),
                     error);
    }
    if (!tags.Empty())
        leftOut.push_back(std::string(is(0, "RF64")
                                          ? "all (zrenc writes no tags into RF64 files)"
                                          : "all (raw audio, or a format zrenc cannot tag)"));
    return true;
}

bool CarryTags(const std::string& input, const std::string& output, const TagOptions& options,
               std::vector<std::string>& warnings, std::string& error) {
    TagSet tags;
    if (options.carry)
        tags = ReadTags(input);
    ApplySettings(tags, options.settings);
    if (tags.Empty())
        return true;
    std::vector<std::string> leftOut;
    if (!WriteTags(output, tags, leftOut, error))
        return false;
    if (!leftOut.empty()) {
        std::string line = "tags left out:";
        for (size_t i = 0; i < leftOut.size(); ++i)
            line += (i ? ", " : " ") + leftOut[i];
        warnings.push_back(line);
    }
    return true;
}

} // namespace zrenc
