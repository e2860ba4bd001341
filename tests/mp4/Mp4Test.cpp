// The atom library and the M4A writer. Crafted files: every class reads and writes back byte
// for byte, broken files end in their reason, the 16-byte header. The file written for one
// audio track, byte by byte where the layout is fixed, with packets of made-up content; and the
// file replacement underneath the rewrite. The Apple Lossless encoder's files beyond their
// samples (round trips and refusals: LosslessRoundTripTest, RefusalTest).
#include "foundation/ZrSafeReplaceFile.h"
#include "frame/ZrEncoderFactory.h"
#include "mp4/BasicAtoms.h"
#include "mp4/ChunkOffsetAtoms.h"
#include "mp4/ContainerAtoms.h"
#include "mp4/HeaderAtoms.h"
#include "mp4/KeyedMetadata.h"
#include "mp4/MP4File.h"
#include "mp4/SampleTableAtoms.h"
#include "mp4/TagAtoms.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

// ---- a tiny box builder -------------------------------------------------------------------

Bytes U32s(std::initializer_list<uint32_t> words) {
    Bytes out;
    for (const uint32_t w : words)
        out.insert(out.end(), {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w)});
    return out;
}
Bytes U16(uint32_t v) {
    return {uint8_t(v >> 8), uint8_t(v)};
}
Bytes U32(uint32_t v) {
    return U32s({v});
}
Bytes U64(uint64_t v) {
    return U32s({uint32_t(v >> 32), uint32_t(v)});
}
Bytes Zeros(size_t n) {
    return Bytes(n, 0);
}
Bytes S(std::string_view text) {
    return Bytes(text.begin(), text.end());
}
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes Box(const char* type, const Bytes& payload) {
    return Cat({U32(uint32_t(8 + payload.size())), Bytes(type, type + 4), payload});
}
Bytes Full(const char* type, uint8_t version, uint32_t flags, const Bytes& payload) {
    return Box(type, Cat({U32(uint32_t{version} << 24 | flags), payload}));
}
Bytes Matrix() {
    return U32s({0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000});
}

// Creation and modification times, time scale and duration: 64-bit times in version 1.
Bytes Times(uint8_t version, uint32_t scale, uint32_t duration) {
    return version ? Cat({U64(1), U64(2), U32(scale), U64(duration)})
                   : U32s({1, 2, scale, duration});
}
Bytes Mvhd(uint8_t version = 0) {
    return Full("mvhd", version, 0,
                Cat({Times(version, 1000, 5000), U32(0x10000), U16(0x100), Zeros(10), Matrix(),
                     Zeros(24), U32(2)}));
}
Bytes Tkhd(uint8_t version = 0) {
    const Bytes head = version ? Cat({U64(1), U64(2), U32(1), Zeros(4), U64(8192)})
                               : Cat({U32(1), U32(2), U32(1), Zeros(4), U32(8192)});
    return Full(
        "tkhd", version, 7,
        Cat({head, Zeros(8), U16(0), U16(0), U16(0x100), Zeros(2), Matrix(), U32(0), U32(0)}));
}
Bytes Mdhd(uint8_t version = 0) {
    return Full("mdhd", version, 0, Cat({Times(version, 44100, 8192), U16(0x55C4), U16(0)}));
}
Bytes Hdlr(const char* handler) {
    return Full("hdlr", 0, 0, Cat({U32(0), Bytes(handler, handler + 4), Zeros(12), Bytes{'s', 0}}));
}
Bytes SoundEntry() {
    return Box("alac", Cat({Zeros(6), U16(1), U16(0), U16(0), U32(0), U16(2), U16(16), U16(0),
                            U16(0), U32(44100u << 16),
                            Full("alac", 0, 0,
                                 Cat({U32(4096), Bytes{0, 16, 40, 10, 14, 2}, U16(255), U32(100),
                                      U32(0), U32(44100)}))}));
}

Bytes Uits() {
    return Bytes(CUUIDAtom::UitsIdentifier.begin(), CUUIDAtom::UitsIdentifier.end());
}

// A movie of one sound track with two samples of 10 bytes in one chunk; its fields change it.
struct Movie {
    bool Ftyp = true;
    Bytes MoovExtra = {}; // more children of moov
    Bytes TrakExtra = {}; // more children of trak
    Bytes StsdEntries = SoundEntry();
    uint32_t StsdCount = 1;
    Bytes Stts = Full("stts", 0, 0, U32s({1, 2, 4096}));
    Bytes Stsz = Full("stsz", 0, 0, U32s({10, 2}));
    Bytes Stsc = Full("stsc", 0, 0, U32s({1, 1, 2, 1}));
    bool Co64 = false;
    bool ChunkOffsets = true;
    int64_t OffsetShift = 0; // moves the chunk away from the media data
    Bytes Tail = {};         // after mdat
    bool Mdat = true;
    uint8_t HeaderVersion = 0;
    bool SecondTrack = false; // a copy of the track over the same chunk

