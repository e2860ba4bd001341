// Tags and pictures carried from an input into a finished output, each format its own way, with
// a readable account of what the output could not hold.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace zrenc {

// What the user asked for: --no-tags, -t KEY=VALUE.
struct TagOptions {
    bool carry = true;                                         // the input's tags
    std::vector<std::pair<std::string, std::string>> settings; // -t, in order
};

struct TagPicture {
    int type = 3; // the ID3v2 / FLAC picture type: 3 is the front cover
    std::string mime;
    std::string description;
    std::vector<uint8_t> data;
};

// Fields by upper-case name (TITLE, ARTIST, ALBUMARTIST, TRACKNUMBER "n/m", DISCNUMBER, DATE,
// GENRE, COMPOSER, COMMENT, LYRICS, COMPILATION, REPLAYGAIN_*, MUSICBRAINZ_*, any other), each
// with its values, UTF-8.
struct TagSet {
    std::map<std::string, std::vector<std::string>> fields;
    std::vector<TagPicture> pictures;
    bool Empty() const { return fields.empty() && pictures.empty(); }
};

// The tags of an audio file; empty when it has none or cannot be read.
TagSet ReadTags(const std::string& path);

// -t: the first setting of a key replaces its values, later ones add values; an empty value
// removes the field.
void ApplySettings(TagSet& tags, const std::vector<std::pair<std::string, std::string>>& settings);

// Writes `tags` into the finished file at `path`, whose format is told by its first bytes.
// `leftOut` gets one text per field or picture the format could not hold, with the reason.
// False (with `error`) when the file could not be tagged; it may then be damaged.
bool WriteTags(const std::string& path, const TagSet& tags, std::vector<std::string>& leftOut,
               std::string& error);

// The whole step for one job: the input's tags (unless turned off) and the settings written
// into `output`; a line "tags left out: ..." is added to `warnings` when something was.
bool CarryTags(const std::string& input, const std::string& output, const TagOptions& options,
               std::vector<std::string>& warnings, std::string& error);

} // namespace zrenc
