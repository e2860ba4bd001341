// Formats and destinations each encoder refuses at the start, with the reason it gives ("" where
// the host's own message is meant to stand) and what it leaves at the destination; a disk that
// fills up in the middle of the stream.
#include "frame/ZrEncoderFactory.h"
#include "support/TestSupport.h"

#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace zrtest;

// `want`: the exact reason; "~text": a reason that contains text ("~": any reason); "*": not
// looked at.
bool ReasonMatches(const std::string& reason, const std::string& want) {
    if (want.starts_with("~"))
        return !reason.empty() && reason.find(want.substr(1)) != std::string::npos;
    return want == "*" || reason == want;
}

enum class Left { Nothing, EmptyFile, File };
enum class Where { Temp, Proc, MissingFolder, Folder, ReadOnly, FullDevice };

struct Refusal {
    const char* Name;
    EncoderCreator Create;
    WAVEFORMATEXTENSIBLE Record;
    std::string Error; // see ReasonMatches; "open": the open failure with the name
    Left After = Left::Nothing;
    Where Path = Where::Temp;
    const char* Settings = "Compression=2000";
};

WAVEFORMATEXTENSIBLE Plain(uint16_t channels, uint32_t rate, uint16_t bits,
                           uint16_t tag = WAVE_FORMAT_PCM) {
    WAVEFORMATEXTENSIBLE record{};
    record.Format = PcmFormat(channels, rate, bits, tag);
    return record;
}

