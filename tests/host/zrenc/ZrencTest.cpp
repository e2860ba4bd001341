// zrenc end to end: the built program on generated inputs, each test in a settings home of
// its own, outputs checked with independent decoders.
#include "support/TestSupport.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

namespace {

using namespace zrtest;

// Whether the dynamic loader's report (LD_DEBUG=files) names one of the decoding libraries.
bool LoadedDecodingLibraries(const std::string& report) {
    return report.find("file=libav") != std::string::npos ||
           report.find("/libav") != std::string::npos;
}

class ZrencTest : public ::testing::Test {
protected:
    RunResult Zrenc(const std::vector<std::string>& args,
                    const std::vector<std::string>& env = {}) {
        return RunZrencAt(dir.Path(), args, env);
    }
    std::string In(const std::string& name) { return (dir / name).string(); }

    TempDir dir;
};

// Several inputs per run; every name of an encoder (index, display name, short name, in any
// case) and every number of jobs gives the same bytes, which decode back to the input.
TEST_F(ZrencTest, EncodesEveryInputAndDecodesBackIdentically) {
    struct Input {
        const char* name;
        Shape shape;
        size_t frames;
        bool toFlac; // a depth FLAC keeps
    };
    const Input inputs[] = {
        {"m8", {8, false, 1}, 4095, false},
        {"s16", {16, false, 2}, 4096, true},
        {"m16", {16, false, 1}, 5073, true},
        {"s24", {24, false, 2}, 7001, true},
        {"s32", {32, false, 2}, 3000, false},
        {"f32", {32, true, 2}, 3000, false},
        {"c8", {16, false, 8, false, 0, 48000}, 9000, true},
    };
    std::map<std::string, std::vector<uint8_t>> pcm;
    std::vector<std::string> all, flacInputs;
    for (const Input& i : inputs) {
        pcm[i.name] = MakeWav(In(std::string(i.name) + ".wav"), i.shape, i.frames, i.frames);
        all.push_back(In(std::string(i.name) + ".wav"));
        if (i.toFlac)
            flacInputs.push_back(all.back());
    }
    auto encode = [&](std::vector<std::string> args, const std::vector<std::string>& files,
                      std::vector<std::string> env = {}) {
        args.insert(args.end(), files.begin(), files.end());
        const RunResult r = Zrenc(args, env);
        EXPECT_EQ(r.ExitCode, 0) << r.Output;
        return r.Output;
    };

    // The WAV encoder writes each source back in its own depth; -d makes the folder on the way.
    encode({"-e", "uncompressed WAVE", "-d", In("wav/deeper")}, all);
    for (const Input& i : inputs) {
        SCOPED_TRACE(i.name);
        const fs::path out = dir / "wav/deeper" / (std::string(i.name) + ".wav");
        const std::vector<uint8_t> bytes = ReadFile(out);
        ASSERT_GE(bytes.size(), 44u);
        // More than two channels take the extensible record, which names their speakers.
        EXPECT_EQ(Le16(&bytes[20]), i.shape.channels > 2 ? 0xFFFE : i.shape.isFloat ? 3 : 1);
        EXPECT_EQ(Le16(&bytes[22]), i.shape.channels);
        EXPECT_EQ(Le16(&bytes[34]), i.shape.bits);
        EXPECT_TRUE(SamePcm(pcm[i.name], WavData(out), i.shape.bits / 8));
    }

    EXPECT_EQ(encode({"-e", "6", "-j", "1", "-d", In("j1")}, flacInputs), "")
        << "not a terminal: nothing but errors";
    encode({"-e", "flac", "-j", "4", "-d", In("j4")}, flacInputs);
    // A WAV input needs no decoding library.
    const std::string report =
        encode({"-e", "9", "-d", In("aiff")}, {flacInputs.front()}, {"LD_DEBUG=files"});
    EXPECT_CONTAINS(report, "file=") << "no loader report";
    EXPECT_FALSE(LoadedDecodingLibraries(report)) << report;
    ASSERT_EQ(FilesIn(dir / "j1").size(), flacInputs.size());
    for (const Input& i : inputs) {
        if (!i.toFlac)
            continue;
        SCOPED_TRACE(i.name);
        const std::string flac = std::string(i.name) + ".flac";
        EXPECT_TRUE(SamePcm(pcm[i.name],
                            DecodeWithFfmpeg(dir / "j1" / flac, RawFormatFor(i.shape.bits)),
                            i.shape.bits / 8));
        EXPECT_EQ(ReadFile(dir / "j1" / flac), ReadFile(dir / "j4" / flac));
    }
    EXPECT_TRUE(SamePcm(pcm["s16"], DecodeWithFfmpeg(dir / "aiff/s16.aif", "s16le"), 2));
    for (const std::string& name : FilesIn(dir.Path()))
        EXPECT_EQ(name.find(".zrenc-"), std::string::npos) << "left behind: " << name;
}

TEST_F(ZrencTest, RefusesToOverwriteUnlessForcedAndNeverTheInput) {
    MakeWav(In("a.wav"));
    WriteFile(dir / "a.flac", "keep", 4);
    RunResult r = Zrenc({"-e", "flac", In("a.wav")});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_CONTAINS(r.Output, "exists (-f replaces it)");
    EXPECT_EQ(ReadFile(dir / "a.flac").size(), 4u);

    // Beside the input when neither -o nor -d is given.
    r = Zrenc({"-e", "flac", "-f", In("a.wav")});
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_GT(ReadFile(dir / "a.flac").size(), 4u);

    // Not even -f replaces a device or a folder; an output folder must exist.
    fs::create_directories(dir / "folder.flac");
    const std::pair<std::string, const char*> refusals[] = {
        {"/dev/full", "is not a regular file"},
        {In("folder.flac"), "is not a regular file"},
        {In("no/such/folder/a.flac"), "does not exist"},
        {In("a.flac/below.flac"), "a.flac/below.flac"}};
    for (const auto& [output, says] : refusals) {
        r = Zrenc({"-e", "flac", "-f", "-o", output, In("a.wav")});
        EXPECT_EQ(r.ExitCode, 1);
        EXPECT_CONTAINS(r.Output, says);
    }

    const std::vector<uint8_t> input = ReadFile(dir / "a.wav");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-e", "wav", "-f", In("a.wav")},
          std::vector<std::string>{"-e", "flac", "-f", "-o", In("a.wav"), In("a.wav")}}) {
        r = Zrenc(args);
        EXPECT_EQ(r.ExitCode, 1);
        EXPECT_CONTAINS(r.Output, "would replace the input");
        EXPECT_EQ(ReadFile(dir / "a.wav"), input);
    }
    EXPECT_EQ(FilesIn(dir / "tmp"), std::vector<std::string>{});
}

