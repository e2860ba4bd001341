// Input decoding: WAV files read directly deliver what the decoding libraries deliver for them
// (format, announced length, bytes, also converted), over a matrix of sample formats, layouts
// and header quirks; every other input still goes to the libraries.
#include "zrenc/InputDecoder.h"

#include "support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace zrtest;
using zrenc::InputDecoder;
using zrenc::PcmSpec;

// ---- Decoding a file to the end ----------------------------------------------------------

struct Delivery {
    bool opened = false;
    bool native = false;
    PcmSpec source;
    int64_t expectedFrames = 0;
    std::vector<uint8_t> bytes;
    std::string error;
};

Delivery Decode(const fs::path& path, bool allowNative, std::optional<PcmSpec> output = {},
                size_t targetBytes = size_t{1} << 17) {
    Delivery d;
    InputDecoder decoder;
    d.opened = decoder.Open(path.string(), allowNative);
    d.error = decoder.Error();
    if (!d.opened)
        return d;
    d.native = decoder.IsNative();
    d.source = decoder.Source();
    d.expectedFrames = decoder.ExpectedFrames();
    if (output)
        decoder.SetOutput(*output);
    std::vector<uint8_t> block;
    const size_t align = decoder.Output().BlockAlign();
    const size_t target = std::max<size_t>(1, targetBytes / align) * align;
    while (decoder.Read(block, target) && !block.empty()) {
        EXPECT_EQ(block.size() % align, 0u);
        d.bytes.insert(d.bytes.end(), block.begin(), block.end());
    }
    d.error = decoder.Error();
    return d;
}

std::string Describe(const PcmSpec& s) {
    return std::to_string(s.channels) + "ch " + std::to_string(s.rate) + " Hz " +
           std::to_string(s.bits) + (s.isFloat ? " float" : " int");
}

// The outputs compared: the source's own, another width and, for integers, float.
std::vector<PcmSpec> OutputsFor(const PcmSpec& s) {
    const uint16_t other = s.bits == 16 && !s.isFloat ? 24 : 16;
    std::vector<PcmSpec> outputs = {s, {s.channels, s.rate, other, false}};
    if (!s.isFloat)
        outputs.push_back({s.channels, s.rate, 32, true});
    return outputs;
}

// The direct reader takes the file and delivers what the libraries deliver, for every output.
// With a partial frame at the end, the libraries deliver every whole frame and then fail on the
// rest, where the direct reader ends cleanly: the libraries are read a frame at a time then, so
// that the failure loses no frame.
void ExpectSameAsLibraries(const fs::path& path, bool partialFrame = false,
                           size_t targetBytes = size_t{1} << 17) {
    const Delivery probe = Decode(path, true);
    ASSERT_TRUE(probe.opened) << probe.error;
    EXPECT_TRUE(probe.native) << "the file went to the libraries";
    for (const PcmSpec& output : OutputsFor(probe.source)) {
        SCOPED_TRACE("output " + Describe(output));
        const Delivery native = Decode(path, true, output, targetBytes);
        const Delivery libav = Decode(path, false, output, partialFrame ? 1 : targetBytes);
        ASSERT_TRUE(libav.opened) << libav.error;
        EXPECT_FALSE(libav.native);
        EXPECT_EQ(native.error, "");
        if (partialFrame) {
            EXPECT_EQ(libav.error, "decoding failed: Invalid data found when processing input");
        } else {
            EXPECT_EQ(libav.error, "");
        }
        EXPECT_EQ(Describe(native.source), Describe(libav.source));
        EXPECT_EQ(native.expectedFrames, libav.expectedFrames);
        EXPECT_EQ(native.bytes.size(), libav.bytes.size());
        EXPECT_TRUE(SamePcm(libav.bytes, native.bytes, output.bits / 8));
    }
}

fs::path Ffmpeg(const fs::path& out, const Shape& s, const std::vector<uint8_t>& pcm,
                const std::vector<std::string>& args) {
    const fs::path raw = out.string() + ".raw";
    WriteFile(raw, pcm);
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-y", "-f"};
    argv.insert(argv.end(), {RawFormatFor(s.bits, s.isFloat), "-ar", std::to_string(s.rate), "-ac",
                             std::to_string(s.channels), "-i", raw.string()});
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(out.string());
    const RunResult r = Run(argv);
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    fs::remove(raw);
    return out;
}

class InputDecoderTest : public ::testing::Test {
protected:
    fs::path Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        WriteFile(dir / name, bytes);
        return dir / name;
    }
    TempDir dir;
};

// ---- The matrix ---------------------------------------------------------------------------