    Bytes Build() const {
        Bytes ftyp = Ftyp ? Box("ftyp", Cat({S("M4A "), U32(0), S("M4A ")})) : Bytes{};
        Bytes moov = MoovFor(0);
        const uint64_t dataStart = ftyp.size() + moov.size() + 8;
        moov = MoovFor(dataStart + OffsetShift);
        return Cat({ftyp, moov, Mdat ? Box("mdat", Bytes(20, 0xAB)) : Bytes{}, Tail});
    }
    Bytes MoovFor(uint64_t offset) const {
        const Bytes offsets = !ChunkOffsets ? Bytes{}
                              : Co64        ? Full("co64", 0, 0, Cat({U32(1), U64(offset)}))
                                     : Full("stco", 0, 0, Cat({U32(1), U32(uint32_t(offset))}));
        const Bytes stbl = Box("stbl", Cat({Full("stsd", 0, 0, Cat({U32(StsdCount), StsdEntries})),
                                            Stts, Stsc, Stsz, offsets}));
        const Bytes dinf = Box("dinf", Full("dref", 0, 0, Cat({U32(1), Full("url ", 0, 1, {})})));
        const Bytes minf =
            Box("minf", Cat({Full("smhd", 0, 0, Cat({U16(0), U16(0)})), dinf, stbl}));
        const Bytes trak =
            Box("trak", Cat({Tkhd(HeaderVersion), TrakExtra,
                             Box("mdia", Cat({Mdhd(HeaderVersion), Hdlr("soun"), minf}))}));
        return Box("moov",
                   Cat({Mvhd(HeaderVersion), trak, SecondTrack ? trak : Bytes{}, MoovExtra}));
    }
};

struct Outcome {
    bool Read = false;
    bool Valid = false;
    std::string Error;
};

Outcome Check(const Bytes& file, bool mdatOptional = true, int overlap = 0) {
    CMP4File mp4;
    mp4.SetMdatOptional(mdatOptional);
    mp4.SetOverlapCheck(overlap);
    Outcome o;
    EXPECT_TRUE(mp4.OpenMemory(file.data(), file.size()));
    o.Read = mp4.ReadAtoms();
    o.Valid = o.Read && mp4.ValidateAtoms();
    o.Error = mp4.ErrorText().ToUtf8();
    return o;
}

// Metadata in udta: an item list of known, unknown, freeform and broken items; cprt; an item
// type outside an item list; keyed metadata; a meta without version and flags.
Bytes TaggedUdta() {
    const auto data = [](const Bytes& value) { return Box("data", Cat({U32(1), U32(0), value})); };
    const auto hdlr = [](const char* type) {
        return Full("hdlr", 0, 0, Cat({U32(0), Bytes(type, type + 4), Zeros(12), Bytes{0}}));
    };
    const Bytes items = Cat({Box("\251nam", Cat({data(S("hi")), Bytes{9, 9}})),
                             Box("----", Cat({Full("mean", 0, 0, S("com.x")),
                                              Full("name", 0, 0, S("MOOD")), data(S("calm"))})),
                             Box("\251ART", Cat({U32(100), S("data")})), // child too large
                             Box("xyz1", data({1})), Box("covr", Box("data", Bytes{0, 0, 0, 13}))});
    const Bytes keyed = Full(
        "meta", 0, 0,
        Cat({hdlr("mdta"),
             Full("keys", 0, 0, Cat({U32(1), U32(34), S("mdta"), S("com.apple.quicktime.artist")})),
             Box("ilst", Box("\0\0\0\1", data(S("K"))))}));
    return Box("udta", Cat({Full("meta", 0, 0, Cat({hdlr("mdir"), Box("ilst", items)})),
                            Full("cprt", 0, 0, Cat({U16(0x55C4), S("(c)")})),
                            Box("\251nam", data(S("out"))), keyed,
                            Box("meta", Cat({hdlr("mdir"), Box("ilst", {})})), Bytes{0, 0, 0, 0}}));
}

