// The AIFF encoder: header bytes and final sizes, the odd-length pad.
// Round trips: LosslessRoundTripTest; refusals: RefusalTest.
#include "containers/AiffCreator.h"
#include "containers/AiffEncoder.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

using namespace zrtest;

namespace {

std::string Id(const std::vector<uint8_t>& file, size_t offset) {
    return std::string(file.begin() + offset, file.begin() + offset + 4);
}

TEST(AiffEncoder, SampleRateAsExtendedFloat) {
    struct Case {
        uint32_t Rate;
        std::vector<uint8_t> Bytes;
    };
    const Case cases[] = {
        {44100, {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}},
        {8000, {0x40, 0x0B, 0xFA, 0x00, 0, 0, 0, 0, 0, 0}},
        {1, {0x3F, 0xFF, 0x80, 0x00, 0, 0, 0, 0, 0, 0}}, // the smallest rate: exponent bias only
        {192000, {0x40, 0x10, 0xBB, 0x80, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const auto format = PcmFormat(1, c.Rate, 16);
        AIFFEncoder aiff(nullptr);
        ASSERT_EQ(Encode(aiff, dir / "a.aif", {&format, {}}).FailedStep(), "");
        const auto file = ReadFile(dir / "a.aif");
        ASSERT_EQ(file.size(), 54u);
        EXPECT_EQ(std::vector<uint8_t>(file.begin() + 28, file.begin() + 38), c.Bytes) << c.Rate;
    }
}

TEST(AiffEncoder, FinalSizesAndThePadByte) {
    struct Case {
        const char* Name;
        uint16_t Channels, Bits;
        size_t Frames;
        int64_t Expected; // -1: the real size
        bool Float;
    };
    const Case cases[] = {
        // 54 + 3 x 1001 is odd: a zero byte is appended that FORM counts and SSND does not.
        {"24-bit mono, odd sample count", 1, 24, 1001, 0, false},
        {"24-bit mono, even sample count", 1, 24, 1000, 0, false},
        {"8-bit mono, odd", 1, 8, 7, 0, false},
        {"no samples", 2, 16, 0, 0, false},
        {"expected size exact", 2, 16, 999, -1, false},
        {"expected size too large", 2, 24, 10, 1'000'000, false},
        {"8 channels of 32 bits", 8, 32, 17, -1, false},
        {"float, AIFF-C layout", 2, 32, 333, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        const auto format = PcmFormat(c.Channels, 44100, c.Bits,
                                      c.Float ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM);
        const auto pcm = MakePcm(Signal::Tone, c.Channels, 44100, c.Bits, c.Frames, 1, c.Float);
        const int64_t expected = c.Expected < 0 ? static_cast<int64_t>(pcm.size()) : c.Expected;
        AIFFEncoder aiff(nullptr);
        SetProperty(aiff, u"Add Output Extension", "0");
        SetProperty(aiff, u"Destination Filename", (dir / "a.aif").string());
        ASSERT_TRUE(aiff.StartBufferBased(&format, expected));
        const auto atStart = ReadFile(dir / "a.aif");
        auto block = pcm;
        if (!block.empty()) {
            ASSERT_TRUE(aiff.EncodeBuffer(block.data(), block.size()));
        }
        ASSERT_TRUE(aiff.FinishBufferBased());
        const auto file = ReadFile(dir / "a.aif");

        const size_t header = c.Float ? 92 : 54;
        const size_t frameOffset = c.Float ? 34 : 22;
        const size_t soundOffset = c.Float ? 80 : 42;
        const size_t unpadded = header + pcm.size();
        ASSERT_EQ(file.size(), unpadded + (unpadded & 1));
        if (unpadded & 1) {
            EXPECT_EQ(file.back(), 0);
        }
        EXPECT_EQ(Be32(&file[4]), file.size() - 8);
        EXPECT_EQ(Be32(&file[frameOffset]), c.Frames);
        EXPECT_EQ(Be32(&file[soundOffset]), pcm.size() + 8);
        EXPECT_EQ(Id(file, header - 16), "SSND");
        if (c.Float) {
            EXPECT_EQ(Id(file, 8) + Id(file, 12) + Id(file, 24) + Id(file, 50), "AIFCFVERCOMMfl32");
            EXPECT_EQ(Be32(&file[20]), 0xA2805140u);
        }

        // The header at start is derived from the expected size alone.
        ASSERT_EQ(atStart.size(), header);
        const uint64_t frameBytes = c.Channels * c.Bits / 8u;
        EXPECT_EQ(Be32(&atStart[4]), expected + header - 8);
        EXPECT_EQ(Be32(&atStart[frameOffset]), expected / frameBytes);
        EXPECT_EQ(Be32(&atStart[soundOffset]), expected + 8);
        if (c.Expected == -1 && !(unpadded & 1)) {
            EXPECT_TRUE(std::equal(atStart.begin(), atStart.end(), file.begin()))
                << "a right expected size needs no patch";
        }
    }
}

} // namespace