std::vector<Refusal> Refusals() {
    const auto extFloat = ExtensibleFormat(2, 44100, 32, 32, 3, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT);
    const auto extInt32 = ExtensibleFormat(2, 44100, 32, 32, 3, KSDATAFORMAT_SUBTYPE_PCM);
    const auto float32 = Plain(2, 44100, 32, WAVE_FORMAT_IEEE_FLOAT);
    WAVEFORMATEXTENSIBLE badAlign = Plain(2, 44100, 16);
    badAlign.Format.nBlockAlign = 2;
    WAVEFORMATEXTENSIBLE twentyBits = Plain(2, 44100, 24);
    twentyBits.Format.wBitsPerSample = 20; // a 20-bit record in 3-byte containers
    const std::string header = "unsupported wave header";
    const std::string init = "Failed to init"; // libFLAC writes the stream header inside init
    const auto stereo = Plain(2, 44100, 16);
    return {
        // Other sample types get no reason of their own; formats nothing can frame get one.
        {"wav tag 7", CreateWavEncoder, Plain(2, 44100, 8, 7), ""},
        {"wav tag 146", CreateWavEncoder, Plain(2, 44100, 16, 146), ""},
        {"wav extensible tag 7", CreateWavEncoder,
         ExtensibleFormat(2, 44100, 8, 8, 3, ZrSubFormatFromTag(7)), ""},
        {"wav no channel", CreateWavEncoder, Plain(0, 44100, 16), "~"},
        {"wav 1 bit", CreateWavEncoder, Plain(2, 44100, 1), "~"},
        {"wav 0 bits", CreateWavEncoder, Plain(2, 44100, 0), "~"},
        {"aiff 1 bit", CreateAiffEncoder, Plain(2, 44100, 1), "~"},
        {"aiff no channel", CreateAiffEncoder, Plain(0, 44100, 16), "~"},
        {"aiff rate 0", CreateAiffEncoder, Plain(2, 0, 16), "~"},
        {"aiff 64-bit integers", CreateAiffEncoder, Plain(2, 44100, 64), "~"},
        {"aiff tag 7", CreateAiffEncoder, Plain(1, 8000, 8, 7), ""},
        {"aiff tag 80", CreateAiffEncoder, Plain(2, 44100, 16, 80), ""},
        {"flac int32", CreateFlacEncoder, Plain(2, 44100, 32), header},
        {"flac float32", CreateFlacEncoder, float32, header},
        {"flac float64", CreateFlacEncoder, Plain(2, 44100, 64, WAVE_FORMAT_IEEE_FLOAT), header},
        {"flac extensible float", CreateFlacEncoder, extFloat, header},
        {"flac extensible int32", CreateFlacEncoder, extInt32, header},
        {"flac 1 bit", CreateFlacEncoder, Plain(2, 2822400, 1), header},
        {"flac rate 0", CreateFlacEncoder, Plain(2, 0, 16), "unsupported sample rate: 0 Hz"},
        // Past what the library takes: it refuses only at init, after the file was created.
        {"flac 9 channels", CreateFlacEncoder, Plain(9, 44100, 16), "Failed to init", Left::File},
        {"flac no channel", CreateFlacEncoder, Plain(0, 44100, 16), "Failed to init", Left::File},
        {"flac rate 1.1 MHz", CreateFlacEncoder, Plain(2, 1100000, 16), "Failed to init",
         Left::File},
        {"wavpack float32", CreateWvEncoder, float32, header},
        // The extensible record is taken for its speaker mask, not for padded containers.
        {"wavpack extensible 20 in 24", CreateWvEncoder,
         ExtensibleFormat(2, 44100, 24, 20, 3, KSDATAFORMAT_SUBTYPE_PCM), header},
        {"wavpack ADPCM", CreateWvEncoder, Plain(2, 44100, 16, 2), header},
        {"wavpack 12 bits", CreateWvEncoder, Plain(2, 44100, 12), header},
        {"wavpack 20 bits", CreateWvEncoder, twentyBits, header},
        {"wavpack block align of one channel", CreateWvEncoder, badAlign, header},
        {"wavpack no channel", CreateWvEncoder, Plain(0, 44100, 16),
         "unsupported channel count 0: WavPack encoding takes 1 to 8 channels"},
        {"wavpack 9 channels", CreateWvEncoder, Plain(9, 44100, 16),
         "unsupported channel count 9: WavPack encoding takes 1 to 8 channels"},
        // The destination is created before the format is looked at; it stays empty.
        {"alac 8 bits", CreateAlacEncoder, Plain(2, 44100, 8), "~8-bit", Left::EmptyFile},
        {"alac int32", CreateAlacEncoder, Plain(2, 44100, 32), "~32-bit", Left::EmptyFile},
        {"alac float32", CreateAlacEncoder, float32, "~floating point", Left::EmptyFile},
        {"alac 12 bits", CreateAlacEncoder, Plain(1, 44100, 12), "~12-bit", Left::EmptyFile},
        {"alac no channel", CreateAlacEncoder, Plain(0, 44100, 16), "~channels", Left::EmptyFile},
        {"alac 9 channels", CreateAlacEncoder, Plain(9, 44100, 16), "~1 to 8 channels",
         Left::EmptyFile},
        {"alac rate 0", CreateAlacEncoder, Plain(2, 0, 16), "~sample rate", Left::EmptyFile},
        {"alac 5.1 (side)", CreateAlacEncoder,
         ExtensibleFormat(6, 44100, 16, 16, 0x60F, KSDATAFORMAT_SUBTYPE_PCM),
         "~Apple Lossless has one layout for 6 channels, 5.1 (back)"},
        {"ape float32", CreateApeEncoder, float32, ""},
        {"ape side pair", CreateApeEncoder,
         ExtensibleFormat(2, 44100, 16, 16, 0x600, KSDATAFORMAT_SUBTYPE_PCM),
         "~Monkey's Audio keeps mono as front centre"},
        // Destinations. /proc takes no new folders, not even from root.
        {"wav on /proc", CreateWavEncoder, stereo, "*", Left::Nothing, Where::Proc},
        {"wav on a folder", CreateWavEncoder, stereo, "*", Left::File, Where::Folder},
        {"wav, header on a full device", CreateWavEncoder, stereo, "*", Left::Nothing,
         Where::FullDevice},
        {"aiff on /proc", CreateAiffEncoder, stereo, "", Left::Nothing, Where::Proc},
        {"aiff on a full device", CreateAiffEncoder, stereo, "", Left::Nothing, Where::FullDevice},
        {"flac in a missing folder", CreateFlacEncoder, stereo, "open", Left::Nothing,
         Where::MissingFolder},
        {"flac on a folder", CreateFlacEncoder, stereo, "open", Left::File, Where::Folder},
        {"flac on a full device", CreateFlacEncoder, stereo, init, Left::Nothing,
         Where::FullDevice},
        {"ogg flac on a full device", CreateFlacEncoder, stereo, init, Left::Nothing,
         Where::FullDevice, "Ogg=1"},
        {"wavpack in a missing folder", CreateWvEncoder, stereo, "open", Left::Nothing,
         Where::MissingFolder},
        {"alac in a missing folder", CreateAlacEncoder, stereo, "~Cannot open", Left::Nothing,
         Where::MissingFolder},
        {"alac in a read-only folder", CreateAlacEncoder, stereo, "~Cannot open", Left::Nothing,
         Where::ReadOnly},
    };
}