TEST(Atoms, CraftedFileIsRewrittenByteForByte) {
    // Version 1 headers, a version 1 sound entry with trailing bytes, esds, co64, urn, uuid,
    // free, an unparsed hdlr, udta with metadata and trailing bytes.
    const Bytes mp4a = Box("mp4a", Cat({Zeros(6), U16(1), U16(1), U16(0), U32(0), U16(2), U16(16),
                                        U16(0), U16(0), U32(44100u << 16), U32s({1024, 0, 4, 2}),
                                        Full("esds", 0, 0, Bytes{3, 25, 0, 1, 0}), Zeros(4)}));
    const Bytes file =
        Movie{.MoovExtra = TaggedUdta(),
              .StsdEntries = mp4a,
              .Co64 = true,
              .Tail = Cat({Box("free", Zeros(7)), Box("uuid", Cat({Uits(), Bytes{1, 2, 3}}))}),
              .HeaderVersion = 1}
            .Build();
    ASSERT_TRUE(Check(file).Valid) << Check(file).Error;
    // Written to disk, read and saved again through the rewrite.
    zrtest::TempDir dir;
    zrtest::WriteFile(dir / "in.mp4", file);
    {
        CMP4File mp4;
        ASSERT_TRUE(mp4.Open(zrtest::U(dir / "in.mp4"), false));
        ASSERT_TRUE(mp4.ReadAtoms() && mp4.ValidateAtoms() && mp4.Save())
            << mp4.ErrorText().ToUtf8();
    }
    EXPECT_EQ(zrtest::ReadFile(dir / "in.mp4"), file);

    // What the metadata was read as.
    CMP4File mp4;
    ASSERT_TRUE(mp4.OpenForTagging(zrtest::U(dir / "in.mp4")));
    auto* udta = dynamic_cast<CContainerAtom*>(mp4.FindAtom("moov/udta"));
    ASSERT_NE(udta, nullptr);
    const std::pair<const CAtom*, const char*> classes[] = {
        {mp4.FindAtom("moov/udta/meta/ilst/\251nam"), "CNameAtom"},
        {mp4.FindAtom("moov/udta/meta/ilst/----"), "C4DashesAtom"},
        {mp4.FindAtom("moov/udta/meta/ilst/----/mean"), "CMeanAtom"},
        {mp4.FindAtom("moov/udta/meta/ilst/\251ART"), "CFREEAtom"},
        {mp4.FindAtom("moov/udta/meta/ilst/xyz1"), "CFREEAtom"},
        {mp4.FindAtom("moov/udta/meta/ilst/covr/data"), "CFREEAtom"},
        {mp4.FindAtom("moov/udta/cprt"), "CCopyrightAtom"},
        {mp4.FindAtom("moov/udta/\251nam"), "CFREEAtom"},
        {udta->FindChild(MakeFourCC("meta"), 1), "QTMetaAtom"},
        {mp4.FindAtom("moov/udta/meta/ilst/\251nam/data"), "CTagDataAtom"},
    };
    for (const auto& [atom, name] : classes) {
        ASSERT_NE(atom, nullptr) << name;
        EXPECT_STREQ(atom->ClassName(), name);
    }
    EXPECT_TRUE(dynamic_cast<CMetaAtom*>(udta->FindChild(MakeFourCC("meta"), 2))->Headerless);
    ZrString value;
    for (const auto& [field, expected] : {std::pair{u"name", u"hi"},
                                          {u"----:com.x:MOOD", u"calm"},
                                          {u"Artist", u"K"}}) // from the keyed metadata
        EXPECT_TRUE(mp4.GetTag(field, value) && value == expected) << value.ToUtf8();
}

struct Broken {
    const char* Name;
    Bytes File;
    bool Read;         // ReadAtoms succeeds
    const char* Error; // part of the error text; "": the file is valid
    bool MdatOptional = true;
    int Overlap = 0;
};

Bytes Nested(int levels) {
    Bytes b = Box("udta", {});
    for (int i = 1; i < levels; ++i)
        b = Box("udta", b);
    return b;
}

