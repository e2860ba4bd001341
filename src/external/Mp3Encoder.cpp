#include "external/Mp3Encoder.h"

#include "external/DependencyInstaller.h"
#include "external/LameVBRQualityArray.h"
#include "external/MediaTranscodeSettings.h"
#include "external/Mp3Settings.h"
#include "foundation/ZrFileSystem.h"
#include "frame/ZrEncoderFactory.h"
#include "frame/ZrHostLibraries.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Mp3Settings;

namespace {

constexpr uint32_t MaxPipeWrite = 1u << 30;
constexpr uint16_t MaxChannels = 64; // the speaker table's length

const char16_t* const GoGoMissing =
    u"Go-Go (gogo.exe) has no Linux build: choose \"VBR Encoding\" or \"CBR / ABR Encoding\" in "
    u"the MP3 options";

// One argument in double quotes as the command-line splitter reads it back: quotes escaped,
// and backslashes doubled where they come before a quote.
ZrString Quoted(const ZrString& argument) {
    std::u16string out = u"\"";
    size_t backslashes = 0;
    for (char16_t c : argument.View()) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == u'"' ? 2 * backslashes + 1 : backslashes, u'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, u'\\');
    out += u'"';
    return ZrString(out);
}

bool HasNonAscii(const ZrString& text) {
    return std::any_of(text.View().begin(), text.View().end(), [](char16_t c) { return c > 0x7F; });
}

// Left and right weights of a speaker in the two-channel mix (ids of the speaker table).
std::array<float, 2> MixWeights(uint32_t speaker) {
    constexpr float minus3dB = 0.70710678f;
    switch (speaker) {
    case 2: // front left
        return {1.0f, 0.0f};
    case 3: // front right
        return {0.0f, 1.0f};
    case 5: // low frequency
        return {0.0f, 0.0f};
    case 6: // side left
    case 8: // back left
        return {minus3dB, 0.0f};
    case 7: // side right
    case 9: // back right
        return {0.0f, minus3dB};
    case 1: // mono
    case 4: // front centre
        return {minus3dB, minus3dB};
    default:
        return {0.5f, 0.5f};
    }
}

int32_t ToInt32(double x) {
    constexpr double full = 2147483648.0;
    const double scaled = std::nearbyint(x * full);
    if (!(scaled > -full)) // NaN too
        return scaled < 0 ? INT32_MIN : 0;
    return scaled >= full ? INT32_MAX : static_cast<int32_t>(scaled);
}

// The permissions a new file gets here (the process's umask, which can only be read by
// setting it, is in /proc).
mode_t NewFileMode() {
    mode_t mask = 022;
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::strncmp(line, "Umask:", 6) == 0)
                mask = static_cast<mode_t>(std::strtoul(line + 6, nullptr, 8));
        std::fclose(status);
    }
    return 0666 & ~mask;
}

// Removes a file the child wrote; a device or anything else that is not a plain file stays.
void RemoveOutput(const ZrString& path) {
    struct stat info {};
    if (!path.IsEmpty() && ::lstat(path.ToUtf8().c_str(), &info) == 0 && S_ISREG(info.st_mode))
        ZrFileSystem::DeleteFile(path);
}

} // namespace

Mp3CommandLine BuildMp3CommandLine(const ZrString& workingLine, const ZrString& programPath,
                                   uint16_t channels, uint32_t rate, uint16_t bits,
                                   const ZrString& output) {
    Mp3CommandLine result;
    ZrString line = workingLine;
    const char16_t* input;
    if (UsesGoGo(line)) {
        line = ZrReplaceNoCase(line, u"gogo.exe", Quoted(programPath) + u" -silent");
        input = u"stdin ";
    } else {
        const ZrString program = Quoted(programPath) + u" -S ";
        if (line.IsEmpty())
            line = program;
        else if (Contains(line, u"lame.exe "))
            line = ZrReplaceNoCase(line, u"lame.exe ", program);
        else if (Contains(line, u"lame "))
            line = ZrReplaceNoCase(line, u"lame ", program);
        else
            line = program + line;
        if (channels == 2) {
            line += ZrString::Format(" -r -s %u --bitwidth %u", rate, unsigned{bits});
            result.SendHeader = false;
        }
        input = u"- ";
    }
    result.Line = line + u" " + input + Quoted(output);
    return result;
}

IZrEncoder* CreateMp3Encoder(IZrEncoderCallback* callback) {
    return new CMp3Encoder(callback);
}

CMp3Encoder::CMp3Encoder(IZrEncoderCallback* callback) : ZrEncoderBase(callback) {
    ZrTraceScope scope(u"CMp3Encoder::CMp3Encoder");
}