// One run over bad inputs, inputs past the encoder's limits and a good one: each refused input is
// named with its reason in words a user can act on, the good one is encoded, the run fails, and
// nothing else is left.
TEST_F(ZrencTest, BadInputsFailReadablyAndLeaveNothing) {
    MakeWav(In("good.wav"));
    std::vector<uint8_t> truncated = ReadFile(dir / "good.wav");
    truncated.resize(30);
    WriteFile(dir / "truncated.wav", truncated);
    std::vector<uint8_t> noise(5000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<uint8_t>(i * 7919 % 251);
    WriteFile(dir / "noise.wav", noise);
    WriteFile(dir / "empty.flac", "", 0);
    fs::create_directories(dir / "folder.wav");
    // No samples at all: one refusal for every encoder, rather than files some readers reject.
    WriteFile(dir / "zero.wav", Riff({Fmt({}), Data({})}));
    MakeWav(In("nine.wav"), {16, false, 9}, 441);
    MakeWav(In("fast.wav"), {16, false, 2, false, 0, 1100000}, 441);

    const std::pair<const char*, const char*> cases[] = {
        {"zero.wav", "the file holds no audio"},
        {"missing.wav", "No such file or directory"},
        {"truncated.wav", "cannot decode"},
        {"noise.wav", "cannot decode"},
        {"empty.flac", "cannot decode"},
        {"folder.wav", "not a regular file"},
        {"nine.wav", "FLAC takes 1 to 8 channels; this file has 9"},
        {"fast.wav", "FLAC takes sample rates up to 1048575 Hz"},
    };
    std::vector<std::string> args = {"-e", "flac", "-d", In("out")};
    for (const auto& [input, says] : cases)
        args.push_back(In(input));
    args.push_back(In("good.wav"));
    const RunResult r = Zrenc(args);
    EXPECT_EQ(r.ExitCode, 1);
    const std::vector<std::string> lines = Lines(r.Output);
    for (const auto& [input, says] : cases) {
        const auto line = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.starts_with("zrenc: error:") && l.find(In(input)) != std::string::npos;
        });
        ASSERT_NE(line, lines.end()) << input << "\n" << r.Output;
        EXPECT_CONTAINS(*line, "[FLAC Encoder]");
        EXPECT_CONTAINS(*line, says);
    }
    EXPECT_EQ(FilesIn(dir / "out"), std::vector<std::string>{"good.flac"});
    EXPECT_EQ(FilesIn(dir / "tmp"), std::vector<std::string>{});
}