std::vector<Broken> BrokenFiles() {
    const Bytes ftyp = Box("ftyp", Cat({S("M4A "), U32(0)}));
    const Bytes good = Movie().Build(), moov = Movie().MoovFor(0);
    const Bytes uits = Box("uuid", Uits());
    return {
        {"cut short", Cat({ftyp, U32(1000), S("moov"), Zeros(20)}), true, "Missing MOOV Atom"},
        {"size below header", Cat({ftyp, U32(4), S("free")}), false, "invalid size"},
        {"64-bit size below header", Cat({ftyp, U32(1), S("free"), U64(12)}), false,
         "invalid size"},
        {"child one byte larger than parent", Cat({ftyp, Box("moov", Cat({U32(9), S("free")}))}),
         false, "larger than its parent"},
        // 32 levels are read; the 33rd is refused.
        {"nested to the limit", Cat({ftyp, Nested(32)}), true, "Missing MOOV Atom"},
        {"nested too deeply", Cat({ftyp, Nested(33)}), false, "nested too deeply"},
        {"table count beyond its atom", Cat({ftyp, Full("stsz", 0, 0, U32s({0, 1u << 30, 5}))}),
         false, "holds fewer entries"},
        {"reserved bytes set", Cat({ftyp, Full("smhd", 0, 0, U32s({1}))}), false, "SkipZero error"},
        {"short uuid", Cat({ftyp, Box("uuid", Zeros(8))}), false,
         "uuid atom must have larger size"},
        {"two ftyp", Cat({ftyp, good}), true, "Too many FTYP atoms in file"},
        {"no ftyp", Movie{.Ftyp = false}.Build(), true, "Missing FTYP Atom"},
        {"no moov", Cat({ftyp, Box("mdat", Zeros(4))}), true, "Missing MOOV Atom"},
        {"two moov", Cat({ftyp, moov, moov}), true, "Too many MOOV atoms in file"},
        {"two UITS", Cat({good, uits, uits}), true, "Too many UITS payload atoms in file"},
        {"fewer entries than counted", Movie{.StsdCount = 2}.Build(), false,
         "CContainerAtom::ReadChildren didn't read the requested atoms"},
        {"no chunk offsets", Movie{.ChunkOffsets = false}.Build(), true,
         "stbl atom has wrong number of stco or co64 atoms"},
        {"movie header inside a track", Movie{.TrakExtra = Mvhd()}.Build(), true,
         "CMVHDAtom Parent is not moov: trak"},
        {"chunk one byte past the media data", Movie{.OffsetShift = 1}.Build(), true,
         "lies outside the media data"},
        {"time table and sizes disagree",
         Movie{.Stts = Full("stts", 0, 0, U32s({1, 3, 4096}))}.Build(), true, "STTS describes"},
        {"chunk runs not starting at 1",
         Movie{.Stsc = Full("stsc", 0, 0, U32s({1, 2, 2, 1}))}.Build(), true, "STSC run 1"},
        {"sound and video entries",
         Movie{.StsdEntries = Cat({SoundEntry(), Box("avc1", Zeros(78))}), .StsdCount = 2}.Build(),
         true, "STSD atom has too many content children of conflicting types"},
        // An atom that claims more than the file ends the reading; the media data behind it is
        // found by scanning and the chunk links to it.
        {"media data behind a cut atom",
         Movie{.OffsetShift = 8,
               .Tail = Cat({U32(0xFFFF), S("junk"), Box("mdat", Bytes(20, 1))}),
               .Mdat = false}
             .Build(),
         true, "", false},
        {"no media data", Movie{.Mdat = false}.Build(), true, "Missing MDAT Atom", false},
        {"two movie headers", Movie{.MoovExtra = Mvhd()}.Build(), true,
         "moov atom has wrong number of mvhd atoms"},
        {"two tracks over one chunk", Movie{.SecondTrack = true}.Build(), true,
         "Overlapping samples", true, 1},
    };
}

TEST(Atoms, BrokenFilesEndInTheirReason) {
    for (const Broken& c : BrokenFiles()) {
        SCOPED_TRACE(c.Name);
        const Outcome o = Check(c.File, c.MdatOptional, c.Overlap);
        EXPECT_EQ(o.Read, c.Read) << o.Error;
        EXPECT_EQ(o.Valid, !*c.Error);
        EXPECT_NE(o.Error.find(c.Error), std::string::npos) << o.Error;
    }
}

// The 64-bit header: its bytes, and a container counting it for its child. Where the switch
// lies: Mp4Writer.LargeMediaDataGetsTheLongHeader.
TEST(Atoms, LargeHeader) {
    CMOOVAtom moov;
    auto* child = static_cast<CMDATAtom*>(moov.AddChild(std::make_unique<CMDATAtom>()));
    child->DataLength = 0x80000000;
    EXPECT_EQ(SizeWithHeader(moov), 0x80000000ull + 16 + 8 + 8);
    zrtest::TempDir dir;
    CAtomStream out;
    ASSERT_TRUE(out.Open(zrtest::U(dir / "h"), true));
    child->Write(out);
    ASSERT_TRUE(out.Close());
    EXPECT_EQ(zrtest::ReadFile(dir / "h"), Cat({U32(1), S("mdat"), U64(0x80000010)}));
}

TEST(Atoms, ChunkOffsetsBeyond4GiBBecomeCo64) {
    CSTBLAtom stbl;
    auto* stco = static_cast<CSTCOAtom*>(stbl.AddChild(std::make_unique<CSTCOAtom>()));
    stco->AddChunkOffset(100, nullptr);
    EXPECT_FALSE(WidenChunkOffsets(stbl));
    stco->AddChunkOffset(0x100000010ull, nullptr);
    ASSERT_TRUE(WidenChunkOffsets(stbl));
    auto* co64 = dynamic_cast<CCO64Atom*>(stbl.FindChild(MakeFourCC("co64")));
    ASSERT_NE(co64, nullptr);
    EXPECT_EQ(stbl.FindChild(MakeFourCC("stco")), nullptr);
    EXPECT_EQ(co64->GetChunkCount(), 2u);
    EXPECT_EQ(co64->GetChunkOffset(1), 0x100000010ll);
    EXPECT_EQ(co64->GetChunkOffset(2), -1);
    EXPECT_EQ(SizeWithHeader(*co64), 16u + 16u);
}

