// The AIFF encoder: header bytes and final sizes, the odd-length pad, the rate as an extended
// float.
// Round trips: LosslessRoundTripTest; refusals: RefusalTest.
#include "containers/AiffCreator.h"
#include "containers/AiffEncoder.h"
#include "support/TestSupport.h"

#include <algorithm>

using namespace zrtest;

namespace {

std::string Id(const std::vector<uint8_t>& file, size_t offset) {
    return std::string(file.begin() + offset, file.begin() + offset + 4);
}

TEST(AiffEncoder, FinalSizesAndThePadByte) {
    struct Case {
        const char* Name;
        uint16_t Channels, Bits;
        size_t Frames;
        int64_t Expected; // -1: the real size
        bool Float;
        uint32_t Rate = 44100;
        uint32_t RateHead = 0x400EAC44; // the first 4 of the rate's 10 bytes of extended float
    };
    const Case cases[] = {
        // 54 + 3 x 1001 is odd: a zero byte is appended that FORM counts and SSND does not.
        {"24-bit mono, odd sample count", 1, 24, 1001, 0, false},
        {"24-bit mono, even sample count", 1, 24, 1000, 0, false, 8000, 0x400BFA00},
        {"8-bit mono, odd", 1, 8, 7, 0, false},
        // The smallest rate: the exponent's bias only.
        {"no samples", 2, 16, 0, 0, false, 1, 0x3FFF8000},
        {"expected size exact", 2, 16, 999, -1, false},
        {"expected size too large", 2, 24, 10, 1'000'000, false, 192000, 0x4010BB80},
        {"8 channels of 32 bits", 8, 32, 17, -1, false},
        {"float, AIFF-C layout", 2, 32, 333, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        const auto format = PcmFormat(c.Channels, c.Rate, c.Bits,
                                      c.Float ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM);
        const auto pcm = MakePcm(Signal::Tone, c.Channels, c.Rate, c.Bits, c.Frames, 1, c.Float);
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
        EXPECT_EQ(Be32(&file[frameOffset + 6]), c.RateHead);
        EXPECT_EQ(Be32(&file[frameOffset + 10]) | Be16(&file[frameOffset + 14]), 0u);
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
