// The Musepack and Ogg Vorbis encoders: their command lines, whole files made by zrenc with
// the real programs and decoded by ffmpeg, the programs' limits, and programs that fail.
#include "external/MpcEncoder.h"
#include "external/OggEncoder.h"
#include "frame/ZrEncoderFactory.h"
#include "support/TestSupport.h"

#include <chrono>
#include <cmath>
#include <memory>

using namespace zrtest;

namespace {

// For the program "P" and the destination "D".
const struct {
    EncoderCreator Create;
    const char* Settings;
    const char* Line;
    int Kbps;
} LineCases[] = {
    {CreateMpcEncoder, "", "\"P\" --standard --silent - \"D\"", 163},
    {CreateMpcEncoder, "Quality=4", "\"P\" --insane --silent - \"D\"", 220},
    // A quality outside the table is the default row, for both encoders.
    {CreateMpcEncoder, "Quality=-1", "\"P\" --standard --silent - \"D\"", 163},
    {CreateOggEncoder, "Quality=9", "\"P\" -Q -q 5 - -o \"D\"", 192},
    // A custom line goes in as stored and estimates the top row, whatever it says.
    {CreateMpcEncoder, "Mode=1|Command Line=", "\"P\"  --silent - \"D\"", 220},
    {CreateOggEncoder, "Quality=3", "\"P\" -Q -q 7 - -o \"D\"", 256},
    {CreateOggEncoder, "Quality=4", "\"P\" -Q -q 10 - -o \"D\"", 320},
    {CreateOggEncoder, "Mode=1|Command Line=-q 4.99 -r", "\"P\" -Q -q 4.99 - -o \"D\"", 320},
    {CreateOggEncoder, "Mode=1|Command Line=-q 6 -Q -r", "\"P\" -Q -q 6 - -o \"D\"", 320},
    // Only a blank and the exact switch are removed.
    {CreateOggEncoder, "Mode=1|Command Line=-r -q 6 -R -Qx", "\"P\" -Q -r -q 6 -Rx - -o \"D\"",
     320},
};

TEST(OggMpc, CommandLinesAndEstimates) {
    for (const auto& c : LineCases) {
        SCOPED_TRACE(c.Settings);
        std::unique_ptr<IZrEncoder> encoder(c.Create(nullptr));
        ASSERT_TRUE(SetProperty(*encoder, u"Settings", c.Settings));
        SetProperty(*encoder, u"Add Output Extension", "0");
        SetProperty(*encoder, u"Destination Filename", "D");
        EXPECT_EQ(dynamic_cast<CPresetPipeEncoder&>(*encoder).CommandLineFor(u"P").ToUtf8(),
                  c.Line);
        EXPECT_EQ(Property(*encoder, u"Estimated Bitrate"), std::to_string(c.Kbps));
    }
    COggEncoder ogg(nullptr);
    SetProperty(ogg, u"Destination Filename", "/tmp/Ünï cödé/ß");
    EXPECT_EQ(ogg.CommandLineFor(u"/usr/bin/oggenc").ToUtf8(),
              "\"/usr/bin/oggenc\" -Q -q 5 - -o \"/tmp/Ünï cödé/ß.ogg\"");
    EXPECT_EQ(CMpcEncoder::MissingProgramText(u"/opt/mpc tools/mpcenc").ToUtf8(),
              "Can't find mpcenc file. Please copy it to this folder:\r\n/opt/mpc tools");
}

// --- Whole files through zrenc ----------------------------------------------------------------

struct FileCase {
    std::string Encoder; // zrenc's short name, also the extension
    uint16_t Channels;
    uint16_t Bits;
    uint32_t Rate;
    std::string Settings;
    size_t Frames;
    bool Float = false; // zrenc converts it: the programs read integers only
};

// Every shape with every quality row and a custom line; the fast run takes every 7th, which
// still meets each row and the custom line of both encoders. Then the shortest inputs.
std::vector<FileCase> FileCases() {
    // The Ogg Vorbis line also asks for raw input, which would read the header as samples.
    const std::string custom[] = {"Mode=1|Command Line=--quality 6.5",
                                  "Mode=1|Command Line=-q 2.5 -r"};
    std::vector<FileCase> all;
    for (int ogg : {0, 1})
        for (uint16_t channels : {1, 2})
            for (uint16_t bits : {16, 24})
                for (uint32_t rate : {44100u, 48000u})
                    for (int row = 0; row <= 5; ++row)
                        all.push_back({ogg ? "ogg" : "mpc", channels, bits, rate,
                                       row < 5 ? "Quality=" + std::to_string(row) : custom[ogg],
                                       rate / 2});
    std::vector<FileCase> cases = Pick(all, 7);
    for (const char* encoder : {"mpc", "ogg"})
        for (size_t frames : {0, 1})
            cases.push_back({encoder, 2, 16, 44100, "", frames});
    for (const char* encoder : {"mpc", "ogg"})
        cases.push_back({encoder, 2, 32, 48000, "", 24000, true});
    return cases;
}

void EncodeWithZrenc(const TempDir& dir, const std::string& encoder, const std::string& settings,
                     const fs::path& input, const fs::path& output) {
    const RunResult r = RunZrencAt(dir.Path(), {"-e", encoder, "-q", "-f", "-s", settings, "-o",
                                                output.string(), input.string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
}

// ffmpeg's decode as a WAV file: "channels@rate" from its header, and the samples.
std::pair<std::string, std::vector<int32_t>> DecodeToWav(const TempDir& dir, const fs::path& file) {
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

TEST(OggMpc, FilesDecodeToTheirToneAndLength) {
    TempDir dir;
    for (const FileCase& c : FileCases()) {
        SCOPED_TRACE(testing::Message() << c.Encoder << " " << c.Channels << " ch " << c.Bits
                                        << " bit" << (c.Float ? " float " : " ") << c.Rate << " Hz "
                                        << c.Frames << " frames \"" << c.Settings << "\"");
        const bool ogg = c.Encoder == "ogg";
        const WAVEFORMATEX format = PcmFormat(c.Channels, c.Rate, c.Bits,
                                              c.Float ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM);
        const std::vector<uint8_t> pcm =
            MakePcm(Signal::Tone, c.Channels, c.Rate, c.Bits, c.Frames, 1, c.Float);
        WriteWav(dir / "in.wav", format, pcm);
        const fs::path out = dir / ("out." + c.Encoder);
        // The shortest inputs go to the encoder directly: zrenc refuses one without audio.
        if (c.Frames > 1) {
            ASSERT_NO_FATAL_FAILURE(
                EncodeWithZrenc(dir, c.Encoder, c.Settings, dir / "in.wav", out));
        } else {
            ASSERT_TRUE(
                Encode(ogg ? CreateOggEncoder : CreateMpcEncoder, out, {&format, pcm}).Ok());
        }
        const auto [shape, decoded] = DecodeToWav(dir, out);
        EXPECT_EQ(shape, std::to_string(c.Channels) + "@" + std::to_string(c.Rate));
        // An Ogg Vorbis file's length is exact in its last granule position, which ffprobe
        // reports; ffmpeg's Musepack decoder gives whole frames of 1152, up to two more than
        // the audio fills.
        const size_t frames = decoded.size() / c.Channels;
        if (ogg && c.Frames > 0)
            EXPECT_EQ(ProbeAudioStream(out)["duration_ts"], std::to_string(c.Frames));
        else if (ogg)
            EXPECT_EQ(frames, 0u);
        else
            EXPECT_TRUE(frames >= c.Frames && frames <= c.Frames + 2304 && frames % 1152 == 0)
                << frames;
        for (unsigned channel = 0; c.Frames >= c.Rate / 10 && channel < c.Channels; ++channel)
            EXPECT_NEAR(DominantFrequency(decoded, c.Channels, channel, c.Rate),
                        440.0 + 110 * channel, 2.0)
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
    ASSERT_NO_FATAL_FAILURE(EncodeWithZrenc(dir, "ogg", "", dir / "in.wav", dir / "out.ogg"));
    EXPECT_EQ(ProbeAudioStream(dir / "out.ogg")["channel_layout"], "5.1");
    const std::vector<int32_t> decoded = DecodeToWav(dir, dir / "out.ogg").second;
    EXPECT_NEAR(DominantFrequency(decoded, 6, 2, rate), 440, 2.0);
    EXPECT_NEAR(DominantFrequency(decoded, 6, 4, rate), 660, 2.0);
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
    FakePrograms() {
        for (const char* name : {"mpcenc", "oggenc"})
            WriteScript(m_dir / name, "touch '" + Marker().string() +
                                          "'\nfor last; do :; done\necho partial > \"$last\"\n"
                                          "head -c 70000 >/dev/null\ndate +%s%N > '" +
                                          (m_dir / "ended").string() + "'\nexit 1");
    }
    fs::path Marker() const { return m_dir / "ran"; }
    // mpcenc as it is on a full disk: it takes everything, writes a file cut short and ends
    // with success.
    void MpcencCutsShort() const {
        WriteScript(m_dir / "mpcenc", "for last; do :; done\ncat >/dev/null\n"
                                      "printf 'MPCK' > \"$last\"\nexit 0");
    }
    // When the last of them ended, on the system clock.
    std::chrono::system_clock::time_point Ended() const {
        return std::chrono::system_clock::time_point(
            std::chrono::nanoseconds(std::stoll(ReadText(m_dir / "ended"))));
    }

private:
    TempDir m_dir;
    PathPrefix m_path{m_dir.Path()};
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
        const bool extensible = c.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE;
        const EncodeResult r =
            Encode(c.Create, dir / c.Destination, {extensible ? &lfeTrio.Format : &c.Format});
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
        const EncodeResult r = Encode(create, dir / name, {&format, pcm});
        EXPECT_LT(std::chrono::system_clock::now() - fakes.Ended(), std::chrono::seconds(1));
        EXPECT_EQ(r.FailedStep(), "encode");
        EXPECT_CONTAINS(r.LastError, "ended before it had taken all the audio (exit code 1)");
        EXPECT_FALSE(fs::exists(dir / name)); // the partial file is gone
    }
    fakes.MpcencCutsShort();
    const EncodeResult r = Encode(CreateMpcEncoder, dir / "x.mpc", {&format, pcm});
    EXPECT_EQ(r.FailedStep(), "finish");
    EXPECT_CONTAINS(r.LastError, "mpcenc did not finish " + (dir / "x.mpc").string() +
                                     ": the file is cut short");
    EXPECT_FALSE(fs::exists(dir / "x.mpc"));
}

// Without the programs on PATH the list names each one and where to get it.
TEST(ZrencList, NamesWhatEachProgramBasedEncoderNeeds) {
    TempDir dir, emptyPath;
    const RunResult r = RunZrencAt(dir.Path(), {"--list"}, {"PATH=" + emptyPath.Path().string()});
    for (const char* line :
         {" required ",
          "\nogg: OGG Encoder needs the program oggenc: install the Debian package vorbis-tools\n",
          "\nmp3: MP3 Encoder needs the program lame: install the Debian package lame, or set a "
          "download address\n",
          "\nexternal: must be configured first (zrenc --set)\n",
          "\nmpc: MPC Encoder needs the program mpcenc: install the Debian package "
          "musepack-tools\n"})
        EXPECT_CONTAINS(r.Output, line);
}

} // namespace