// A tone per channel (440 Hz, 550 Hz, ...) comes back from the speaker of the same name, or
// the encoder says why its format cannot name those speakers or hold that many channels.
TEST_F(ZrencTest, ChannelLayoutsKeepTheirSpeakers) {
    struct Layout {
        const char* name; // as ffprobe names it
        uint32_t mask;
        uint16_t channels;
    };
    const Layout layouts[] = {{"5.1", 0x3F, 6}, {"5.1(side)", 0x60F, 6}, {"7.1", 0x63F, 8}};
    struct Case {
        const char* encoder;
        const char* extension;
        const char* refusal[3]; // per layout; nullptr where it is kept
    };
    const char* alac = "Apple Lossless has one layout for";
    const char* ape = "Monkey's Audio takes 1 or 2 channels; this file has ";
    const Case cases[] = {
        {"wav", "wav", {}},
        {"flac", "flac", {}},
        {"wavpack", "wv", {}},
        {"alac", "m4a", {nullptr, alac, alac}},
        {"dsd",
         "dsf",
         {nullptr, "DSF has no layout for these 6 speakers",
          "DSF files hold 1 to 6 channels; this input has 8"}},
        {"ape", "ape", {ape, ape, ape}},
    };
    const uint32_t rate = 48000;
    std::vector<std::string> inputs;
    for (const Layout& l : layouts) {
        const Shape shape{16, false, l.channels, true, 0, rate, l.mask};
        const auto tones = MakePcm(Signal::Tone, l.channels, rate, 16, rate / 4);
        WriteFile(In(std::string("in") + l.name + ".wav"), Riff({Fmt(shape), Data(tones)}));
        inputs.push_back(In(std::string("in") + l.name + ".wav"));
    }
    for (const Case& c : cases) {
        std::vector<std::string> args = {"-q", "-e", c.encoder, "-d", In(c.encoder)};
        args.insert(args.end(), inputs.begin(), inputs.end());
        const RunResult r = Zrenc(args);
        for (size_t i = 0; i < std::size(layouts); ++i) {
            const Layout& l = layouts[i];
            SCOPED_TRACE(std::string(c.encoder) + " " + l.name);
            const fs::path out = dir / c.encoder / (std::string("in") + l.name + "." + c.extension);
            if (c.refusal[i]) {
                EXPECT_CONTAINS(r.Output,
                                c.refusal[i] +
                                    (c.refusal[i] == ape ? std::to_string(l.channels) : ""));
                EXPECT_FALSE(fs::exists(out));
                continue;
            }
            EXPECT_EQ(ProbeAudioStream(out)["channel_layout"], l.name) << r.Output;
            const std::vector<int32_t> decoded =
                Samples(DecodeWithFfmpeg(out, "s32le", {}, {"-ar", std::to_string(rate)}), 32);
            for (unsigned ch = 0; ch < l.channels; ++ch)
                EXPECT_NEAR(DominantFrequency(decoded, l.channels, ch, rate), 440.0 + 110 * ch, 2.0)
                    << "channel " << ch;
        }
        EXPECT_EQ(FilesIn(dir / c.encoder).size(),
                  std::count(std::begin(c.refusal), std::end(c.refusal), nullptr))
            << "left behind";
    }
}

// PCM -> DSD -> PCM: the DSD source comes back at 88.2 kHz with its tones at their level.
TEST_F(ZrencTest, DsdSourcesBecomePcmAtTheStatedLevel) {
    WriteWav(dir / "in.wav", PcmFormat(2, 44100, 16), MakePcm(Signal::Tone, 2, 44100, 16, 11025));
    RunResult r = Zrenc({"-q", "-e", "dsd", In("in.wav")});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    r = Zrenc({"-q", "-e", "flac", In("in.dsf")});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_EQ(ProbeAudioStream(dir / "in.flac")["sample_rate"], "88200");
    const std::vector<int32_t> pcm = Samples(DecodeWithFfmpeg(dir / "in.flac", "s32le"), 32);
    EXPECT_NEAR(static_cast<double>(pcm.size() / 2), 22050, 64);
    for (unsigned c = 0; c < 2; ++c) {
        EXPECT_NEAR(DominantFrequency(pcm, 2, c, 88200), 440.0 + 110 * c, 2.0);
        // -6 dBFS in, -6 dBFS out: RMS of the middle half against a half-scale sine's.
        double sum = 0;
        size_t n = 0;
        for (size_t f = pcm.size() / 8; f < pcm.size() * 3 / 8; ++f, ++n)
            sum += std::pow(pcm[f * 2 + c] / 2147483648.0, 2);
        EXPECT_NEAR(10 * std::log10(sum / n / 0.125), 0.0, 0.5) << "channel " << c;
    }
}

