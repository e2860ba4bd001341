#include "zrenc/Verify.h"

#include "frame/ZrEncoderFactory.h"
#include "zrenc/InputDecoder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace zrenc {

namespace {

constexpr uint64_t Prime1 = 0x9e3779b185ebca87u;
constexpr uint64_t Prime2 = 0xc2b2ae3d27d4eb4fu;
constexpr size_t BlockBytes = size_t{1} << 17;
const std::string Unreadable = "the output cannot be decoded: ";

uint64_t RotateLeft(uint64_t value, int bits) {
    return (value << bits) | (value >> (64 - bits));
}

uint64_t Mix(uint64_t lane, uint64_t word) {
    return RotateLeft(lane + word * Prime2, 31) * Prime1;
}

// The value of the key in a settings text ("Key=value|Key=value"), "" when missing.
std::string SettingValue(const std::string& text, const std::string& key) {
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find('|', start), text.size());
        const std::string pair = text.substr(start, end - start);
        if (pair.size() > key.size() && pair.compare(0, key.size(), key) == 0 &&
            pair[key.size()] == '=')
            return pair.substr(key.size() + 1);
        start = end + 1;
    }
    return {};
}

bool SettingOn(const std::string& text, const std::string& key) {
    const std::string value = SettingValue(text, key);
    return !value.empty() && value != "0";
}

std::string Describe(const PcmSpec& spec) {
    return std::to_string(spec.channels) + " channels of " + std::to_string(spec.bits) +
           (spec.isFloat ? "-bit float" : "-bit") + " at " + std::to_string(spec.rate) + " Hz";
}

// One sample of an interleaved little-endian block as a number.
std::string SampleText(const uint8_t* p, const PcmSpec& spec) {
    switch (spec.bits) {
    case 8:
        return std::to_string(int{p[0]} - 128);
    case 16:
        return std::to_string(static_cast<int16_t>(p[0] | p[1] << 8));
    case 24:
        return std::to_string(static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 8 |
                                                   static_cast<uint32_t>(p[1]) << 16 |
                                                   static_cast<uint32_t>(p[2]) << 24) >>
                              8);
    default: {
        uint32_t bits = 0;
        std::memcpy(&bits, p, 4);
        if (!spec.isFloat)
            return std::to_string(static_cast<int32_t>(bits));
        float value = 0;
        std::memcpy(&value, &bits, 4);
        char text[32];
        std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
        return text;
    }
    }
}

// The output read back as the encoder's format, whole frames a block; the debugging flip
// applied on the way.
class ReadBack {
public:
    ReadBack(OutputVerifier::Reader reader, const PcmSpec& spec, int64_t corruptSample)
        : m_reader(reader), m_spec(spec),
          m_corruptAt(corruptSample < 0 ? -1 : corruptSample * (spec.bits / 8)) {}
    ~ReadBack() {
        if (m_file)
            std::fclose(m_file);
    }

    bool Open(const std::string& path) {
        if (m_reader != OutputVerifier::Reader::Decoded) {
            m_file = std::fopen(path.c_str(), "rb");
            return m_file || Fail(Unreadable + std::strerror(errno));
        }
        if (!m_decoder.Open(path, false))
            return Fail(Unreadable + m_decoder.Error());
        // Decoders hand 8-bit samples over in 16 bits; narrowing them back is exact.
        const PcmSpec& source = m_decoder.Source();
        if (source.channels != m_spec.channels || source.rate != m_spec.rate ||
            source.isFloat != m_spec.isFloat || source.bits < m_spec.bits ||
            (source.bits > m_spec.bits && m_spec.bits != 8))
            return Fail("the output holds " + Describe(source) + "; the encoder was given " +
                        Describe(m_spec));
        m_decoder.SetOutput(m_spec);
        return true;
    }

    // Empty at the end; false on an error.
    bool Read(std::vector<uint8_t>& block) {
        const size_t frame = m_spec.BlockAlign();
        if (m_reader == OutputVerifier::Reader::Decoded) {
            if (!m_decoder.Read(block, BlockBytes / frame * frame))
                return Fail(Unreadable + m_decoder.Error());
        } else {
            block.resize(BlockBytes / frame * frame);
            block.resize(std::fread(block.data(), 1, block.size(), m_file));
            if (std::ferror(m_file))
                return Fail(Unreadable + std::strerror(errno));
            if (m_reader == OutputVerifier::Reader::RawBigEndian)
                for (size_t at = 0, width = m_spec.bits / 8u; at + width <= block.size();
                     at += width)
                    std::reverse(block.begin() + at, block.begin() + at + width);
        }
        if (m_corruptAt >= m_offset && m_corruptAt < m_offset + static_cast<int64_t>(block.size()))
            block[m_corruptAt - m_offset] ^= 1;
        m_offset += block.size();
        return true;
    }

