// The atom library on crafted files: every class reads and writes back byte for byte, broken
// files end in their reason, and the 16-byte header.
#include "mp4/BasicAtoms.h"
#include "mp4/ChunkOffsetAtoms.h"
#include "mp4/ContainerAtoms.h"
#include "mp4/HeaderAtoms.h"
#include "mp4/MP4File.h"
#include "mp4/SampleTableAtoms.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

// ---- a tiny box builder -------------------------------------------------------------------

Bytes U16(uint32_t v) {
    return {uint8_t(v >> 8), uint8_t(v)};
}
Bytes U32(uint32_t v) {
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}
Bytes U64(uint64_t v) {
    Bytes b = U32(uint32_t(v >> 32)), low = U32(uint32_t(v));
    b.insert(b.end(), low.begin(), low.end());
    return b;
}
Bytes Zeros(size_t n) {
    return Bytes(n, 0);
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
    return Box(type,
               Cat({Bytes{version},
                    Bytes{uint8_t(flags >> 16), uint8_t(flags >> 8), uint8_t(flags)}, payload}));
}
Bytes Matrix() {
    return Cat({U32(0x10000), U32(0), U32(0), U32(0), U32(0x10000), U32(0), U32(0), U32(0),
                U32(0x40000000)});
}

// Creation and modification times, time scale and duration: 64-bit times in version 1.
Bytes Times(uint8_t version, uint32_t scale, uint32_t duration) {
    return version ? Cat({U64(1), U64(2), U32(scale), U64(duration)})
                   : Cat({U32(1), U32(2), U32(scale), U32(duration)});
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

// A movie of one sound track with two samples of 10 bytes in one chunk; `parts` changes it.
struct Movie {
    bool Ftyp = true;
    Bytes MoovExtra; // more children of moov
    Bytes TrakExtra; // more children of trak
    Bytes StsdEntries = SoundEntry();
    uint32_t StsdCount = 1;
    Bytes Stts = Full("stts", 0, 0, Cat({U32(1), U32(2), U32(4096)}));
    Bytes Stsz = Full("stsz", 0, 0, Cat({U32(10), U32(2)}));
    Bytes Stsc = Full("stsc", 0, 0, Cat({U32(1), U32(1), U32(2), U32(1)}));
    bool Co64 = false;
    bool ChunkOffsets = true;
    int64_t OffsetShift = 0; // moves the chunk away from the media data
    Bytes Tail;              // after mdat
    bool Mdat = true;
    uint8_t HeaderVersion = 0;
    bool SecondTrack = false; // a copy of the track over the same chunk

    Bytes Build() const {
        Bytes ftyp =
            Ftyp ? Box("ftyp", Cat({Bytes{'M', '4', 'A', ' '}, U32(0), Bytes{'M', '4', 'A', ' '}}))
                 : Bytes{};
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

TEST(Atoms, CraftedFileIsRewrittenByteForByte) {
    // Version 1 headers, a version 1 sound entry with trailing bytes, esds, co64, urn, uuid,
    // free, an unparsed hdlr, udta/meta/ilst with an item and trailing bytes.
    Movie movie;
    movie.Co64 = true;
    movie.HeaderVersion = 1;
    movie.StsdEntries =
        Box("mp4a", Cat({Zeros(6), U16(1), U16(1), U16(0), U32(0), U16(2), U16(16), U16(0), U16(0),
                         U32(44100u << 16), U32(1024), U32(0), U32(4), U32(2),
                         Full("esds", 0, 0, Bytes{3, 25, 0, 1, 0}), Bytes{0, 0, 0, 0}}));
    const Bytes item = Box("\xA9nam", Box("data", Cat({U32(1), U32(0), Bytes{'h', 'i'}})));
    const Bytes meta = Full("meta", 0, 0,
                            Cat({Full("hdlr", 0, 0,
                                      Cat({U32(0), Bytes{'m', 'd', 'i', 'r'},
                                           Bytes{'a', 'p', 'p', 'l'}, Zeros(8), Bytes{0}})),
                                 Box("ilst", item)}));
    movie.MoovExtra = Cat({Box("udta", Cat({meta, Bytes{0, 0, 0, 0}}))});
    movie.Tail = Cat(
        {Box("free", Bytes(7, 0)),
         Box("uuid", Cat({Bytes(CUUIDAtom::UitsIdentifier.begin(), CUUIDAtom::UitsIdentifier.end()),
                          Bytes{1, 2, 3}}))});
    const Bytes file = movie.Build();
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
    const Bytes ftyp = Box("ftyp", Cat({Bytes{'M', '4', 'A', ' '}, U32(0)}));
    const Bytes good = Movie().Build(), moov = Movie().MoovFor(0);
    const Bytes uits =
        Box("uuid", Bytes(CUUIDAtom::UitsIdentifier.begin(), CUUIDAtom::UitsIdentifier.end()));
    const auto movie = [](auto change) {
        Movie m;
        change(m);
        return m.Build();
    };
    return {
        {"cut short", Cat({ftyp, U32(1000), Bytes{'m', 'o', 'o', 'v'}, Zeros(20)}), true,
         "Missing MOOV Atom"},
        {"size below header", Cat({ftyp, U32(4), Bytes{'f', 'r', 'e', 'e'}}), false,
         "invalid size"},
        {"64-bit size below header", Cat({ftyp, U32(1), Bytes{'f', 'r', 'e', 'e'}, U64(12)}), false,
         "invalid size"},
        {"child one byte larger than parent",
         Cat({ftyp, Box("moov", Cat({U32(9), Bytes{'f', 'r', 'e', 'e'}}))}), false,
         "larger than its parent"},
        // 32 levels are read; the 33rd is refused.
        {"nested to the limit", Cat({ftyp, Nested(32)}), true, "Missing MOOV Atom"},
        {"nested too deeply", Cat({ftyp, Nested(33)}), false, "nested too deeply"},
        {"table count beyond its atom",
         Cat({ftyp, Full("stsz", 0, 0, Cat({U32(0), U32(0x40000000), U32(5)}))}), false,
         "holds fewer entries"},
        {"reserved bytes set", Cat({ftyp, Full("smhd", 0, 0, Cat({U16(0), U16(1)}))}), false,
         "SkipZero error"},
        {"short uuid", Cat({ftyp, Box("uuid", Zeros(8))}), false,
         "uuid atom must have larger size"},
        {"two ftyp", Cat({ftyp, good}), true, "Too many FTYP atoms in file"},
        {"no ftyp", movie([](Movie& m) { m.Ftyp = false; }), true, "Missing FTYP Atom"},
        {"no moov", Cat({ftyp, Box("mdat", Zeros(4))}), true, "Missing MOOV Atom"},
        {"two moov", Cat({ftyp, moov, moov}), true, "Too many MOOV atoms in file"},
        {"two UITS", Cat({good, uits, uits}), true, "Too many UITS payload atoms in file"},
        {"fewer entries than counted", movie([](Movie& m) { m.StsdCount = 2; }), false,
         "CContainerAtom::ReadChildren didn't read the requested atoms"},
        {"no chunk offsets", movie([](Movie& m) { m.ChunkOffsets = false; }), true,
         "stbl atom has wrong number of stco or co64 atoms"},
        {"movie header inside a track", movie([](Movie& m) { m.TrakExtra = Mvhd(); }), true,
         "CMVHDAtom Parent is not moov: trak"},
        {"chunk one byte past the media data", movie([](Movie& m) { m.OffsetShift = 1; }), true,
         "lies outside the media data"},
        {"time table and sizes disagree", movie([](Movie& m) {
             m.Stts = Full("stts", 0, 0, Cat({U32(1), U32(3), U32(4096)}));
         }),
         true, "STTS describes"},
        {"chunk runs not starting at 1", movie([](Movie& m) {
             m.Stsc = Full("stsc", 0, 0, Cat({U32(1), U32(2), U32(2), U32(1)}));
         }),
         true, "STSC run 1"},
        {"sound and video entries", movie([](Movie& m) {
             m.StsdEntries = Cat({SoundEntry(), Box("avc1", Zeros(78))});
             m.StsdCount = 2;
         }),
         true, "STSD atom has too many content children of conflicting types"},
        // An atom that claims more than the file ends the reading; the media data behind it is
        // found by scanning and the chunk links to it.
        {"media data behind a cut atom", movie([](Movie& m) {
             m.Mdat = false;
             m.OffsetShift = 8;
             m.Tail = Cat({U32(0xFFFF), Bytes{'j', 'u', 'n', 'k'}, Box("mdat", Bytes(20, 1))});
         }),
         true, "", false},
        {"no media data", movie([](Movie& m) { m.Mdat = false; }), true, "Missing MDAT Atom",
         false},
        {"two movie headers", movie([](Movie& m) { m.MoovExtra = Mvhd(); }), true,
         "moov atom has wrong number of mvhd atoms"},
        {"two tracks over one chunk", movie([](Movie& m) { m.SecondTrack = true; }), true,
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
    EXPECT_EQ(zrtest::ReadFile(dir / "h"),
              Cat({U32(1), Bytes{'m', 'd', 'a', 't'}, U64(0x80000010)}));
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

} // namespace
