#include "WvTestHelpers.h"

#include "frame/ZrEncoderFactory.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace wvtest {

using namespace zrtest;

bool Exhaustive() {
    const char* value = std::getenv("ZR_EXHAUSTIVE");
    return value && std::strcmp(value, "1") == 0;
}

namespace {

std::string LastErrorOf(IZrEncoder& encoder) {
    ZrSysString text = encoder.GetProperty(u"Last Error");
    const std::string utf8 = ZrString(text).ToUtf8();
    SysFreeString(text);
    return utf8;
}

} // namespace

EncodeOutcome Encode(const path& destination, const std::u16string& settings,
                     const WAVEFORMATEX& format, const std::vector<uint8_t>& pcm,
                     int64_t expectedBytes, size_t bufferFrames) {
    EncodeOutcome outcome;
    std::unique_ptr<IZrEncoder> encoder(CreateWvEncoder(nullptr));
    encoder->SetProperty(u"Settings", settings.c_str());
    encoder->SetProperty(u"Add Output Extension", u"0");
    encoder->SetProperty(u"Destination Filename", U(destination).c_str());
    outcome.Started = encoder->StartBufferBased(&format, expectedBytes);
    if (outcome.Started) {
        const size_t frameBytes = format.nBlockAlign ? format.nBlockAlign : 1;
        // Like a host: 64 KiB buffers of whole frames unless asked otherwise.
        const size_t step =
            bufferFrames ? bufferFrames * frameBytes : (65536 / frameBytes) * frameBytes;
        std::vector<uint8_t> copy(pcm); // the encoder may change the buffer in place
        outcome.Encoded = true;
        for (size_t at = 0; at < copy.size() && outcome.Encoded; at += step) {
            const size_t n = std::min(step, copy.size() - at);
            outcome.Encoded = encoder->EncodeBuffer(copy.data() + at, n);
        }
        if (outcome.Encoded)
            outcome.Finished = encoder->FinishBufferBased();
    }
    outcome.LastError = LastErrorOf(*encoder);
    return outcome;
}

std::u16string Settings(const std::vector<std::pair<std::string, std::string>>& pairs) {
    std::string text;
    for (const auto& [key, value] : pairs) {
        if (!text.empty())
            text += '|';
        text += key + "=" + value;
    }
    return std::u16string(U(text).View());
}

int64_t HeaderTotalSamples(const path& file) {
    const std::vector<uint8_t> data = ReadFile(file);
    if (data.size() < 32 || std::memcmp(data.data(), "wvpk", 4) != 0)
        return -1;
    // total_samples: 32 bits at 12, with its upper 8 bits at 11.
    const uint32_t low = Le32(data.data() + 12);
    if (low == 0xFFFFFFFFu)
        return -1;
    return static_cast<int64_t>(low) + (static_cast<int64_t>(data[11]) << 32);
}