    const std::string& Error() const { return m_error; }

private:
    bool Fail(std::string why) {
        m_error = std::move(why);
        return false;
    }

    OutputVerifier::Reader m_reader;
    PcmSpec m_spec;
    int64_t m_corruptAt;
    int64_t m_offset = 0;
    InputDecoder m_decoder;
    std::FILE* m_file = nullptr;
    std::string m_error;
};

} // namespace

void StreamHash::Round(const uint8_t* stripe) {
    for (int lane = 0; lane < 4; ++lane) {
        uint64_t word = 0;
        std::memcpy(&word, stripe + 8 * lane, 8);
        m_lanes[lane] = Mix(m_lanes[lane], word);
    }
}

void StreamHash::Update(const uint8_t* data, size_t bytes) {
    m_total += bytes;
    if (m_tailBytes) {
        const size_t take = std::min(bytes, sizeof m_tail - m_tailBytes);
        std::memcpy(m_tail + m_tailBytes, data, take);
        m_tailBytes += take;
        data += take;
        bytes -= take;
        if (m_tailBytes < sizeof m_tail)
            return;
        Round(m_tail);
        m_tailBytes = 0;
    }
    for (; bytes >= sizeof m_tail; data += sizeof m_tail, bytes -= sizeof m_tail)
        Round(data);
    std::memcpy(m_tail, data, bytes);
    m_tailBytes = bytes;
}

uint64_t StreamHash::Final() const {
    uint64_t hash = m_total * Prime1;
    for (uint64_t lane : m_lanes)
        hash = Mix(hash ^ lane, lane);
    for (size_t i = 0; i < m_tailBytes; ++i)
        hash = Mix(hash, m_tail[i] + (uint64_t{i} << 8));
    hash ^= hash >> 33;
    hash *= Prime2;
    return hash ^ (hash >> 29);
}

bool Verifiable(int32_t encoderIndex) {
    switch (encoderIndex) {
    case ZrEncoderIndex::Wav:
    case ZrEncoderIndex::Aiff:
    case ZrEncoderIndex::Flac:
    case ZrEncoderIndex::Ape:
    case ZrEncoderIndex::Wv:
    case ZrEncoderIndex::Alac:
    case ZrEncoderIndex::Dsd:
        return true;
    default:
        return false;
    }
}

std::unique_ptr<OutputVerifier> OutputVerifier::For(int32_t encoderIndex,
                                                    const std::string& settings,
                                                    int64_t corruptSample, std::string& skipped) {
    Reader reader = Reader::Decoded;
    if (!Verifiable(encoderIndex))
        return nullptr;
    if (encoderIndex == ZrEncoderIndex::Dsd)
        reader = Reader::LengthOnly;
    if (encoderIndex == ZrEncoderIndex::Wv &&
        SettingValue(settings, "Compression Type") == "Hybrid") {
        // The decoding libraries read no correction file: a hybrid file alone is lossy.
        skipped = "not verified: WavPack's hybrid mode is lossy without its correction file";
        return nullptr;
    }
    if (encoderIndex == ZrEncoderIndex::Wav) {
        const bool bigEndian = SettingOn(settings, "L16") || SettingOn(settings, "L24");
        if (SettingValue(settings, "NOHDR") == "1")
            reader = bigEndian ? Reader::RawBigEndian : Reader::RawLittleEndian;
        else if (bigEndian) {
            skipped = "not verified: a WAV file with big-endian samples decodes as noise";
            return nullptr;
        }
    }
    return std::make_unique<OutputVerifier>(reader, corruptSample);
}

void OutputVerifier::Start(const PcmSpec& spec) {
    m_spec = spec;
    m_fed = StreamHash();
    m_fedFrames = 0;
}

void OutputVerifier::Feed(const uint8_t* data, size_t bytes) {
    if (m_reader != Reader::LengthOnly)
        m_fed.Update(data, bytes);
    m_fedFrames += static_cast<int64_t>(bytes / m_spec.BlockAlign());
}

