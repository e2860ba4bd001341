// Reads and validates arbitrary bytes as an MP4 file: it must end in a result, never a crash, a
// hang or an allocation the bytes do not justify.
//
// An input whose first byte is odd is not a file but a list of patches (two offset bytes, one
// value) to a valid M4A made by the writer at start-up, so that the search reaches the checks
// deep in a well-formed movie as well as the reading of garbage. With bit 1 of that byte set the
// M4A is tagged: an item list with text, number, genre, freeform and cover-art items, and keyed
// metadata with its keys.
#include "mp4/ContainerAtoms.h"
#include "mp4/HeaderAtoms.h"
#include "mp4/KeyedMetadata.h"
#include "mp4/MP4File.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<uint8_t> g_template, g_tagged;

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

// Keyed metadata under udta: one key and its item.
void AddKeyedMetadata(CMP4File& file) {
    auto* udta = dynamic_cast<CContainerAtom*>(file.FindAtom("moov/udta"));
    if (!udta)
        return;
    auto meta = std::make_unique<QTMetaAtom>();
    meta->AddChild(std::make_unique<CHDLRAtom>(MakeFourCC("mdta"), std::vector<uint8_t>{0}));
    auto* keys = static_cast<MetadataItemKeysAtom*>(
        meta->AddChild(std::make_unique<MetadataItemKeysAtom>()));
    auto* ilst = static_cast<CContainerAtom*>(
        meta->AddChild(std::make_unique<CILSTAtom>(MakeFourCC("ilst"))));
    auto* item = static_cast<MetadataItemAtom*>(ilst->AddChild(
        std::make_unique<MetadataItemAtom>(keys->AddKey("com.apple.quicktime.rating.user"))));
    item->SetValue(ZrString(u"4.5"), 0, TagDataType::Float32BE, 0, 0);
    udta->AddChild(std::move(meta));
}

std::vector<uint8_t> MakeTagged(const std::string& path) {
    const std::string image = path + ".png";
    std::ofstream(image, std::ios::binary) << "\x89PNG\r\n\x1a\n....";
    {
        CMP4File file;
        if (!file.OpenForTagging(ZrString::FromUtf8(path)))
            return {};
        const std::pair<const char16_t*, ZrString> tags[] = {
            {u"Name", u"Title"},
            {u"Track #", u"3/12"},
            {u"Genre", u"Rock"},
            {u"BPM", u"120"},
            {u"Compilation", u"1"},
            {u"----:com.apple.iTunes:MOOD", u"calm"},
            {u"Image File", ZrString::FromUtf8(image)}};
        for (const auto& [field, value] : tags)
            file.SetTag(field, value);
        AddKeyedMetadata(file);
        file.Save();
    }
    ::unlink(image.c_str());
    return ReadAll(path);
}

std::vector<uint8_t> MakeTemplate() {
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz-mp4-template-" +
                             std::to_string(::getpid()) + ".m4a";
    const WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    {
        CMP4File writer;
        if (!writer.CreateAudioFile(ZrString::FromUtf8(path), &format))
            return {};
        for (uint32_t i = 0; i < 12; ++i) {
            const std::vector<uint8_t> packet(20 + (i % 3), static_cast<uint8_t>(i));
            writer.AddPacket(packet.data(), static_cast<uint32_t>(packet.size()),
                             i == 11 ? 100 : 4096);
        }
        const uint8_t config[24] = {0, 0, 0x10, 0, 0, 16, 40, 10, 14, 2, 0,    255,
                                    0, 0, 0,    0, 0, 0,  0,  0,  0,  0, 0xAC, 0x44};
        writer.FinishAudioFile(config, 250);
    }
    std::vector<uint8_t> bytes = ReadAll(path);
    g_tagged = MakeTagged(path);
    ::unlink(path.c_str());
    return bytes;
}

// Every field the tag-name map knows, read; cover art is left out (it would write a file).
void ReadTags(CMP4File& file) {
    static const char16_t* const fields[] = {
        u"Name",   u"Artist", u"Genre",       u"Track #",
        u"Disc #", u"BPM",    u"Compilation", u"Access Rating",
        u"stik",   u"Lyrics", u"Season",      u"----:com.apple.iTunes:MOOD"};
    ZrString value;
    for (const char16_t* field : fields)
        file.GetTag(field, value);
    file.SetTag(u"Name", u"Another title");
    file.SetTag(u"Track #", u"");
}

void Check(const uint8_t* data, size_t size) {
    CMP4File file;
    if (!file.OpenMemory(data, size))
        return;
    if (file.ReadAtoms() && file.ValidateAtoms()) {
        // A valid tree must also give its tags, lay out and dump.
        ReadTags(file);
        file.LayOut();
        (void)file.Dump(2);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_template = MakeTemplate();
    if (g_template.empty() || g_tagged.empty())
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || !(data[0] & 1)) {
        Check(data, size);
        return 0;
    }
    std::vector<uint8_t> file(data[0] & 2 ? g_tagged : g_template);
    for (size_t i = 1; i + 3 <= size; i += 3) {
        const size_t at = (size_t{data[i]} << 8 | data[i + 1]) % file.size();
        file[at] = data[i + 2];
    }
    Check(file.data(), file.size());
    return 0;
}