CMp3Encoder::~CMp3Encoder() {
    ZrTraceScope scope(u"CMp3Encoder::~CMp3Encoder");
    Abandon();
}

void CMp3Encoder::SaveSettings() {
    Mode.Save(Settings);
    Bitrate.Save(Settings);
    ForceCBR.Save(Settings);
    SpeedBitrate.Save(Settings);
    CommandLine.Save(Settings);
}

void CMp3Encoder::ApplyAutoConfig() {
    if (!AutoConfig)
        return;
    if (!MediaTranscodeSettings::IsAudioProfile(AutoConfigFor)) {
        SaveSettings();
        return;
    }
    const int32_t kbps = MediaTranscodeSettings(AutoConfigFor).AudioBitrate() / 1000;
    Mode.Set(Settings, ModeCbrAbr);
    ForceCBR.Set(Settings, 1);
    Bitrate.Set(Settings, kbps);
    SpeedBitrate.Set(Settings, kbps);
    CommandLine.Set(Settings, ZrString::Format("lame.exe --preset cbr %d --id3v1-only", kbps));
}

int32_t CMp3Encoder::GetEstimatedBitrate() {
    ZrTraceScope scope(u"CMp3Encoder::GetEstimatedBitrate", 512, false);
    int32_t kbps = 160;
    Guarded(scope, [&] {
        ApplyAutoConfig();
        CheckMode(Settings);
        switch (Mode.Get(Settings)) {
        case ModeCbrAbr:
            kbps = Bitrate.Get(Settings);
            break;
        case ModeVbr:
            kbps = CLameVBRQualityArray().RowFor(CommandLine.Get(Settings)).EstimatedKbps;
            break;
        case ModeGoGo:
            kbps = SpeedBitrate.Get(Settings);
            break;
        default:
            break;
        }
        return true;
    });
    return kbps;
}

void CMp3Encoder::GetSupportedBitdepths(std::vector<int32_t>& depths) {
    // Go-Go reads nothing but 16-bit samples.
    if (UsesGoGo(CommandLine.Get(Settings)))
        depths.push_back(16);
}

bool CMp3Encoder::RunsGoGo() const {
    // Automatic configuration always writes a LAME line.
    return !AutoConfig && UsesGoGo(CommandLine.Get(Settings));
}

bool CMp3Encoder::CheckDependencies() {
    ZrTraceScope scope(u"CMp3Encoder::CheckDependencies");
    return Guarded(scope, [&] {
        // Only the program this command line runs: Go-Go has no build here.
        if (RunsGoGo())
            return Fail(scope, GoGoMissing);
        if (!DependencyInstaller::GetInstalledFilename(DependencyInstaller::Lame).IsEmpty())
            return true;
        return Fail(scope, DependencyInstaller::MissingReason(DependencyInstaller::Lame));
    });
}

bool CMp3Encoder::Options() {
    ZrTraceScope scope(u"CMp3Encoder::Options");
    return Guarded(scope, [&] { return ZrShowOptionsWindow(ZrEncoderIndex::Mp3, *this); });
}

bool CMp3Encoder::PlanStream(ZrString& reason) {
    const bool isFloat = Format.IsIeeeFloat();
    if ((!Format.IsIntegerPcm() && !isFloat) ||
        !zrpcm::SampleFor(Format.BitsPerSample, isFloat, m_sourceSample)) {
        reason = ZrString::Format("The MP3 encoder takes 8, 16, 24 or 32-bit integer or 32 or "
                                  "64-bit float PCM, not this source (format tag %u, %u bits)",
                                  unsigned{Format.FormatTag}, unsigned{Format.BitsPerSample});
        return false;
    }
    if (Format.Channels == 0 || Format.Channels > MaxChannels) {
        reason = ZrString::Format("The MP3 encoder takes 1 to %u channels, not %u",
                                  unsigned{MaxChannels}, unsigned{Format.Channels});
        return false;
    }
    // The program reads one or two channels of integers: anything else goes as 32-bit integers,
    // mixed down to two channels.
    m_convert = isFloat || Format.Channels > 2;
    m_sentChannels = std::min<uint16_t>(Format.Channels, 2);
    m_sentBits = m_convert ? 32 : Format.BitsPerSample;
    m_mix.clear();
    if (Format.Channels > 2) {
        std::array<float, 2> sum{};
        for (uint16_t c = 0; c < Format.Channels; ++c) {
            m_mix.push_back(MixWeights(Format.Speakers[c].Id));
            sum[0] += m_mix.back()[0];
            sum[1] += m_mix.back()[1];
        }
        const float scale = 1.0f / std::max({sum[0], sum[1], 1.0f});
        for (auto& weights : m_mix)
            weights = {weights[0] * scale, weights[1] * scale};
    }
    return true;
}