// Sources wider than an encoder takes, or float, are converted and encoded (silently with -q);
// a WAV file cut short encodes what is there and says so, even with -q.
TEST_F(ZrencTest, InputsConvertOrWarn) {
    MakeWav(In("f32.wav"), {32, true, 2}, 4410);
    MakeWav(In("s32.wav"), {32, false, 2}, 4410);
    // A -6 dBFS tone made 12 dB too loud.
    std::vector<uint8_t> tone = MakePcm(Signal::Tone, 2, 44100, 32, 4410, 1, true);
    for (size_t i = 0; i < tone.size(); i += 4) {
        float x;
        std::memcpy(&x, &tone[i], 4);
        x *= 4;
        std::memcpy(&tone[i], &x, 4);
    }
    WriteWav(dir / "loud.wav", PcmFormat(2, 44100, 32, WAVE_FORMAT_IEEE_FLOAT), tone);
    MakeWav(In("full.wav"), {}, 4410);
    WriteFile(dir / "cut.wav", ReadFile(dir / "full.wav").data(), 44 + 1000 * 4);
    const std::tuple<const char*, const char*, std::string> cases[] = {
        {"flac", "f32.wav", ""},
        {"ape", "s32.wav", ""},
        {"flac", "cut.wav", "the file ends early: 1000 of 4410 samples per channel"},
        {"alac", "loud.wav", "32-bit float -> 24-bit, peak 6.0 dBFS, "},
    };
    for (const auto& [encoder, input, says] : cases) {
        SCOPED_TRACE(std::string(encoder) + " " + input);
        const RunResult r = Zrenc({"-q", "-e", encoder, "-f", "-d", In("out"), In(input)});
        EXPECT_EQ(r.ExitCode, 0) << r.Output;
        EXPECT_EQ(r.Output.empty(), says.empty()) << r.Output;
        EXPECT_CONTAINS(r.Output, says);
    }
}

// Integer samples in containers wider than their valid bits are integers: zrenc's FLAC of each
// file holds what the flac program reads from the same file. The other way, the flac program's
// FLAC (20 bits: 32-bit samples from the decoder) travels in whole bytes (24-bit containers);
// inputs other than WAV load the decoding libraries.
TEST_F(ZrencTest, ValidBitsNarrowerThanTheirContainerAreIntegers) {
    if (!HaveProgram("flac"))
        GTEST_SKIP() << "no flac program";
    for (const Shape& s : {Shape{32, false, 2, true, 24}, Shape{24, false, 2, true, 20},
                           Shape{16, false, 1, true, 12}}) {
        SCOPED_TRACE(std::to_string(s.validBits) + " in " + std::to_string(s.bits));
        std::vector<uint8_t> pcm = Pcm(s, 8000, 5);
        const size_t width = s.bits / 8;
        const uint32_t mask = ~((uint32_t{1} << (s.bits - s.validBits)) - 1);
        for (size_t i = 0; i < pcm.size(); i += width) // the padding bits are zero
            pcm[i] &= static_cast<uint8_t>(mask);
        WriteFile(dir / "in.wav", Riff({Fmt(s), Data(pcm)}));
        RunResult r = Zrenc({"-e", "flac", "-f", "-o", In("zrenc.flac"), In("in.wav")});
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        r = zrtest::Run({"flac", "-s", "-f", "-o", In("flac.flac"), In("in.wav")});
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        const std::vector<uint8_t> expected = DecodeWithFlac(dir / "flac.flac");
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(DecodeWithFlac(dir / "zrenc.flac"), expected);

        r = Zrenc({"-e", "wav", "-f", "-o", In("out.wav"), In("flac.flac")}, {"LD_DEBUG=files"});
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        EXPECT_TRUE(LoadedDecodingLibraries(r.Output)) << r.Output;
        const std::vector<uint8_t> out = ReadFile(dir / "out.wav");
        ASSERT_GE(out.size(), 44u);
        EXPECT_EQ(Le16(&out[34]), (s.validBits + 7) / 8 * 8);
        EXPECT_TRUE(SamePcm(expected, WavData(dir / "out.wav"), (s.validBits + 7) / 8));
    }
}

