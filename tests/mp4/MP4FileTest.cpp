// The M4A written for one audio track, byte by byte where the layout is fixed, with packets of
// made-up content; and the file replacement underneath the rewrite.
#include "mp4/MP4File.h"

#include "foundation/ZrSafeReplaceFile.h"
#include "mp4/BasicAtoms.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;
using zrtest::Be32;

// A box whose type occurs once in the file, found in the raw bytes; "alac" occurs twice, the
// sample entry and then its configuration.
struct Box {
    size_t Offset;
    uint32_t Size;
    size_t Payload() const { return Offset + 8; }
};
std::optional<Box> FindBox(const Bytes& f, const char* type, int nth = 1) {
    auto at = f.begin();
    for (int i = 0; i < nth && at != f.end(); ++i)
        at = std::search(i ? at + 4 : at, f.end(), type, type + 4);
    if (at - f.begin() < 4 || at == f.end())
        return std::nullopt;
    const size_t offset = static_cast<size_t>(at - f.begin()) - 4;
    return Box{offset, Be32(&f[offset])};
}

// ---- the writer ----------------------------------------------------------------------------

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
    const std::vector<Packet> withEmpty = {{100, 4096}, {0, 4096}, {100, 4096}};
    struct Case {
        const char* Name;
        std::vector<Packet> Packets;
        std::vector<uint32_t> Stts, Stsc; // count, then entries
        uint32_t CommonSize;              // 0: a table
        std::vector<uint32_t> ChunkFirstPacket;
    };
    const Case cases[] = {
        {"fewer than five packets: one chunk",
         Repeat(3, {100, 4096}),
         {1, 3, 4096},
         {1, 1, 3, 1},
         100,
         {0}},
        {"twelve packets: chunks of 5, 5 and 2",
         Repeat(12, {100, 4096}),
         {1, 12, 4096},
         {2, 1, 5, 1, 3, 2, 1},
         100,
         {0, 5, 10}},
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

        // Chunk offsets are absolute: the first is ftyp + moov + the mdat header.
        const auto moov = FindBox(f, "moov"), mdat = FindBox(f, "mdat");
        ASSERT_TRUE(mdat);
        EXPECT_EQ(mdat->Offset, 32 + moov->Size);
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
            fs::permissions(destination,
                            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        }
        if (c.DestinationIsFolder)
            fs::create_directory(destination);
        const bool ok = ZrFileSystem::SafeReplaceFile(zrtest::U(destination),
                                                      zrtest::U(replacement), c.MinimumSize);
        EXPECT_EQ(ok, c.Replaced);
        EXPECT_FALSE(fs::exists(replacement)); // moved or deleted, never left behind
        EXPECT_EQ(CountFiles(dir.Path()), c.DestinationExists || c.DestinationIsFolder || ok);
        if (c.Replaced) {
            EXPECT_EQ(zrtest::ReadFile(destination), (Bytes{1, 2, 3}));
        } else if (c.DestinationExists) {
            EXPECT_EQ(zrtest::ReadFile(destination), Bytes{9});
        }
        if (c.Replaced && c.DestinationExists) {
            EXPECT_EQ(fs::status(destination).permissions() & fs::perms::all,
                      fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
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

} // namespace
