// The Musepack and Ogg Vorbis encoders: their command lines, whole files made by zrenc with
// the real programs and decoded by ffmpeg, the programs' limits, and programs that fail.
#include "external/MpcEncoder.h"
#include "external/OggEncoder.h"
#include "frame/ZrEncoderFactory.h"
#include "support/TestSupport.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

using namespace zrtest;

namespace {

struct LineCase {
    EncoderCreator Create;
    const char* Settings;
    const char* Line; // for the program "P" and the destination "D"
    int32_t Kbps;
};

const LineCase LineCases[] = {
    {CreateMpcEncoder, "", "\"P\" --standard --silent - \"D\"", 163},
    {CreateMpcEncoder, "Quality=0", "\"P\" --thumb --silent - \"D\"", 72},
    {CreateMpcEncoder, "Quality=1", "\"P\" --radio --silent - \"D\"", 132},
    {CreateMpcEncoder, "Quality=3", "\"P\" --xtreme --silent - \"D\"", 190},
    {CreateMpcEncoder, "Quality=4", "\"P\" --insane --silent - \"D\"", 220},
    // A quality outside the table is the default row, for both encoders.
    {CreateMpcEncoder, "Quality=5", "\"P\" --standard --silent - \"D\"", 163},
    {CreateMpcEncoder, "Quality=-1", "\"P\" --standard --silent - \"D\"", 163},
    // A custom line goes in as stored; the estimate is the top row's, whatever it says.
    {CreateMpcEncoder, "Mode=1|Command Line=", "\"P\"  --silent - \"D\"", 220},
    {CreateMpcEncoder, "Mode=1|Quality=0|Command Line=--quality 4 -Q -r",
     "\"P\" --quality 4 -Q -r --silent - \"D\"", 220},
    {CreateOggEncoder, "", "\"P\" -Q -q 5 - -o \"D\"", 192},
    {CreateOggEncoder, "Quality=0", "\"P\" -Q -q 1 - -o \"D\"", 128},
    {CreateOggEncoder, "Quality=1", "\"P\" -Q -q 3 - -o \"D\"", 160},
    {CreateOggEncoder, "Quality=3", "\"P\" -Q -q 7 - -o \"D\"", 256},
    {CreateOggEncoder, "Quality=4", "\"P\" -Q -q 10 - -o \"D\"", 320},
    {CreateOggEncoder, "Quality=9", "\"P\" -Q -q 5 - -o \"D\"", 192},
    {CreateOggEncoder, "Mode=1", "\"P\" -Q -q 4.99 - -o \"D\"", 320},
    {CreateOggEncoder, "Mode=1|Command Line=-q 4.99 -r", "\"P\" -Q -q 4.99 - -o \"D\"", 320},
    {CreateOggEncoder, "Mode=1|Command Line=-q 6 -Q -r", "\"P\" -Q -q 6 - -o \"D\"", 320},
    // Only a blank and the exact switch are removed.
    {CreateOggEncoder, "Mode=1|Command Line=-r -q 6 -R -Qx", "\"P\" -Q -r -q 6 -Rx - -o \"D\"",
     320},
};

TEST(OggMpc, CommandLinesAndEstimates) {
    for (const LineCase& c : LineCases) {
        SCOPED_TRACE(c.Settings);
        std::unique_ptr<IZrEncoder> encoder(c.Create(nullptr));
        ASSERT_TRUE(SetProperty(*encoder, u"Settings", c.Settings));
        SetProperty(*encoder, u"Add Output Extension", "0");
        SetProperty(*encoder, u"Destination Filename", "D");
        auto& preset = dynamic_cast<CPresetPipeEncoder&>(*encoder);
        EXPECT_EQ(preset.CommandLineFor(u"P").ToUtf8(), c.Line);
        EXPECT_EQ(Property(*encoder, u"Estimated Bitrate"), std::to_string(c.Kbps));
    }
    // A destination is passed unchanged, quoted.
    COggEncoder ogg(nullptr);
    SetProperty(ogg, u"Destination Filename", "/tmp/Ünï cödé/ß");
    EXPECT_EQ(ogg.CommandLineFor(u"/usr/bin/oggenc").ToUtf8(),
              "\"/usr/bin/oggenc\" -Q -q 5 - -o \"/tmp/Ünï cödé/ß.ogg\"");
    EXPECT_EQ(CMpcEncoder::MissingProgramText(u"/opt/mpc tools/mpcenc").ToUtf8(),
              "Can't find mpcenc file. Please copy it to this folder:\r\n/opt/mpc tools");
}

// --- Whole files through zrenc ----------------------------------------------------------------

struct FileCase {
    const char* Encoder; // zrenc's short name, also the extension
    uint16_t Channels;
    uint16_t Bits;
    uint32_t Rate;
    const char* Settings;
    size_t Frames;
};

std::vector<FileCase> FileCases() {
    const char* qualities[] = {"Quality=0", "Quality=1", "Quality=2", "Quality=3", "Quality=4"};
    std::vector<FileCase> cases;
    if (Exhaustive()) {
        for (const char* encoder : {"mpc", "ogg"})
            for (uint16_t channels : {1, 2})
                for (uint16_t bits : {16, 24})
                    for (uint32_t rate : {44100u, 48000u}) {
                        for (const char* quality : qualities)
                            cases.push_back({encoder, channels, bits, rate, quality, rate / 2});
                        cases.push_back({encoder, channels, bits, rate, "", rate});
                    }
    } else {
        // Every row once, and every shape somewhere.
        for (const char* encoder : {"mpc", "ogg"})
            for (int row = 0; row < 5; ++row)
                cases.push_back({encoder, static_cast<uint16_t>(1 + row % 2),
                                 static_cast<uint16_t>(row / 2 % 2 ? 24 : 16),
                                 row % 3 ? 44100u : 48000u, qualities[row], 22050});
    }
    // The custom lines ask for a quality of their own; the Ogg Vorbis one also asks for raw
    // input, which would read the header as samples and lengthen the file.
    cases.push_back({"mpc", 2, 24, 44100, "Mode=1|Command Line=--quality 6.5", 22050});
    cases.push_back({"ogg", 2, 24, 48000, "Mode=1|Command Line=-q 2.5 -r", 22050});
    for (const char* encoder : {"mpc", "ogg"})
        for (size_t frames : {0, 1})
            cases.push_back({encoder, 2, 16, 44100, "", frames});
    return cases;
}

// Encodes one file through zrenc; false when zrenc failed.
bool EncodeWithZrenc(const TempDir& dir, const std::string& encoder, const std::string& settings,
                     const fs::path& input, const fs::path& output) {
    std::vector<std::string> args{"-e", encoder, "-q", "-f", "-o", output.string()};
    if (!settings.empty())
        args.insert(args.end(), {"-s", settings});
    args.push_back(input.string());
    const RunResult r = RunZrencAt(dir.Path(), args);
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    return r.ExitCode == 0;
}

struct Decoded {
    std::string Shape; // "channels@rate"
    std::vector<int32_t> Samples;
};

// ffmpeg's decode as a WAV file, whose header gives the channels and the rate.
Decoded DecodeToWav(const TempDir& dir, const fs::path& file) {
    const fs::path wav = dir / "decoded.wav";
    const RunResult r = Run({"ffmpeg", "-nostdin", "-v", "quiet", "-y", "-i", file.string(), "-c:a",
                             "pcm_s16le", wav.string()});
    const std::vector<uint8_t> bytes = ReadFile(wav);
    if (r.ExitCode != 0 || bytes.size() < 44) {
        ADD_FAILURE() << "ffmpeg could not decode " << file << ":\n" << r.Output;
        return {};
    }
    return {std::to_string(Le16(&bytes[22])) + "@" + std::to_string(Le32(&bytes[24])),
            Samples(WavData(bytes), 16)};
}

// The decoded length: Ogg Vorbis files carry it exactly in their last granule position, which
// ffprobe reports; ffmpeg's Musepack decoder puts out whole frames of 1152 samples, up to two
// more than the audio needs.
void ExpectLength(const FileCase& c, const fs::path& output, size_t decodedFrames) {
    if (std::string(c.Encoder) == "ogg") {
        if (c.Frames > 0)
            EXPECT_EQ(ProbeAudioStream(output)["duration_ts"], std::to_string(c.Frames));
        else
            EXPECT_EQ(decodedFrames, 0u);
        return;
    }
    EXPECT_GE(decodedFrames, c.Frames);
    EXPECT_LE(decodedFrames, c.Frames + 2 * 1152);
    EXPECT_EQ(decodedFrames % 1152, 0u);
}

TEST(OggMpc, FilesDecodeToTheirToneAndLength) {
    TempDir dir;
    for (const FileCase& c : FileCases()) {
        SCOPED_TRACE(std::string(c.Encoder) + " " + std::to_string(c.Channels) + " ch " +
                     std::to_string(c.Bits) + " bit " + std::to_string(c.Rate) + " Hz " +
                     std::to_string(c.Frames) + " frames \"" + c.Settings + "\"");
        const WAVEFORMATEX format = PcmFormat(c.Channels, c.Rate, c.Bits);
        WriteWav(dir / "in.wav", format,
                 MakePcm(Signal::Tone, c.Channels, c.Rate, c.Bits, c.Frames));
        const fs::path output = dir / (std::string("out.") + c.Encoder);
        // zrenc refuses an input without audio; a host that sends none still gets a file.
        const bool encoded =
            c.Frames > 0
                ? EncodeWithZrenc(dir, c.Encoder, c.Settings, dir / "in.wav", output)
                : Encode(std::string(c.Encoder) == "ogg" ? CreateOggEncoder : CreateMpcEncoder,
                         output, {&format})
                      .Ok();
        ASSERT_TRUE(encoded);
        const Decoded decoded = DecodeToWav(dir, output);
        EXPECT_EQ(decoded.Shape, std::to_string(c.Channels) + "@" + std::to_string(c.Rate));
        ExpectLength(c, output, decoded.Samples.size() / c.Channels);
        if (c.Frames < c.Rate / 10)
            continue;
        for (unsigned channel = 0; channel < c.Channels; ++channel)
            EXPECT_GT(ToneEnergyShare(decoded.Samples, c.Channels, channel, c.Rate,
                                      440.0 + 110 * channel),
                      0.9)
                << "channel " << channel;
    }
}

// The program takes WAV order and writes Vorbis order (front left, centre, front right, rear
// left, rear right, LFE); ffmpeg gives WAV order back. Tones in the centre and the rear left,
// whose places differ between the two, must come back where they were.
TEST(OggMpc, SurroundChannelsKeepTheirSpeakers) {
    TempDir dir;
    const uint32_t rate = 44100;
    const size_t frames = rate / 2;
    const std::vector<uint8_t> tones = MakePcm(Signal::Tone, 3, rate, 16, frames); // 440, 550, 660
    std::vector<uint8_t> surround(frames * 6 * 2, 0);
    for (size_t f = 0; f < frames; ++f)
        for (auto [from, to] : {std::pair{0, 2}, std::pair{2, 4}})
            std::copy_n(&tones[(f * 3 + from) * 2], 2, &surround[(f * 6 + to) * 2]);
    WriteWav(dir / "in.wav", PcmFormat(6, rate, 16), surround);
    ASSERT_TRUE(EncodeWithZrenc(dir, "ogg", "", dir / "in.wav", dir / "out.ogg"));
    EXPECT_EQ(ProbeAudioStream(dir / "out.ogg")["channel_layout"], "5.1");
    const std::vector<int32_t> decoded = Samples(DecodeWithFfmpeg(dir / "out.ogg", "s16le"), 16);
    EXPECT_GT(ToneEnergyShare(decoded, 6, 2, rate, 440), 0.9);
    EXPECT_GT(ToneEnergyShare(decoded, 6, 4, rate, 660), 0.9);
    for (unsigned silent : {0, 1, 3, 5}) {
        double energy = 0;
        for (size_t i = silent; i < decoded.size(); i += 6)
            energy += double(decoded[i]) * decoded[i];
        EXPECT_LT(std::sqrt(energy / frames), 30) << "channel " << silent;
    }
}

// --- Limits and failing programs -------------------------------------------------------------

// Stand-ins for both programs, first on PATH while the object lives. Each notes that it ran,
// writes a partial file to its destination and ends after taking a little of its input.
class FakePrograms {
public:
    FakePrograms() : m_oldPath(std::getenv("PATH") ? std::getenv("PATH") : "") {
        for (const char* name : {"mpcenc", "oggenc"}) {
            const std::string script = "#!/bin/sh\ntouch '" + Marker().string() +
                                       "'\nfor last; do :; done\necho partial > \"$last\"\n"
                                       "head -c 70000 >/dev/null\nexit 1\n";
            WriteFile(m_dir / name, script.data(), script.size());
            fs::permissions(m_dir / name, fs::perms::owner_all);
        }
        ::setenv("PATH", (m_dir.Path().string() + ":" + m_oldPath).c_str(), 1);
    }
    ~FakePrograms() { ::setenv("PATH", m_oldPath.c_str(), 1); }
    fs::path Marker() const { return m_dir / "ran"; }

private:
    TempDir m_dir;
    std::string m_oldPath;
};

TEST(OggMpc, ProgramLimitsAreRefusedBeforeItStarts) {
    const WAVEFORMATEXTENSIBLE lfeTrio =
        ExtensibleFormat(3, 44100, 16, 16, 0xB, KSDATAFORMAT_SUBTYPE_PCM);
    const WAVEFORMATEX stereo = PcmFormat(2, 44100, 16);
    const struct {
        EncoderCreator Create;
        WAVEFORMATEX Format;
        const char* Destination;
        const char* Reason;
    } cases[] = {
        {CreateMpcEncoder, PcmFormat(2, 22050, 16), "x.mpc",
         "the sample rates 32000, 37800, 44100 and 48000 Hz only; the source has 22050 Hz"},
        {CreateMpcEncoder, PcmFormat(3, 44100, 16), "x.mpc", "1 or 2 channels only"},
        {CreateMpcEncoder, PcmFormat(2, 44100, 32, WAVE_FORMAT_IEEE_FLOAT), "x.mpc",
         "integer PCM of 8 to 32 bits only"},
        {CreateMpcEncoder, stereo, "x.wav", "only files named *.mpc, *.mp+ or *.mpp"},
        {CreateOggEncoder, PcmFormat(2, 44100, 32), "x.ogg", "8, 16 or 24 bits only"},
        {CreateOggEncoder, PcmFormat(2, 384000, 16), "x.ogg", "up to 200000 Hz"},
        {CreateOggEncoder, lfeTrio.Format, "x.ogg",
         "3 channels only in the order front left, front right, centre"},
        {CreateOggEncoder, stereo, "x\".ogg", "quotation mark"},
    };
    TempDir dir;
    FakePrograms fakes;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Reason);
        const WAVEFORMATEX* format =
            c.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE ? &lfeTrio.Format : &c.Format;
        const EncodeResult r = Encode(c.Create, dir / c.Destination, {format});
        EXPECT_FALSE(r.Started);
        EXPECT_CONTAINS(r.LastError, c.Reason);
        EXPECT_FALSE(fs::exists(fakes.Marker()));
        EXPECT_FALSE(fs::exists(dir / c.Destination));
    }
}