// 3001 frames span several of the libraries' packets; 1 frame is the smallest file.
TEST_F(InputDecoderTest, SampleFormatsAndLayoutsMatchTheLibraries) {
    std::vector<std::pair<Shape, size_t>> all;
    for (const auto& [bits, isFloat] :
         {std::pair<uint16_t, bool>{8, false}, {16, false}, {24, false}, {32, false}, {32, true}})
        for (uint16_t channels : {1, 2, 3, 6, 8})
            for (bool extensible : {false, true})
                for (size_t frames : {1, 2, 1023, 1024, 1025, 3001, 48000})
                    all.push_back({{bits, isFloat, channels, extensible}, frames});
    for (const auto& [s, frames] : Pick(all, 24)) {
        SCOPED_TRACE(Describe({s.channels, s.rate, s.bits, s.isFloat}) +
                     (s.extensible ? " extensible " : " ") + std::to_string(frames));
        ExpectSameAsLibraries(Write("matrix.wav", Riff({Fmt(s), Data(Pcm(s, frames))})));
    }
}

TEST_F(InputDecoderTest, HeaderQuirksMatchTheLibraries) {
    const Shape stereo16{16, false, 2, false, 0, 44100};
    const Shape six24{24, false, 6, true, 0, 48000};
    const Shape valid20{24, false, 2, true, 20, 96000}; // 20 significant bits in 24
    const Shape mono8{8, false, 1, false, 0, 8000};
    const size_t frames = 3001;
    const std::vector<uint8_t> pcm16 = Pcm(stereo16, frames);
    const std::vector<uint8_t> pcm24 = Pcm(six24, frames);
    const std::vector<uint8_t> pcm8 = Pcm(mono8, frames); // an odd number of bytes
    const std::string infoText("INFOISFT\3\0\0\0zr\0\0", 16);
    const std::vector<uint8_t> info(infoText.begin(), infoText.end());
    auto cut = [](std::vector<uint8_t> bytes, size_t drop) {
        bytes.resize(bytes.size() - drop);
        return bytes;
    };
    auto le32 = [](uint32_t v) {
        std::vector<uint8_t> out;
        PutLe(out, v, 4);
        return out;
    };

    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        bool partialFrame = false;
    };
    // A plain record that gives the significant bits where the width belongs.
    auto narrowed = [](const Shape& s, uint16_t bits) {
        Piece fmt = Fmt(s);
        fmt.body[14] = static_cast<uint8_t>(bits);
        return fmt;
    };
    const Case cases[] = {
        {"20 of 24 bits", Riff({Fmt(valid20), Data(Pcm(valid20, frames))})},
        {"12 bits, plain record", Riff({narrowed(stereo16, 12), Data(pcm16)})},
        {"odd-sized chunk before fmt", Riff({{"junk", {1, 2, 3}, {}}, Fmt(stereo16), Data(pcm16)})},
        {"fmt after data", Riff({Data(pcm16), Fmt(stereo16)})},
        {"odd data size, then a chunk", Riff({Fmt(mono8), Data(pcm8), {"LIST", info, {}}})},
        {"data size 0xFFFFFFFF", Riff({Fmt(stereo16), Data(pcm16, 0xFFFFFFFF)})},
        // A streamed file with a chunk after the data: it is read as samples, as the libraries do.
        {"data size 0, a chunk after", Riff({Fmt(stereo16), Data(pcm16, 0), {"LIST", info, {}}})},
        {"partial frame in the data",
         Riff({Fmt(stereo16), Data(cut(Pcm(stereo16, frames + 1), 1))}), true},
        {"data longer than the file, partial frame", cut(Riff({Fmt(stereo16), Data(pcm16)}), 3),
         true},
        {"fact counting samples, file cut short",
         cut(Riff({Fmt(six24), {"fact", le32(frames * 6), {}}, Data(pcm24)}), 2001), true},
        {"fact that lies", Riff({Fmt(stereo16), {"fact", le32(17), {}}, Data(pcm16)})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectSameAsLibraries(Write("quirk.wav", c.file), c.partialFrame);
    }
}

// More channels than the libraries open (they stop at 512) are read directly all the same; the
// caller's block size does not change what is delivered, down to one frame at a time.
TEST_F(InputDecoderTest, ManyChannelsAndAnyBlockSize) {
    const Shape s{16, false, 1000, true, 0, 48000};
    const std::vector<uint8_t> pcm = Pcm(s, 50);
    const fs::path path = Write("many.wav", Riff({Fmt(s), Data(pcm)}));
    for (size_t target : {size_t{1}, size_t{2001}, size_t{4096}, size_t{1} << 20}) {
        SCOPED_TRACE(target);
        const Delivery d = Decode(path, true, {}, target);
        ASSERT_TRUE(d.opened) << d.error;
        EXPECT_TRUE(d.native);
        EXPECT_EQ(d.source.channels, 1000);
        EXPECT_EQ(d.expectedFrames, 50);
        EXPECT_EQ(d.bytes, pcm);
    }
}