// Names are bytes: names a shell would take apart, Latin-1 names and names near the 255-byte
// limit travel byte-exact to every encoder's output; temporary files of a killed zrenc are swept,
// another zrenc's are not; -f over a hybrid WavPack output leaves no stale correction file.
TEST_F(ZrencTest, NamesAreBytesEndToEnd) {
    const std::string latin1 = "caf\xE9 \xE0 l'\xE9t\xE9";
    const std::string longStem(246, 'n');
    struct Case {
        const char* encoder;
        std::string stem, folder, extension;
    };
    const Case cases[] = {
        {"flac", "a b 'q' \"dq\" $HOME ;ls é ünï", "out $x ;y é", "flac"},
        {"flac", latin1, "out \xFF", "flac"},
        {"wavpack", latin1, "w\xE9", "wv"},
        {"wav", longStem, "long", "wav"},
        {"ape", longStem + "\xE9", "long \xE9", "ape"},
        {"wav", "not UTF-8 \xff\xfe", "§ $(echo) `x`", "wav"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.encoder) + " " + c.folder);
        const std::vector<uint8_t> pcm = MakeWav(In(c.stem + ".wav"), {}, 4410);
        const RunResult r = Zrenc({"-e", c.encoder, "-d", In(c.folder), In(c.stem + ".wav")});
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        const fs::path out = dir / c.folder / (c.stem + "." + c.extension);
        EXPECT_EQ(FilesIn(dir / c.folder), std::vector<std::string>{out.filename().string()});
        EXPECT_TRUE(SamePcm(pcm, DecodeWithFfmpeg(out, "s16le"), 2));
    }

    // A finished zrenc's leftovers go; a running one's (a process named zrenc) stay.
    const pid_t dead = ::fork();
    if (dead == 0)
        ::_exit(0);
    ::waitpid(dead, nullptr, 0);
    fs::create_symlink("/bin/sleep", dir / "zrenc");
    char* const sleepArgs[] = {const_cast<char*>("zrenc"), const_cast<char*>("30"), nullptr};
    pid_t running = 0;
    ASSERT_EQ(::posix_spawn(&running, In("zrenc").c_str(), nullptr, nullptr, sleepArgs, environ),
              0);
    fs::create_directories(dir / "swept");
    const std::string deadName = ".a.zrenc-" + std::to_string(dead) + "-0badf00d";
    const std::string liveName = ".b.zrenc-" + std::to_string(running) + "-0badf00d.flac";
    for (const std::string& name : {deadName + ".wv", deadName + ".wvc", liveName})
        WriteFile(dir / "swept" / name, "x", 1);
    MakeWav(In("c.wav"), {}, 441);
    const RunResult r = Zrenc({"-e", "flac", "-d", In("swept"), In("c.wav")});
    ::kill(running, SIGKILL);
    ::waitpid(running, nullptr, 0);
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_EQ(FilesIn(dir / "swept"), (std::vector<std::string>{liveName, "c.flac"}));

    // -f over a hybrid output with its correction file, by a plain lossless one.
    MakeWav(In("h.wav"), {}, 4410);
    ASSERT_EQ(
        Zrenc({"-e", "wavpack", "-s", "Compression Type=Hybrid", "-d", In("hybrid"), In("h.wav")})
            .ExitCode,
        0);
    EXPECT_EQ(FilesIn(dir / "hybrid"), (std::vector<std::string>{"h.wv", "h.wvc"}));
    EXPECT_EQ(Zrenc({"-e", "wavpack", "-f", "-d", In("hybrid"), In("h.wav")}).ExitCode, 0);
    EXPECT_EQ(FilesIn(dir / "hybrid"), std::vector<std::string>{"h.wv"});
}

