#include "containers/AiffCreator.h"

#include "foundation/ZrByteOrder.h"

#include <algorithm>
#include <cstring>

using namespace zrbytes;

namespace {

// AIFF-C version chunk timestamp: the one version of the format there is.
constexpr uint32_t AifcVersion1 = 0xA2805140;

// "COMM" extension of AIFF-C: compression type and its name as a Pascal string of even length.
constexpr char FloatName32[] = "32-bit floating point";
constexpr char FloatName64[] = "64-bit floating point";
static_assert(sizeof FloatName32 - 1 == 21 && sizeof FloatName64 - 1 == 21);

} // namespace

ZrAiffHeader ZrAiffHeader::For(bool floatSamples) {
    // AIFF: FORM(12) COMM(8+18) SSND(8+8). AIFF-C adds FVER(12) and 4 + 22 bytes to COMM.
    if (floatSamples)
        return ZrAiffHeader{92, 34, 80};
    return ZrAiffHeader{54, 22, 42};
}

void ZrAiffHeader::EncodeRate(uint32_t rate, uint8_t out[10]) {
    uint32_t exponent = 16383;
    for (uint32_t r = rate; r > 1; r >>= 1)
        ++exponent;
    uint32_t mantissa = rate;
    while (mantissa && !(mantissa & 0x80000000u))
        mantissa <<= 1;
    StoreBE16(out, exponent);
    StoreBE32(out + 2, mantissa);
    std::memset(out + 6, 0, 4);
}

void ZrAiffHeader::Build(const ZrAudioFormat& format, uint64_t expectedBytes, int32_t frameSize,
                         uint8_t out[MaxSize]) const {
    const bool isFloat = Size != 54;
    uint8_t* p = out;
    auto id = [&](const char* fourcc) {
        std::memcpy(p, fourcc, 4);
        p += 4;
    };
    auto u32 = [&](uint64_t v) {
        StoreBE32(p, static_cast<uint32_t>(v));
        p += 4;
    };
    auto u16 = [&](uint32_t v) {
        StoreBE16(p, v);
        p += 2;
    };

    id("FORM");
    u32(expectedBytes + Size - 8);
    id(isFloat ? "AIFC" : "AIFF");
    if (isFloat) {
        id("FVER");
        u32(4);
        u32(AifcVersion1);
    }
    id("COMM");
    u32(isFloat ? 18 + 4 + 22 : 18);
    u16(format.Channels);
    u32(expectedBytes / static_cast<uint64_t>(frameSize));
    u16(format.BitsPerSample);
    EncodeRate(format.SamplesPerSec, p);
    p += 10;
    if (isFloat) {
        const bool wide = format.BitsPerSample == 64;
        id(wide ? "fl64" : "fl32");
        *p++ = 21;
        std::memcpy(p, wide ? FloatName64 : FloatName32, 21);
        p += 21;
    }
    id("SSND");
    u32(expectedBytes + 8);
    u32(0); // offset
    u32(0); // block size
}

AIFFCreator::~AIFFCreator() {
    Finish();
}

ZrString AIFFCreator::Refusal(const ZrAudioFormat& plain) {
    if (!plain.IsPcmOrFloat())
        return {};
    if (plain.Channels == 0 || plain.BitsPerSample < 8)
        return u"AIFF needs at least one channel of at least 8 bits";
    if (plain.SamplesPerSec == 0)
        return u"AIFF needs a sample rate above 0 Hz";
    if (plain.IsIntegerPcm() && plain.BitsPerSample > 32)
        return ZrString::Format("AIFF cannot hold %u-bit integer samples",
                                static_cast<unsigned>(plain.BitsPerSample));
    return {};
}

int AIFFCreator::Start(const ZrString& fileName, const ZrAudioFormat& format,
                       int64_t expectedBytes) {
    if (IsOpen)
        Finish();
    const uint64_t expected = static_cast<uint64_t>(std::max<int64_t>(expectedBytes, 0));

    ZrAudioFormat plain = format;
    plain.MakePlain();
    FrameSize = static_cast<int32_t>(plain.Channels * uint32_t{plain.BitsPerSample} / 8u);
    if (const ZrString refusal = Refusal(plain); !refusal.IsEmpty()) {
        Fail(refusal);
        return -1;
    }
    // AIFF has no 64-bit form: a file that cannot fit its 32-bit sizes is refused before it is
    // started rather than written with sizes that wrap.
    const ZrAiffHeader layout = ZrAiffHeader::For(plain.IsIeeeFloat());
    m_tooLarge = WriteHeader && expected + layout.Size + 1 > PlainFileLimit;
    if (m_tooLarge) {
        Fail(ZrString::Format("AIFF files end at 4 GiB; this one would hold %llu bytes of "
                              "samples (choose WAV, which switches to RF64, or a smaller input)",
                              static_cast<unsigned long long>(expected)));
        return -1;
    }
    if (!OpenOutput(fileName, format))
        return -1;

    m_layout = layout;
    if (WriteHeader) {
        uint8_t header[ZrAiffHeader::MaxSize];
        m_layout.Build(Format, expected, FrameSize, header);
        if (!WriteBlock(header, m_layout.Size)) {
            CloseOutput();
            return -1;
        }
    }
    IsOpen = true;
    return 0;
}

int AIFFCreator::Write(uint8_t* data, uint64_t length) {
    // The write that would carry the file past its 32-bit sizes (pad byte included) fails it.
    if (IsOpen && WriteHeader && m_layout.Size + BytesWritten + length + 1 > PlainFileLimit) {
        Fail(ZrString::Format("Cannot write to \"%s\": AIFF files end at 4 GiB",
                              File.Path().ToUtf8().c_str()));
        return -1;
    }
    if (IsOpen && data && BigEndian) {
        if (Format.BitsPerSample == 8) {
            // The host delivers 8-bit samples unsigned (the WAV convention).
            for (uint64_t i = 0; i < length; ++i)
                data[i] ^= 0x80;
        } else if (Format.BitsPerSample == 32 || Format.BitsPerSample == 64) {
            ReverseGroups(data, length, Format.BitsPerSample / 8u);
        }
    }
    return CWAVCreator::Write(data, length);
}

int AIFFCreator::Finish() {
    if (!IsOpen)
        return 0;
    if (WriteHeader) {
        const int64_t length = File.Size();
        if (length >= static_cast<int64_t>(m_layout.Size)) {
            const uint32_t l = static_cast<uint32_t>(length);
            uint32_t formEnd = l;
            // Chunks are padded to an even length; the pad counts for FORM but not for SSND.
            if (l & 1u) {
                const uint8_t zero = 0;
                if (File.WriteAt(&zero, 1, static_cast<uint64_t>(length)) == 1)
                    formEnd = l + 1;
            }
            uint8_t field[4];
            StoreBE32(field, formEnd - 8);
            bool patched = PatchField(4, field);
            StoreBE32(field,
                      static_cast<uint32_t>(BytesWritten / static_cast<uint64_t>(FrameSize)));
            patched = patched && PatchField(m_layout.FramesOffset, field);
            StoreBE32(field, l - static_cast<uint32_t>(m_layout.Size - 8));
            patched = patched && PatchField(m_layout.SoundSizeOffset, field);
            return CloseFinished(patched);
        }
    }
    return CloseFinished(true);
}