// ---- the writer's files ---------------------------------------------------------------------

namespace fs = std::filesystem;
using zrtest::Be32;

// A box whose type occurs once in the file, found in the raw bytes; "alac" occurs twice, the
// sample entry and then its configuration.
struct Found {
    size_t Offset;
    uint32_t Size;
    size_t Payload() const { return Offset + 8; }
};
std::optional<Found> FindBox(const Bytes& f, const char* type, int nth = 1) {
    auto at = f.begin();
    for (int i = 0; i < nth && at != f.end(); ++i)
        at = std::search(i ? at + 4 : at, f.end(), type, type + 4);
    if (at - f.begin() < 4 || at == f.end())
        return std::nullopt;
    const size_t offset = static_cast<size_t>(at - f.begin()) - 4;
    return Found{offset, Be32(&f[offset])};
}

struct Packet {
    uint32_t Bytes;
    uint32_t Frames;
};

const uint8_t Config[24] = {0, 0, 0x10, 0, 0, 16, 40, 10, 14, 2, 0,    255,
                            0, 0, 0x40, 0, 0, 0,  0,  0,  0,  0, 0xAC, 0x44};

struct Written {
    bool Ok = false;
    std::string Error;
    Bytes File;
    Bytes Media; // the packets in order
};

// Packet i is filled with the byte i + 1.
Written WriteTrack(const zrtest::TempDir& dir, const std::vector<Packet>& packets) {
    Written w;
    const auto path = dir / "track.m4a";
    const WAVEFORMATEX format = zrtest::PcmFormat(2, 44100, 16);
    {
        CMP4File mp4;
        if (!mp4.CreateAudioFile(zrtest::U(path), &format)) {
            w.Error = mp4.ErrorText().ToUtf8();
            return w;
        }
        uint64_t total = 0;
        for (size_t i = 0; i < packets.size(); ++i) {
            Bytes packet(packets[i].Bytes, static_cast<uint8_t>(i + 1));
            EXPECT_TRUE(mp4.AddPacket(packet.data(), packets[i].Bytes, packets[i].Frames));
            w.Media.insert(w.Media.end(), packet.begin(), packet.end());
            total += packets[i].Bytes;
        }
        w.Ok = mp4.FinishAudioFile(Config, total);
        w.Error = mp4.ErrorText().ToUtf8();
    } // closed: whatever the write-behind still held is on disk
    w.File = zrtest::ReadFile(path);
    return w;
}

size_t CountFiles(const fs::path& folder) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {}));
}

std::vector<Packet> Repeat(size_t n, Packet p) {
    return std::vector<Packet>(n, p);
}

// The big-endian words of a full box after its version and flags.
std::vector<uint32_t> Words(const Bytes& f, const char* table) {
    const auto box = FindBox(f, table);
    EXPECT_TRUE(box) << table;
    std::vector<uint32_t> words;
    for (size_t at = box ? box->Payload() + 4 : 0; box && at < box->Offset + box->Size; at += 4)
        words.push_back(Be32(&f[at]));
    return words;
}