// Past 4 GiB a WAV output is RF64 and reads back whole; AIFF refuses before it starts. A sparse
// input of silence; the output is written in full, so only in the exhaustive set.
TEST_F(ZrencTest, OutputsPastFourGibibytesAreWholeOrRefused) {
    if (!Exhaustive())
        GTEST_SKIP() << "writes 4.5 GiB; ZR_EXHAUSTIVE=1";
    const Shape s{16, false, 2};
    const uint64_t dataBytes = (uint64_t{9} << 29) / 4 * 4; // 4.5 GiB
    WriteFile(dir / "big.wav", Riff({Fmt(s), Data({}, 0xFFFFFFFF)}));
    fs::resize_file(dir / "big.wav", fs::file_size(dir / "big.wav") + dataBytes);

    RunResult r = Zrenc({"-e", "aiff", "-d", In("out"), In("big.wav")});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_CONTAINS(r.Output, "4 GiB");
    EXPECT_EQ(FilesIn(dir / "out"), std::vector<std::string>{});

    r = Zrenc({"-e", "wav", "-d", In("out"), In("big.wav")});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    const fs::path out = dir / "out" / "big.wav";
    std::vector<uint8_t> header(80);
    {
        std::ifstream file(out, std::ios::binary);
        file.read(reinterpret_cast<char*>(header.data()), 80);
    }
    EXPECT_EQ(std::string(header.begin(), header.begin() + 4), "RF64");
    EXPECT_EQ(Le64(&header[28]), dataBytes);
    EXPECT_EQ(fs::file_size(out), dataBytes + 80);
    r = zrtest::Run({"ffprobe", "-v", "error", "-show_entries", "stream=duration_ts", "-of",
                     "csv=p=0", out.string()});
    EXPECT_EQ(r.Output, std::to_string(dataBytes / 4) + "\n");
    fs::remove(out);
}

// A disk that fills up during the run (a file size limit stands in for it): the run fails with
// the reason and leaves nothing, neither under the final name nor as a temporary file.
TEST_F(ZrencTest, AFullDiskFailsAndLeavesNothing) {
    MakeWav(In("a.wav"), {}, 44100 * 8);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 64 << 10;
    std::signal(SIGXFSZ, SIG_IGN); // inherited: writes past the limit fail with EFBIG instead
    const std::string tooLarge = "File too large";
    // The programs start with the default action of SIGXFSZ, which ends them.
    const std::pair<const char*, std::string> cases[] = {
        {"wav", tooLarge},
        {"flac", tooLarge},
        {"wavpack", tooLarge},
        {"ape", tooLarge},
        {"alac", tooLarge},
        {"aiff", tooLarge},
        {"dsd", tooLarge},
        {"wma", tooLarge},
        {"mp3", "The encoder program ended before it had read all the audio"},
        {"ogg", "oggenc ended before it had taken all the audio (it was killed"},
        {"mpc", "mpcenc ended before it had taken all the audio (it was killed"},
    };
    for (const auto& [encoder, says] : cases) {
        SCOPED_TRACE(encoder);
        fs::create_directories(dir / "tmp");
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        const RunResult r = Zrenc({"-e", encoder, "-d", In("out"), In("a.wav")});
        ::setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_EQ(r.ExitCode, 1);
        EXPECT_CONTAINS(r.Output, says);
        if (says == tooLarge) {
            EXPECT_CONTAINS(r.Output, In("out")) << "the file or folder is named";
        }
        EXPECT_EQ(r.Output.find(".zrenc-"), std::string::npos) << "by its final name";
        EXPECT_EQ(r.Output.find('?'), std::string::npos) << "on one line";
        EXPECT_EQ(FilesIn(dir / "out"), std::vector<std::string>{});
        EXPECT_EQ(FilesIn(dir / "tmp"), std::vector<std::string>{});
    }
    std::signal(SIGXFSZ, SIG_DFL);
}

TEST_F(ZrencTest, ListsTheTwelveEncodersAndNamesUsageErrors) {
    const RunResult list = Zrenc({"--list"});
    ASSERT_EQ(list.ExitCode, 0) << list.Output;
    int rows = 0;
    for (const std::string& line : Lines(list.Output)) {
        const size_t first = line.find_first_not_of(' ');
        rows += first != std::string::npos && std::isdigit(static_cast<unsigned char>(line[first]));
        if (line.find(" wav ") != std::string::npos) {
            EXPECT_TRUE(line.ends_with("yes")) << line; // always available
        }
    }
    EXPECT_EQ(rows, 12) << list.Output;
    MakeWav(In("a.wav"));
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--bogus"},
                                                 {"-e", "nonesuch", In("a.wav")},
                                                 {"-e", "12", In("a.wav")}}) {
        const RunResult r = Zrenc(args);
        EXPECT_EQ(r.ExitCode, 2) << r.Output;
        EXPECT_CONTAINS(r.Output, "zrenc: ");
    }
    EXPECT_TRUE(Zrenc({"--version"}).Output.starts_with("zrenc "));
}

} // namespace
