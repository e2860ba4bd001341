#include "WvTestHelpers.h"

#include "frame/ZrEncoderFactory.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace wvtest {

using namespace zrtest;

EncodeResult Encode(const path& destination, const std::string& settings,
                    const WAVEFORMATEX& format, const std::vector<uint8_t>& pcm,
                    int64_t expectedBytes, size_t bufferFrames) {
    return zrtest::Encode(
        CreateWvEncoder, destination,
        {&format, pcm, bufferFrames * format.nBlockAlign, expectedBytes, settings});
}

std::string Settings(const std::vector<std::pair<std::string, std::string>>& pairs) {
    std::string text;
    for (const auto& [key, value] : pairs)
        text += (text.empty() ? "" : "|") + key + "=" + value;
    return text;
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

bool VerifyWithWvunpack(const path& file, std::string* output) {
    const RunResult r = Run({"wvunpack", "-q", "-v", file.string()});
    if (output)
        *output = r.Output;
    return r.ExitCode == 0;
}

bool RunWavpackProgram(const path& wav, const path& out, const std::vector<std::string>& options) {
    std::vector<std::string> argv{"wavpack", "-q", "-y"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {wav.string(), "-o", out.string()});
    const RunResult r = Run(argv);
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    return r.ExitCode == 0;
}

} // namespace wvtest