TEST(Refusal, StartFailsWithItsReasonAndLeavesNoFile) {
    for (const Refusal& r : Refusals()) {
        SCOPED_TRACE(r.Name);
        if (r.Path == Where::ReadOnly && ::geteuid() == 0)
            continue; // root writes anywhere
        TempDir dir;
        fs::create_directory(dir / "folder");
        fs::create_directory(dir / "readonly");
        fs::permissions(dir / "readonly", fs::perms::owner_read | fs::perms::owner_exec);
        const fs::path out = r.Path == Where::Temp            ? dir / "out"
                             : r.Path == Where::Proc          ? "/proc/zr-no-such-folder/a/out"
                             : r.Path == Where::MissingFolder ? dir / "missing" / "out"
                             : r.Path == Where::Folder        ? dir / "folder"
                             : r.Path == Where::ReadOnly      ? dir / "readonly" / "out"
                                                              : "/dev/full";
        LogCapture log;
        std::unique_ptr<IZrEncoder> encoder(r.Create(nullptr));
        const EncodeResult e =
            Encode(*encoder, out, {&r.Record.Format, {}, 0, 1 << 20, r.Settings});
        EXPECT_FALSE(e.Started);
        if (r.Error == "open") {
            // The name and then what the system said.
            EXPECT_TRUE(e.LastError.starts_with("Failed to create / open output file:\r\n" +
                                                out.string() + ": "))
                << e.LastError;
        } else {
            EXPECT_TRUE(ReasonMatches(e.LastError, r.Error)) << e.LastError;
        }
        if (!e.LastError.empty()) {
            EXPECT_EQ(log.Errors(), std::vector<std::string>{e.LastError});
        }
        if (r.Path == Where::FullDevice) {
            struct stat info;
            ASSERT_EQ(::stat("/dev/full", &info), 0);
            EXPECT_TRUE(S_ISCHR(info.st_mode)) << "the device is never replaced";
        } else {
            EXPECT_EQ(fs::exists(out), r.After != Left::Nothing);
        }
        if (r.After == Left::EmptyFile) {
            EXPECT_EQ(fs::file_size(out), 0u);
        }
        // A host that carries on anyway gets a refusal, not a crash.
        uint8_t pcm[64] = {};
        EXPECT_FALSE(encoder->EncodeBuffer(pcm, sizeof pcm));
        encoder->FinishBufferBased();
    }
    // Without a format there is nothing to say beyond the host's own message.
    for (EncoderCreator create : {CreateWavEncoder, CreateAiffEncoder, CreateFlacEncoder,
                                  CreateApeEncoder, CreateWvEncoder, CreateAlacEncoder}) {
        std::unique_ptr<IZrEncoder> encoder(create(nullptr));
        EXPECT_FALSE(encoder->StartBufferBased(nullptr, 0));
        EXPECT_EQ(Property(*encoder, u"Last Error"), "");
    }
}

// A disk that fills up in the middle of the stream: a file-size limit, or /dev/full as the file
// or as its correction file. The job fails at its step with its reason, and every later call
// fails fast without a crash.
enum class Full { Limit, Main, Correction };

struct MidStream {
    const char* Name;
    EncoderCreator Create;
    const char* Settings;
    Full Where;
    size_t Frames;
    const char* Step;
    std::string Error;  // see ReasonMatches
    std::string Logged; // the one error line logged; "=": the Last Error; "*": not looked at
    bool FinishAfter;   // what a second finish says
};

TEST(Refusal, AFullDiskMidStreamFailsTheJob) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string flac = "~: File too large"; // the system's reason, after the path
    const std::string wv = "~No space left on device";
    const MidStream cases[] = {
        {"flac", CreateFlacEncoder, "", Full::Limit, 441000, "encode", flac, "=", true},
        {"ogg flac", CreateFlacEncoder, "Ogg=1", Full::Limit, 441000, "encode", flac, "=", true},
        // The last block and the rewritten header meet the limit only in finish.
        {"flac at finish", CreateFlacEncoder, "", Full::Limit, 16000, "finish", flac, "=", true},
        {"wavpack", CreateWvEncoder, "", Full::Main, 176400, "encode", wv, "=", false},
        {"wavpack correction file", CreateWvEncoder, "Compression Type=Hybrid", Full::Correction,
         176400, "encode", wv, "=", false},
        // Too short to fill a block: nothing is written until the flush.
        {"wavpack flush", CreateWvEncoder, "", Full::Main, 1000, "finish", wv,
         "Failed to Flush Samples\n", false},
        // Without a header nothing is written at start: the first block meets the full device.
        {"raw wav", CreateWavEncoder, "NOHDR=1", Full::Main, 2048, "encode", "~No space left", "*",
         true},
    };
    const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    for (const MidStream& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        const std::vector<uint8_t> pcm = MakePcm(Signal::Noise, 2, 44100, 16, c.Frames);
        if (c.Where != Full::Limit)
            fs::create_symlink("/dev/full", dir / (c.Where == Full::Main ? "out.wv" : "out.wvc"));
        auto run = [&] {
            if (c.Where == Full::Limit) {
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{64 * 1024, 64 * 1024};
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            LogCapture log;
            std::unique_ptr<IZrEncoder> encoder(c.Create(nullptr));
            const EncodeResult e =
                Encode(*encoder, dir / "out.wv", {&format, pcm, 0, {}, c.Settings});
            const std::vector<std::string> errors = log.Errors();
            std::vector<uint8_t> block(pcm.begin(),
                                       pcm.begin() + std::min<size_t>(65536, pcm.size()));
            const bool again = encoder->EncodeBuffer(block.data(), block.size());
            const bool finished = encoder->FinishBufferBased();
            const std::string logged = c.Logged == "=" ? e.LastError : c.Logged;
            const bool ok = e.FailedStep() == c.Step && (e.Encoded || !again) &&
                            finished == c.FinishAfter && ReasonMatches(e.LastError, c.Error) &&
                            (c.Logged == "*" || errors == std::vector<std::string>{logged});
            std::fprintf(stderr, "%s: failed at %s, \"%s\", %zu logged, later %d %d\n",
                         ok ? "ok" : "wrong", e.FailedStep().c_str(), e.LastError.c_str(),
                         errors.size(), again, finished);
            std::_Exit(ok ? 0 : 1);
        };
        EXPECT_EXIT(run(), testing::ExitedWithCode(0), "ok: ");
    }
}

} // namespace