// A file that shrinks after it was opened delivers the whole frames that remain.
TEST_F(InputDecoderTest, AFileThatShrinksEndsEarly) {
    const Shape s{16, false, 2, false, 0, 44100};
    const fs::path path = Write("shrinks.wav", Riff({Fmt(s), Data(Pcm(s, 100000))}));
    InputDecoder decoder;
    ASSERT_TRUE(decoder.Open(path.string()));
    ASSERT_TRUE(decoder.IsNative());
    fs::resize_file(path, 44 + 1000 * 4 + 3);
    std::vector<uint8_t> block;
    size_t total = 0;
    do {
        ASSERT_TRUE(decoder.Read(block, 4096)) << decoder.Error();
        total += block.size();
    } while (!block.empty());
    EXPECT_EQ(total, 1000u * 4);
}

// ---- Files written by ffmpeg --------------------------------------------------------------

// RF64 and 64-bit float WAV files are read directly. Everything else goes to the libraries: an
// A-law WAV file, a FLAC file opened by jobs on several threads at once (the libraries load
// once), and a compressed bitstream carried as PCM samples (IEC 61937, as on S/PDIF), which
// the libraries recognise and decode.
TEST_F(InputDecoderTest, FilesWrittenByFfmpeg) {
    if (!HaveProgram("ffmpeg"))
        GTEST_SKIP() << "needs ffmpeg";
    const Shape s{16, false, 2, false, 0, 48000}, f{32, true, 2};
    const std::vector<uint8_t> pcm = Pcm(s, 4000);
    ExpectSameAsLibraries(
        Ffmpeg(dir / "rf64.wav", s, pcm, {"-c:a", "pcm_s16le", "-rf64", "always"}));
    ExpectSameAsLibraries(Ffmpeg(dir / "f64.wav", f, Pcm(f, 5000), {"-c:a", "pcm_f64le"}));

    const fs::path flac = Ffmpeg(dir / "a.flac", s, pcm, {"-c:a", "flac"});
    std::vector<Delivery> results(4);
    std::vector<std::thread> threads;
    for (Delivery& result : results)
        threads.emplace_back([&] { result = Decode(flac, true); });
    for (std::thread& t : threads)
        t.join();
    results.push_back(Decode(Ffmpeg(dir / "alaw.wav", s, pcm, {"-c:a", "pcm_alaw"}), true));
    for (const Delivery& d : results) {
        EXPECT_FALSE(d.native);
        EXPECT_EQ(d.bytes.size(), pcm.size()) << d.error;
    }
    EXPECT_EQ(results[0].bytes, pcm);

    const fs::path burst =
        Ffmpeg(dir / "burst.spdif", s, Pcm(s, 48000), {"-c:a", "ac3", "-f", "spdif"});
    const fs::path wav = Write("burst.wav", Riff({Fmt(s), Data(ReadFile(burst))}));
    const Delivery direct = Decode(wav, true), libav = Decode(wav, false);
    ASSERT_TRUE(libav.opened) << libav.error;
    EXPECT_FALSE(direct.native);
    EXPECT_EQ(direct.bytes, libav.bytes);
}

// Inputs that are broken past what the libraries accept (garbage and cut headers are zrenc's
// end-to-end cases).
TEST_F(InputDecoderTest, UnreadableInputsFailWithAReason) {
    const Shape s{16, false, 2, false, 0, 44100};
    std::vector<uint8_t> rifx = Riff({Fmt(s), Data(Pcm(s, 100))}); // big-endian: not supported
    std::copy_n("RIFX", 4, rifx.begin());
    const std::pair<const char*, std::vector<uint8_t>> cases[] = {
        {"wav without data", Riff({Fmt(s)})},
        {"wav without fmt", Riff({Data(Pcm(s, 100))})},
        {"big-endian riff", rifx},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        const Delivery d = Decode(Write("bad file.wav", bytes), true);
        EXPECT_FALSE(d.opened && !d.bytes.empty());
        EXPECT_TRUE(d.opened || !d.error.empty());
    }
    EXPECT_CONTAINS(Decode(dir / "missing.wav", true).error, "No such file");
}

} // namespace