WvInfo Info(const path& file) {
    // "rate;bits;int|float;channels;0xmask;samples;md5;version;0xmode;name"
    const RunResult r = Run({"wvunpack", "-f", file.string()});
    WvInfo info;
    std::vector<std::string> fields;
    std::string field;
    for (char c : r.Output.substr(0, r.Output.find('\n'))) {
        if (c == ';') {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    if (r.ExitCode != 0 || fields.size() < 9) {
        ADD_FAILURE() << "wvunpack -f " << file << ":\n" << r.Output;
        return info;
    }
    info.Rate = static_cast<uint32_t>(std::stoul(fields[0]));
    info.Bits = static_cast<uint32_t>(std::stoul(fields[1]));
    info.Channels = static_cast<uint32_t>(std::stoul(fields[3]));
    info.Mask = static_cast<uint32_t>(std::stoul(fields[4], nullptr, 16));
    info.Samples = std::stoll(fields[5]);
    info.Mode = static_cast<uint32_t>(std::stoul(fields[8], nullptr, 16));
    return info;
}

std::vector<uint8_t> DecodeWithWvunpack(const path& file, bool ignoreCorrection) {
    TempDir dir;
    const path out = dir / "restored.wav";
    std::vector<std::string> argv{"wvunpack", "-q", "-y"};
    if (ignoreCorrection)
        argv.push_back("-i");
    argv.insert(argv.end(), {file.string(), "-o", out.string()});
    const RunResult r = Run(argv);
    if (r.ExitCode != 0) {
        ADD_FAILURE() << "wvunpack could not decode " << file << ":\n" << r.Output;
        return {};
    }
    const std::vector<uint8_t> wav = ReadFile(out);
    if (wav.size() < 12 || std::memcmp(wav.data(), "RIFF", 4) != 0) {
        ADD_FAILURE() << "wvunpack restored no RIFF file from " << file;
        return {};
    }
    for (size_t at = 12; at + 8 <= wav.size();) {
        const uint32_t size = Le32(wav.data() + at + 4);
        if (std::memcmp(wav.data() + at, "data", 4) == 0) {
            // An odd data chunk is followed by a pad byte that the RIFF size may leave out.
            const size_t padded = at + 8 + size + (size & 1);
            EXPECT_EQ(padded, wav.size()) << "data size of the restored header";
            const uint32_t riff = Le32(wav.data() + 4);
            EXPECT_TRUE(riff == wav.size() - 8 || ((size & 1) && riff == wav.size() - 9))
                << "RIFF size " << riff << " of a " << wav.size() << "-byte file";
            const size_t end = std::min(wav.size(), at + 8 + size);
            return std::vector<uint8_t>(wav.begin() + static_cast<ptrdiff_t>(at + 8),
                                        wav.begin() + static_cast<ptrdiff_t>(end));
        }
        at += 8 + size + (size & 1);
    }
    ADD_FAILURE() << "no data chunk in the WAV restored from " << file;
    return {};
}

bool VerifyWithWvunpack(const path& file, std::string* output) {
    const RunResult r = Run({"wvunpack", "-q", "-v", file.string()});
    if (output)
        *output = r.Output;
    return r.ExitCode == 0;
}

void WriteWav(const path& file, const WAVEFORMATEX& format, const std::vector<uint8_t>& pcm) {
    std::vector<uint8_t> out;
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    auto tag = [&](const char* t) { out.insert(out.end(), t, t + 4); };
    const auto size = static_cast<uint32_t>(pcm.size());
    tag("RIFF");
    put(36 + size + (size & 1), 4);
    tag("WAVE");
    tag("fmt ");
    put(16, 4);
    put(WAVE_FORMAT_PCM, 2);
    put(format.nChannels, 2);
    put(format.nSamplesPerSec, 4);
    put(format.nAvgBytesPerSec, 4);
    put(format.nBlockAlign, 2);
    put(format.wBitsPerSample, 2);
    tag("data");
    put(size, 4);
    out.insert(out.end(), pcm.begin(), pcm.end());
    if (size & 1)
        out.push_back(0);
    WriteFile(file, out);
}

bool RunWavpackProgram(const path& wav, const path& out, const std::vector<std::string>& options) {
    std::vector<std::string> argv{"wavpack", "-q", "-y"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {wav.string(), "-o", out.string()});
    const RunResult r = Run(argv);
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    return r.ExitCode == 0;
}

std::vector<int32_t> Samples(const std::vector<uint8_t>& pcm, uint16_t bits) {
    const size_t width = bits / 8u;
    std::vector<int32_t> out(pcm.size() / width);
    for (size_t i = 0; i < out.size(); ++i) {
        const uint8_t* p = pcm.data() + i * width;
        if (width == 1) {
            out[i] = int32_t{p[0]} - 128;
            continue;
        }
        uint32_t v = 0;
        for (size_t b = 0; b < width; ++b)
            v |= uint32_t{p[b]} << (8 * b);
        const int shift = static_cast<int>(32 - bits);
        out[i] = static_cast<int32_t>(v << shift) >> shift;
    }
    return out;
}

} // namespace wvtest