// The tables of the track, as the words of stts, stsc and stsz; chunk offsets are checked
// against where the packets really are.
TEST(Mp4Writer, SampleTables) {
    std::vector<Packet> shortLast = Repeat(6, {300, 4096});
    shortLast.push_back({40, 17});
    const std::vector<Packet> twelve = Repeat(12, {100, 4096});
    const std::vector<Packet> withEmpty = {{100, 4096}, {0, 4096}, {100, 4096}};
    struct Case {
        const char* Name;
        std::vector<Packet> Packets;
        std::vector<uint32_t> Stts, Stsc; // count, then entries
        uint32_t CommonSize;              // 0: a table
        std::vector<uint32_t> ChunkFirstPacket;
    };
    const Case cases[] = {
        {"three packets: one chunk", Repeat(3, {100, 4096}), {1, 3, 4096}, {1, 1, 3, 1}, 100, {0}},
        {"chunks of 5, 5 and 2", twelve, {1, 12, 4096}, {2, 1, 5, 1, 3, 2, 1}, 100, {0, 5, 10}},
        {"a short last packet", shortLast, {2, 6, 4096, 1, 17}, {2, 1, 5, 1, 2, 2, 1}, 0, {0, 5}},
        {"exactly five packets", Repeat(5, {100, 4096}), {1, 5, 4096}, {1, 1, 5, 1}, 100, {0}},
        {"an empty packet is not recorded", withEmpty, {1, 2, 4096}, {1, 1, 2, 1}, 100, {0}},
        {"no packet at all", {}, {0}, {0}, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        zrtest::TempDir dir;
        const Written w = WriteTrack(dir, c.Packets);
        ASSERT_TRUE(w.Ok) << w.Error;
        const Bytes& f = w.File;
        EXPECT_EQ(Words(f, "stts"), c.Stts);
        EXPECT_EQ(Words(f, "stsc"), c.Stsc);
        std::vector<uint32_t> sizes;
        for (const Packet& p : c.Packets)
            if (p.Bytes)
                sizes.push_back(p.Bytes);
        std::vector<uint32_t> stsz = {c.CommonSize, uint32_t(sizes.size())};
        if (!c.CommonSize)
            stsz.insert(stsz.end(), sizes.begin(), sizes.end());
        EXPECT_EQ(Words(f, "stsz"), stsz);

        // Chunk offsets are absolute: the first is where the media data starts.
        const auto mdat = FindBox(f, "mdat");
        ASSERT_TRUE(mdat);
        std::vector<uint32_t> stco = {uint32_t(c.ChunkFirstPacket.size())};
        for (uint32_t first : c.ChunkFirstPacket) {
            uint64_t before = 0;
            for (size_t p = 0; p < first; ++p)
                before += sizes[p];
            stco.push_back(uint32_t(mdat->Payload() + before));
        }
        EXPECT_EQ(Words(f, "stco"), stco);
        EXPECT_EQ(Bytes(f.begin() + static_cast<std::ptrdiff_t>(mdat->Payload()), f.end()),
                  w.Media);

        // Durations and the average bit rate follow the frames.
        uint64_t frames = 0;
        for (size_t i = 1; i + 1 < c.Stts.size(); i += 2)
            frames += uint64_t{c.Stts[i]} * c.Stts[i + 1];
        EXPECT_EQ(Be32(&f[FindBox(f, "mdhd")->Payload() + 16]), frames);
        EXPECT_EQ(Be32(&f[FindBox(f, "tkhd")->Payload() + 20]), frames);
        auto alac = FindBox(f, "alac", 2);
        const double bitRate = frames ? double(w.Media.size()) / double(frames) * 8 * 44100 : 0;
        EXPECT_EQ(Be32(&f[alac->Payload() + 4 + 16]), static_cast<uint32_t>(bitRate));
    }
}

// The size logic of a media data atom of 2 GiB and more, without writing it.
TEST(Mp4Writer, LargeMediaDataGetsTheLongHeader) {
    for (const uint64_t extra :
         {uint64_t{0x7FFFFFFF} - 8 - 500, uint64_t{0x7FFFFFFF} - 500, uint64_t{0x100000000}}) {
        zrtest::TempDir dir;
        const WAVEFORMATEX format = zrtest::PcmFormat(2, 44100, 16);
        CMP4File mp4;
        ASSERT_TRUE(mp4.CreateAudioFile(zrtest::U(dir / "big.m4a"), &format));
        const Bytes packet(100, 7);
        for (int i = 0; i < 5; ++i) // one whole chunk, so one chunk offset
            ASSERT_TRUE(mp4.AddPacket(packet.data(), 100, 4096));
        mp4.Mdats()[0]->ExtendLastRange(extra);
        const uint64_t total = mp4.LayOut();
        CMDATAtom* mdat = mp4.Mdats()[0];
        const uint64_t data = 500 + extra;
        const bool large = data + 8 >= 0x7FFFFFFF;
        EXPECT_EQ(mdat->Size, data + (large ? 16 : 8)) << extra;
        const uint64_t before = total - mdat->Size;
        EXPECT_EQ(mdat->DataOffset, before + (large ? 16 : 8));
        auto* offsets = dynamic_cast<CContainerAtom*>(mp4.FindAtom("moov/trak/mdia/minf/stbl"));
        ASSERT_NE(offsets, nullptr);
        EXPECT_NE(offsets->FindChild(MakeFourCC("stco")), nullptr);
    }
}

TEST(Mp4Writer, FailedRewriteKeepsNothingAndSaysWhy) {
    zrtest::TempDir dir;
    const char* saved = std::getenv("TMPDIR");
    const std::string previous = saved ? saved : "";
    ::setenv("TMPDIR", (dir / "no such folder").c_str(), 1);
    const Written w = WriteTrack(dir, Repeat(7, {50, 4096}));
    if (saved)
        ::setenv("TMPDIR", previous.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    EXPECT_FALSE(w.Ok);
    EXPECT_NE(w.Error.find("Cannot create a temporary file"), std::string::npos) << w.Error;
    // The destination keeps the raw packets; nothing else was left behind.
    EXPECT_EQ(w.File, w.Media);
    EXPECT_EQ(CountFiles(dir.Path()), 1u);
}

// ---- SafeReplaceFile --------------------------------------------------------------------------

TEST(SafeReplaceFile, Cases) {
    const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    struct Case {
        const char* Name;
        bool DestinationExists;
        bool DestinationIsFolder;
        int64_t MinimumSize;
        bool Replaced;
    };
    for (const Case c : {Case{"new destination", false, false, 1, true},
                         Case{"existing destination", true, false, 1, true},
                         Case{"replacement below the minimum", true, false, 100, false},
                         Case{"destination is a folder", false, true, 1, false}}) {
        SCOPED_TRACE(c.Name);
        zrtest::TempDir dir;
        const auto destination = dir / "song.m4a", replacement = dir / "new.tmp";
        zrtest::WriteFile(replacement, Bytes{1, 2, 3});
        if (c.DestinationExists) {
            zrtest::WriteFile(destination, Bytes{9});
            fs::permissions(destination, mode);
        }
        if (c.DestinationIsFolder)
            fs::create_directory(destination);
        const bool ok = ZrFileSystem::SafeReplaceFile(zrtest::U(destination),
                                                      zrtest::U(replacement), c.MinimumSize);
        EXPECT_EQ(ok, c.Replaced);
        EXPECT_FALSE(fs::exists(replacement)); // moved or deleted, never left behind
        EXPECT_EQ(CountFiles(dir.Path()), c.DestinationExists || c.DestinationIsFolder || ok);
        if (!c.DestinationIsFolder) {
            EXPECT_EQ(zrtest::ReadFile(destination), (c.Replaced ? Bytes{1, 2, 3} : Bytes{9}));
        }
        if (c.DestinationExists) {
            EXPECT_EQ(fs::status(destination).permissions() & fs::perms::all, mode);
        }
    }
}

TEST(SafeReplaceFile, AcrossFileSystems) {
    if (!fs::is_directory("/dev/shm"))
        GTEST_SKIP();
    zrtest::TempDir dir;
    struct stat a, b;
    if (::stat(dir.Path().c_str(), &a) != 0 || ::stat("/dev/shm", &b) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system";
    const fs::path replacement = fs::path("/dev/shm") / ("zr-safe-" + std::to_string(::getpid()));
    zrtest::WriteFile(replacement, Bytes(100000, 5));
    zrtest::WriteFile(dir / "song.m4a", Bytes{1});
    EXPECT_TRUE(
        ZrFileSystem::SafeReplaceFile(zrtest::U(dir / "song.m4a"), zrtest::U(replacement), 1));
    EXPECT_FALSE(fs::exists(replacement));
    EXPECT_EQ(zrtest::ReadFile(dir / "song.m4a"), Bytes(100000, 5));
    EXPECT_EQ(CountFiles(dir.Path()), 1u);
}

// ---- the Apple Lossless encoder ---------------------------------------------------------------

using zrtest::Signal;

zrtest::EncodeResult EncodeAlac(const fs::path& out, const WAVEFORMATEX& format,
                                const std::vector<uint8_t>& pcm, size_t piece = 0) {
    return zrtest::Encode(CreateAlacEncoder, out, {&format, pcm, piece});
}

// Our own reader accepts the file without a word.
void ExpectReadable(CMP4File& mp4, const fs::path& file) {
    ASSERT_TRUE(mp4.Open(zrtest::U(file), false));
    ASSERT_TRUE(mp4.ReadAtoms() && mp4.ValidateAtoms()) << mp4.ErrorText().ToUtf8();
    EXPECT_TRUE(mp4.ErrorText().IsEmpty()) << mp4.ErrorText().ToUtf8();
}

// Any way of cutting the input into buffers gives the same packets, hence the same file, one
// that our reader accepts. Lengths around the packet of 4096 frames and the chunk of five.
TEST(AlacEncoder, BufferSizesDoNotChangeTheFile) {
    struct Input {
        uint16_t Bits, Channels;
        size_t Frames;
    };
    for (const Input in :
         {Input{16, 2, 4096 * 5 + 1}, Input{24, 3, 4097}, Input{20, 1, 4095}, Input{16, 8, 0}}) {
        SCOPED_TRACE(std::to_string(in.Bits) + " bits");
        zrtest::TempDir dir;
        const WAVEFORMATEX format = zrtest::PcmFormat(in.Channels, 44100, in.Bits);
        // 20-bit samples travel in 3-byte containers with the four low bits clear.
        std::vector<uint8_t> pcm = zrtest::MakePcm(Signal::Music, in.Channels, 44100,
                                                   in.Bits == 20 ? 24 : in.Bits, in.Frames, 3);
        for (size_t i = 0; in.Bits == 20 && i < pcm.size(); i += 3)
            pcm[i] &= 0xF0;
        std::vector<uint8_t> reference;
        for (size_t piece : {size_t{format.nBlockAlign} * 4096, size_t{1}, size_t{1000},
                             std::max<size_t>(pcm.size(), 1)}) {
            const fs::path out = dir / ("p" + std::to_string(piece) + ".m4a");
            const zrtest::EncodeResult r = EncodeAlac(out, format, pcm, piece);
            ASSERT_TRUE(r.Ok()) << r.LastError;
            // From the sample tables on: the headers before them hold the time of writing.
            const std::vector<uint8_t> whole = zrtest::ReadFile(out), stbl = {'s', 't', 'b', 'l'};
            const std::vector<uint8_t> file(
                std::search(whole.begin(), whole.end(), stbl.begin(), stbl.end()), whole.end());
            EXPECT_GT(file.size(), 100u);
            if (reference.empty()) {
                CMP4File mp4;
                ExpectReadable(mp4, out);
                reference = file;
            } else {
                EXPECT_EQ(reference, file) << piece << " bytes at a time";
            }
        }
    }
}

// A job that cannot end well: on a device that takes no bytes the failure surfaces as a
// reason, never as a good file, and the device is never replaced; a job never finished
// leaves the raw packets, not a file that looks whole.
TEST(AlacEncoder, FailedAndUnfinishedJobs) {
    const WAVEFORMATEX format = zrtest::PcmFormat(2, 44100, 16);
    std::vector<uint8_t> pcm = zrtest::MakePcm(Signal::Noise, 2, 44100, 16, 44100 * 2);
    if (fs::exists("/dev/full")) {
        const auto r = EncodeAlac("/dev/full", format, pcm);
        ASSERT_TRUE(r.Started);
        EXPECT_FALSE(r.Encoded && r.Finished);
        EXPECT_NE(r.LastError.find("No space left on device"), std::string::npos) << r.LastError;
        struct stat info;
        ASSERT_EQ(::stat("/dev/full", &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode));
    }
    zrtest::TempDir dir;
    const fs::path out = dir / "unfinished.m4a";
    {
        std::unique_ptr<IZrEncoder> encoder(CreateAlacEncoder(nullptr));
        encoder->SetProperty(u"Add Output Extension", u"0");
        encoder->SetProperty(u"Destination Filename", zrtest::U(out).c_str());
        ASSERT_TRUE(encoder->StartBufferBased(&format, 0));
        ASSERT_TRUE(encoder->EncodeBuffer(pcm.data(), 4 * (4096 * 3 + 10)));
    }
    const std::vector<uint8_t> raw = zrtest::ReadFile(out);
    ASSERT_GT(raw.size(), 8u);
    EXPECT_NE(std::string(raw.begin() + 4, raw.begin() + 8), "ftyp");
}

// Two files merged into one play as the first followed by the second; a different rate is
// refused with its reason.
TEST(AlacEncoder, MergedFilesPlayOneAfterTheOther) {
    zrtest::TempDir dir;
    const WAVEFORMATEX format = zrtest::PcmFormat(2, 44100, 16);
    const auto first = zrtest::MakePcm(Signal::Music, 2, 44100, 16, 4096 * 7, 1);
    const auto second = zrtest::MakePcm(Signal::Noise, 2, 44100, 16, 4096 * 3 + 5, 2);
    ASSERT_TRUE(EncodeAlac(dir / "a.m4a", format, first).Ok());
    ASSERT_TRUE(EncodeAlac(dir / "b.m4a", format, second).Ok());
    ASSERT_TRUE(EncodeAlac(dir / "c.m4a", zrtest::PcmFormat(2, 48000, 16), second).Ok());
    {
        CMP4File a, b;
        ExpectReadable(a, dir / "a.m4a");
        ExpectReadable(b, dir / "b.m4a");
        ASSERT_TRUE(a.AppendFile(b)) << a.ErrorText().ToUtf8();
        ASSERT_TRUE(a.Save()) << a.ErrorText().ToUtf8();
    }
    std::vector<uint8_t> both(first);
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_TRUE(zrtest::SamePcm(both, zrtest::DecodeWithFfmpeg(dir / "a.m4a", "s16le"), 2));
    CMP4File a, c;
    ExpectReadable(a, dir / "a.m4a");
    ExpectReadable(c, dir / "c.m4a");
    EXPECT_FALSE(a.AppendFile(c));
    EXPECT_EQ(a.ErrorText(), u"MDHD: Timescales are different");
}

} // namespace