std::string OutputVerifier::Check(const std::string& path, const std::string& input) {
    if (m_reader == Reader::LengthOnly)
        return CheckLength(path);
    ReadBack output(m_reader, m_spec, m_corruptSample);
    if (!output.Open(path))
        return "verification failed: " + output.Error();
    StreamHash decoded;
    uint64_t bytes = 0;
    std::vector<uint8_t> block;
    for (;;) {
        if (!output.Read(block))
            return "verification failed: " + output.Error();
        if (block.empty())
            break;
        decoded.Update(block.data(), block.size());
        bytes += block.size();
    }
    const int64_t frames = static_cast<int64_t>(bytes / m_spec.BlockAlign());
    if (frames != m_fedFrames || bytes % m_spec.BlockAlign())
        return "verification failed: the output decodes to " + std::to_string(frames) +
               " samples per channel; the encoder was given " + std::to_string(m_fedFrames);
    if (decoded.Final() == m_fed.Final())
        return {};
    return FirstDifference(path, input, frames);
}

std::string OutputVerifier::FirstDifference(const std::string& path, const std::string& input,
                                            int64_t decodedFrames) {
    const std::string differs = "verification failed: the output's samples differ from the "
                                "encoder's input";
    InputDecoder source;
    ReadBack output(m_reader, m_spec, m_corruptSample);
    if (!source.Open(input) || !output.Open(path))
        return differs;
    source.SetOutput(m_spec);
    const size_t width = m_spec.bits / 8u;
    std::vector<uint8_t> expected, got;
    size_t e = 0, g = 0;
    int64_t offset = 0; // bytes compared
    for (;;) {
        if (e == expected.size()) {
            if (!source.Read(expected, BlockBytes))
                return differs;
            e = 0;
        }
        if (g == got.size()) {
            if (!output.Read(got))
                return differs;
            g = 0;
        }
        const size_t n = std::min(expected.size() - e, got.size() - g);
        if (n == 0)
            return differs; // the input decodes differently this time
        const auto [left, right] =
            std::mismatch(expected.begin() + e, expected.begin() + e + n, got.begin() + g);
        if (left != expected.begin() + e + n) {
            const size_t at = static_cast<size_t>(left - expected.begin()) / width * width;
            const int64_t sample = (offset + static_cast<int64_t>(at - e)) / width;
            const size_t fromGot = g + (at - e);
            return "verification failed at sample " + std::to_string(sample / m_spec.channels) +
                   " of " + std::to_string(decodedFrames) + ", channel " +
                   std::to_string(sample % m_spec.channels + 1) + " of " +
                   std::to_string(m_spec.channels) + ": expected " +
                   SampleText(&expected[at], m_spec) + ", decoded " +
                   SampleText(&got[fromGot], m_spec);
        }
        e += n;
        g += n;
        offset += static_cast<int64_t>(n);
    }
}

std::string OutputVerifier::CheckLength(const std::string& path) {
    InputDecoder output;
    if (!output.Open(path, false))
        return "verification failed: " + Unreadable + output.Error();
    const PcmSpec decoded = output.Source();
    int64_t frames = 0;
    std::vector<uint8_t> block;
    for (;;) {
        if (!output.Read(block, BlockBytes))
            return "verification failed: " + Unreadable + output.Error();
        if (block.empty())
            break;
        frames += static_cast<int64_t>(block.size() / decoded.BlockAlign());
    }
    // The debugging hook cuts the stream there: a length is all there is to damage.
    if (m_corruptSample >= 0)
        frames = std::min(frames, m_corruptSample / std::max<int64_t>(1, decoded.channels));
    // Decoders give one frame per byte of DSD, so 8 DSD samples; the modulator may end a few
    // bytes either way of the exact length after resampling.
    const int64_t expected = m_fedFrames * decoded.rate / std::max<uint32_t>(1, m_spec.rate);
    const int64_t slack = decoded.rate / 1000;
    if (decoded.channels != m_spec.channels || frames < expected - slack ||
        frames > expected + slack)
        return "verification failed: the output decodes to " + std::to_string(frames) +
               " frames of " + std::to_string(decoded.channels) + " channels at " +
               std::to_string(decoded.rate) + " Hz; " + std::to_string(expected) + " frames of " +
               std::to_string(m_spec.channels) + " were expected";
    return {};
}

} // namespace zrenc