bool CMp3Encoder::ChooseOutput(ZrString& reason) {
    m_temporaryOutput.Empty();
    if (!HasNonAscii(DestinationFilename))
        return true;
    // The program takes any name here; the temporary file stays beside the destination, so the
    // final move is a rename on the same disk and the free space is measured where it is used.
    std::string pattern =
        ZrFileSystem::Join(ZrFileSystem::FolderOf(DestinationFilename), u"LameXXXXXX.tmp").ToUtf8();
    const int fd = ::mkostemps(pattern.data(), 4, O_CLOEXEC);
    if (fd < 0) {
        reason = ZrString::Format("Cannot create a temporary file \"%s\": %s", pattern.c_str(),
                                  std::strerror(errno));
        return false;
    }
    ::fchmod(fd, NewFileMode()); // mkstemp's 0600 would outlive the move
    ::close(fd);
    m_temporaryOutput = ZrString::FromUtf8(pattern);
    return true;
}

void CMp3Encoder::MeasureDiskBudget() {
    const ZrString& output = m_temporaryOutput.IsEmpty() ? DestinationFilename : m_temporaryOutput;
    const int64_t free = ZrFileSystem::FreeSpace(output);
    m_diskBudget = free < 0 ? ~uint64_t{0} : static_cast<uint64_t>(free);
}

bool CMp3Encoder::StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) {
    ZrTraceScope scope(u"CMp3Encoder::StartBufferBased");
    return Guarded(
        scope, [&] { return Start(scope, format, expectedBytes); }, [&] { Abandon(); });
}

bool CMp3Encoder::Start(ZrTraceScope& scope, const WAVEFORMATEX* format, int64_t expectedBytes) {
    Abandon(); // whatever an earlier job on this object left running
    m_partial.clear();
    if (!ZrEncoderBase::StartBufferBased(format, expectedBytes))
        return false;
    if (!CheckDependencies())
        return false;
    ZrString reason;
    if (!PlanStream(reason))
        return Fail(scope, reason);

    CheckMode(Settings);
    ApplyAutoConfig();
    const bool goGo = RunsGoGo();
    const ZrString program = DependencyInstaller::GetInstalledFilename(
        goGo ? DependencyInstaller::GoGo : DependencyInstaller::Lame);
    if (program.IsEmpty())
        return Fail(scope, goGo ? ZrString(GoGoMissing)
                                : DependencyInstaller::MissingReason(DependencyInstaller::Lame));
    if (!ChooseOutput(reason))
        return Fail(scope, reason);
    const Mp3CommandLine command = BuildMp3CommandLine(
        CommandLine.Get(Settings), program, Format.Channels, Format.SamplesPerSec, m_sentBits,
        m_temporaryOutput.IsEmpty() ? DestinationFilename : m_temporaryOutput);
    m_commandLine = command.Line;
    m_sendHeader = command.SendHeader;
    scope.Log(u"Command line: " + m_commandLine);

    if (!m_pipe.Start(m_commandLine)) {
        RemoveOutput(m_temporaryOutput);
        m_temporaryOutput.Empty();
        scope.Log(m_pipe.StartError());
        return Fail(scope, u"Error starting encoder.");
    }
    m_running = true;
    MeasureDiskBudget();
    if (m_sendHeader) {
        ZrAudioFormat sent = Format;
        sent.Channels = m_sentChannels;
        sent.BitsPerSample = m_sentBits;
        uint8_t header[44];
        ZrBuildStreamingWavHeader(sent, header);
        if (!Send(scope, header, sizeof header))
            return false;
    }
    return true;
}

void CMp3Encoder::Convert(const uint8_t* data, size_t frames) {
    const size_t channels = Format.Channels;
    std::vector<double> samples(frames * channels);
    zrpcm::ToDouble(data, samples.size(), m_sourceSample, samples.data());
    m_converted.resize(frames * m_sentChannels);
    int32_t* out = m_converted.data();
    if (m_mix.empty()) {
        for (double x : samples)
            *out++ = ToInt32(x);
        return;
    }
    for (size_t f = 0; f < frames; ++f) {
        const double* frame = &samples[f * channels];
        double left = 0.0, right = 0.0;
        for (size_t c = 0; c < channels; ++c) {
            left += frame[c] * m_mix[c][0];
            right += frame[c] * m_mix[c][1];
        }
        *out++ = ToInt32(left);
        *out++ = ToInt32(right);
    }
}