TEST(OggMpc, AProgramThatDiesFailsTheFileWithinASecond) {
    TempDir dir;
    FakePrograms fakes;
    const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    const std::vector<uint8_t> pcm(8 << 20);
    const std::pair<EncoderCreator, const char*> jobs[] = {{CreateMpcEncoder, "x.mpc"},
                                                           {CreateOggEncoder, "x.ogg"}};
    for (auto [create, name] : jobs) {
        SCOPED_TRACE(name);
        const auto start = std::chrono::steady_clock::now();
        const EncodeResult r = Encode(create, dir / name, {&format, pcm});
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        EXPECT_TRUE(r.Started);
        EXPECT_EQ(r.FailedStep(), "encode");
        EXPECT_CONTAINS(r.LastError, "ended before it had taken all the audio");
        EXPECT_FALSE(fs::exists(dir / name)); // the partial file is gone
    }
}

TEST(OggMpc, AMissingProgramIsNamedInTheList) {
    TempDir dir, emptyPath;
    const RunResult r = RunZrencAt(dir.Path(), {"--list"}, {"PATH=" + emptyPath.Path().string()});
    for (auto [encoder, program] : {std::pair{"ogg: ", "oggenc"}, {"mpc: ", "mpcenc"}}) {
        bool named = false;
        for (const std::string& line : Lines(r.Output))
            named |= line.starts_with(encoder) && line.find(program) != std::string::npos;
        EXPECT_TRUE(named) << program << " in:\n" << r.Output;
    }
}

} // namespace