bool CMp3Encoder::EncodeBuffer(uint8_t* data, uint64_t bytes) {
    ZrTraceScope scope(u"CMp3Encoder::EncodeBuffer", 512, false);
    return Guarded(scope, [&] { return Encode(scope, data, bytes); });
}

bool CMp3Encoder::Encode(ZrTraceScope& scope, const uint8_t* data, uint64_t bytes) {
    if (!m_running)
        return false;
    if (!data || bytes == 0)
        return true;
    if (!m_convert)
        return Send(scope, data, bytes);
    const size_t frameBytes = size_t{Format.Channels} * zrpcm::Bytes(m_sourceSample);
    if (!m_partial.empty()) {
        const size_t take = std::min<uint64_t>(frameBytes - m_partial.size(), bytes);
        m_partial.insert(m_partial.end(), data, data + take);
        data += take;
        bytes -= take;
        if (m_partial.size() < frameBytes)
            return true;
        Convert(m_partial.data(), 1);
        m_partial.clear();
        if (!SendConverted(scope))
            return false;
    }
    // A slice at a time keeps the converted copy small.
    constexpr size_t sliceFrames = 16384;
    while (bytes >= frameBytes) {
        const size_t frames = std::min<uint64_t>(bytes / frameBytes, sliceFrames);
        Convert(data, frames);
        if (!SendConverted(scope))
            return false;
        data += frames * frameBytes;
        bytes -= frames * frameBytes;
    }
    m_partial.assign(data, data + bytes);
    return true;
}

bool CMp3Encoder::SendConverted(ZrTraceScope& scope) {
    return Send(scope, reinterpret_cast<const uint8_t*>(m_converted.data()),
                m_converted.size() * sizeof(int32_t));
}

bool CMp3Encoder::Send(ZrTraceScope& scope, const uint8_t* data, uint64_t bytes) {
    if (bytes >= m_diskBudget) {
        MeasureDiskBudget();
        if (bytes >= m_diskBudget) {
            const uint64_t free = m_diskBudget;
            Abandon();
            return Fail(scope, ZrString::Format("No space left for \"%s\": %" PRIu64
                                                " bytes free on its disk",
                                                DestinationFilename.ToUtf8().c_str(), free));
        }
    }
    for (uint64_t done = 0; done < bytes;) {
        const auto count = static_cast<uint32_t>(std::min<uint64_t>(bytes - done, MaxPipeWrite));
        if (!m_pipe.Write(data + done, count)) {
            Abandon();
            const int exitCode = m_pipe.ExitCode();
            return Fail(scope,
                        exitCode > 0
                            ? ZrString::Format("The encoder program ended before it had read all "
                                               "the audio (exit code %d)",
                                               exitCode)
                            : ZrString(u"The encoder program ended before it had read all the "
                                       u"audio"));
        }
        done += count;
    }
    m_diskBudget -= bytes;
    return true;
}

bool CMp3Encoder::FinishBufferBased() {
    ZrTraceScope scope(u"CMp3Encoder::FinishBufferBased");
    return Guarded(
        scope, [&] { return Finish(scope); }, [&] { Abandon(); });
}

bool CMp3Encoder::Finish(ZrTraceScope& scope) {
    if (!m_running)
        return false;
    m_pipe.Close();
    m_running = false;
    // A program that failed leaves a file that is not whole.
    if (const int exitCode = m_pipe.ExitCode(); exitCode != 0) {
        RemoveOutput(m_temporaryOutput.IsEmpty() ? DestinationFilename : m_temporaryOutput);
        m_temporaryOutput.Empty();
        return Fail(scope,
                    exitCode < 0
                        ? ZrString(u"The encoder program did not finish its output")
                        : ZrString::Format("The encoder program failed (exit code %d)", exitCode));
    }
    if (!m_temporaryOutput.IsEmpty()) {
        const std::string from = m_temporaryOutput.ToUtf8();
        const std::string to = DestinationFilename.ToUtf8();
        if (::rename(from.c_str(), to.c_str()) != 0) {
            const int error = errno;
            RemoveOutput(m_temporaryOutput);
            m_temporaryOutput.Empty();
            return Fail(scope, ZrString::Format("Cannot move \"%s\" to \"%s\": %s", from.c_str(),
                                                to.c_str(), std::strerror(error)));
        }
        m_temporaryOutput.Empty();
    }
    return true;
}

void CMp3Encoder::Abandon() {
    if (!m_running)
        return;
    m_running = false;
    m_pipe.Close();
    RemoveOutput(m_temporaryOutput.IsEmpty() ? DestinationFilename : m_temporaryOutput);
    m_temporaryOutput.Empty();
}
