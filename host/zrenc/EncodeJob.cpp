#include "zrenc/EncodeJob.h"

#include "frame/ZrEncoderFactory.h"
#include "frame/ZrHostLibraries.h"
#include "loader/CEncoderPlugin.h"
#include "zrenc/InputDecoder.h"
#include "zrenc/OutputFiles.h"
#include "zrenc/Verify.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace zrenc {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t BlockBytes = size_t{1} << 17;
// How long a cancelled file encoder gets to confirm before it is destroyed anyway.
constexpr auto CancelGrace = std::chrono::seconds(10);

// The host side of a file encoder's reports. They may arrive on any thread.
class JobCallback final : public IZrEncoderCallback {
public:
    void OnEncoderFinished(IZrEncoder*, int32_t) override { End(true, {}); }
    void OnEncoderFailed(IZrEncoder*, int32_t, const char16_t* message) override {
        End(false, message ? ZrString(message).ToUtf8() : std::string());
    }
    void OnEncoderProgress(IZrEncoder*, int32_t percent) override { m_percent = percent; }

    int Percent() const { return m_percent; }
    // True once the encoder reported its end, waiting at most `timeout` for it.
    bool WaitForEnd(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, timeout, [this] { return m_ended; });
    }
    bool Succeeded() {
        std::lock_guard lock(m_lock);
        return m_succeeded;
    }
    std::string Message() {
        std::lock_guard lock(m_lock);
        return m_message;
    }

private:
    void End(bool succeeded, std::string message) {
        {
            std::lock_guard lock(m_lock);
            if (m_ended)
                return;
            m_ended = true;
            m_succeeded = succeeded;
            m_message = std::move(message);
        }
        m_changed.notify_all();
    }

    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_ended = false;
    bool m_succeeded = false;
    std::string m_message;
    std::atomic<int> m_percent{0};
};

std::string Property(IZrEncoder* encoder, const char16_t* name) {
    ZrSysString value = encoder->GetProperty(name);
    if (!value)
        return {};
    return ZrTakeSysString(value).ToUtf8();
}

bool Flag(IZrEncoder* encoder, const char16_t* name) {
    return Property(encoder, name) == "1";
}

void SetText(IZrEncoder* encoder, const char16_t* name, const std::string& value) {
    encoder->SetProperty(name, ZrString::FromUtf8(value).c_str());
}

// The integer depths of the encoders that take nothing else and do not list them: wider
// integers and float are converted to the widest.
std::vector<int32_t> IntegerDepthsOf(int32_t index) {
    switch (index) {
    case ZrEncoderIndex::Flac:
    case ZrEncoderIndex::Ape:
    case ZrEncoderIndex::Ogg: // the program reads 8, 16 and 24 bits only
        return {8, 16, 24};
    case ZrEncoderIndex::Alac:
        return {16, 24};
    case ZrEncoderIndex::Wv:
    case ZrEncoderIndex::Mpc:
        return {8, 16, 24, 32};
    default:
        return {};
    }
}

// Limits the encoders enforce with no reason, or with one a user cannot act on, in words.
std::string LimitReason(int32_t index, const PcmSpec& spec) {
    const std::string has = "; this file has ";
    if (index == ZrEncoderIndex::Ape && spec.channels > 2)
        return "Monkey's Audio takes 1 or 2 channels" + has + std::to_string(spec.channels) +
               " (downmix it first)";
    if (index == ZrEncoderIndex::Flac && spec.channels > 8)
        return "FLAC takes 1 to 8 channels" + has + std::to_string(spec.channels) +
               " (downmix it first)";
    if (index == ZrEncoderIndex::Flac && spec.rate > 1048575)
        return "FLAC takes sample rates up to 1048575 Hz" + has + std::to_string(spec.rate) +
               " Hz (resample it first)";
    return {};
}

// "6 channels at 96000 Hz -> 2 at 48000 Hz" when `file` holds another shape than was sent.
std::string ShapeNote(const std::string& file, const PcmSpec& sent) {
    InputDecoder written;
    if (!written.Open(file))
        return {};
    const PcmSpec& got = written.Source();
    if (got.channels == sent.channels && got.rate == sent.rate)
        return {};
    return std::to_string(sent.channels) + " channels at " + std::to_string(sent.rate) + " Hz -> " +
           std::to_string(got.channels) + " at " + std::to_string(got.rate) +
           " Hz, as the encoder's format takes them";
}

// Encoders' reasons may break lines ("...file:\r\n<name>"): one line for the display.
std::string OneLine(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') {
            out += text[i];
            continue;
        }
        while (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n'))
            ++i;
        if (!out.empty() && out.back() != ' ')
            out += ' ';
    }
    return out;
}

// What zrenc can find out itself when an encoder fails without a reason: the folder it writes
// in cannot be written or is full.
std::string FolderReason(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    const std::string folder = parent.empty() ? "." : parent.string();
    if (::access(folder.c_str(), W_OK) != 0)
        return std::string(std::strerror(errno)) + " (" + folder + ")";
    struct statvfs space {};
    if (::statvfs(folder.c_str(), &space) == 0 && space.f_bavail == 0)
        return std::string(std::strerror(ENOSPC)) + " (" + folder + ")";
    return {};
}

class Job {
public:
    Job(const JobSpec& spec, const EncoderChoice& choice, JobStatus& status,
        const std::atomic<bool>& cancel)
        : m_spec(spec), m_choice(choice), m_status(status), m_cancel(cancel) {}

    ~Job() {
        if (!m_temporary.empty())
            RemovePending(m_temporary, m_spec.output);
        if (!m_temporaryWav.empty()) {
            std::error_code ec;
            fs::remove(m_temporaryWav, ec);
        }
    }

    JobOutcome Run();

private:
    bool Fail(std::string reason) {
        if (m_outcome.reason.empty())
            m_outcome.reason = std::move(reason);
        return false;
    }
    bool FailFrom(IZrEncoder* encoder, const std::string& what) {
        std::string reason = OneLine(Property(encoder, u"Last Error"));
        // The user knows the output by its final name, not by the hidden one being written.
        for (size_t at;
             !m_temporary.empty() && (at = reason.find(m_temporary)) != std::string::npos;)
            reason.replace(at, m_temporary.size(), m_spec.output);
        if (reason.empty())
            reason = FolderReason(m_temporary.empty() ? m_spec.output : m_temporary);
        if (reason.empty() && m_offered)
            reason = "it refused " + Describe(*m_offered);
        return Fail(reason.empty() ? what + " (writing " + m_spec.output + ")"
                                   : what + ": " + reason);
    }
    static std::string Describe(const PcmSpec& spec) {
        return std::to_string(spec.channels) + " channels of " + std::to_string(spec.bits) +
               (spec.isFloat ? "-bit float" : "-bit integer") + " samples at " +
               std::to_string(spec.rate) + " Hz";
    }
    // True (with the job marked as cancelled) once the user asked to stop.
    bool Cancelled() {
        if (!m_cancel.load())
            return false;
        m_outcome.cancelled = true;
        Fail("cancelled");
        return true;
    }
    bool Prepare();
    bool Encode();
    bool EncodeBuffers(IZrEncoder* encoder, double from, double to);
    bool MakeWav(std::string& wavPath);
    bool EncodeFromFile(IZrEncoder* encoder, JobCallback& callback);
    void Report(double fraction, int64_t frames, uint32_t rate) {
        m_status.fraction = fraction;
        m_status.audioSeconds = rate ? static_cast<double>(frames) / rate : 0.0;
    }

    const JobSpec& m_spec;
    const EncoderChoice& m_choice;
    JobStatus& m_status;
    const std::atomic<bool>& m_cancel;
    JobOutcome m_outcome;
    InputDecoder m_decoder;
    std::string m_temporary;
    std::string m_temporaryWav;
    std::vector<std::string> m_written; // final names of the committed files
    std::optional<PcmSpec> m_offered;   // the format the encoder was started with
    PcmSpec m_sent;                     // the format of the samples the encoder was given
    std::unique_ptr<OutputVerifier> m_verifier;
};

bool Job::Prepare() {
    struct stat info {};
    if (::stat(m_spec.input.c_str(), &info) != 0)
        return Fail(std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        return Fail("not a regular file");
    m_outcome.bytesIn = static_cast<uint64_t>(info.st_size);
    if (!m_decoder.Open(m_spec.input))
        return Fail("cannot decode: the file " + m_decoder.Error());
    const PcmSpec& source = m_decoder.Source();
    m_outcome.audioSeconds = static_cast<double>(m_decoder.ExpectedFrames()) / source.rate;
    return true;
}

JobOutcome Job::Run() {
    const auto start = Clock::now();
    m_status.startedAt = start.time_since_epoch().count();
    m_status.started = true;
    m_outcome.ok = Prepare() && Encode();
    m_outcome.libraryWarnings = m_decoder.TakeLibraryWarnings();
    if (m_outcome.ok) {
        for (const std::string& path : m_written) {
            std::error_code ec;
            const auto size = fs::file_size(path, ec);
            m_outcome.bytesOut += ec ? 0 : size;
        }
        m_status.fraction = 1.0;
    }
    m_outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return m_outcome;
}

bool Job::Encode() {
    // Declared before the plug-in: the host keeps its callback alive longer than the encoder.
    JobCallback callback;
    auto plugin = std::make_unique<CEncoderPlugin>(m_choice.name, m_choice.profile, &callback);
    if (!plugin->Load(false))
        return Fail("cannot load the encoder" + (plugin->GetPath().IsEmpty()
                                                     ? std::string(" (not registered)")
                                                     : " from " + plugin->GetPath().ToUtf8()));
    IZrEncoder* encoder = plugin->GetEncoder();
    if (m_choice.runSettings)
        encoder->SetProperty(u"Settings", m_choice.runSettings->c_str());
    if (!encoder->CheckDependencies())
        return FailFrom(encoder, "programs or components it needs are missing");

    if (std::string skipped; m_choice.verify) {
        m_verifier = OutputVerifier::For(m_choice.index, Property(encoder, u"Settings"),
                                         m_choice.corruptSample, skipped);
        if (!skipped.empty())
            m_outcome.notes.push_back(skipped);
    }

    SweepStaleTemporaries(fs::path(m_spec.output).parent_path().string());
    m_temporary = TemporaryNameFor(m_spec.output);
    const bool buffers = Flag(encoder, u"Buffer Input");
    std::string source = m_spec.input;
    if (!buffers && !Flag(encoder, u"Any Format File Input") && !MakeWav(source))
        return false;
    SetText(encoder, u"Add Output Extension", "0");
    SetText(encoder, u"Source Filename", source);
    SetText(encoder, u"Destination Filename", m_temporary);
    const bool encoded =
        buffers ? EncodeBuffers(encoder, 0.0, 1.0) : EncodeFromFile(encoder, callback);
    // The encoder closes its files when it goes; only then is the output complete.
    plugin.reset();
    if (!encoded || Cancelled())
        return false;

    const std::vector<PendingFile> files = PendingFilesOf(m_temporary, m_spec.output);
    if (files.empty() || files.back().from != m_temporary)
        return Fail("the encoder reported success but wrote no output");
    // These two fit the audio to what their format takes (a stereo downmix, a profile's rate):
    // as worth saying as a change of depth.
    if (buffers && (m_choice.index == ZrEncoderIndex::Mp3 || m_choice.index == ZrEncoderIndex::Wma))
        if (std::string note = ShapeNote(m_temporary, m_sent); !note.empty())
            m_outcome.notes.push_back(std::move(note));
    if (m_verifier) {
        if (std::string failed = m_verifier->Check(m_temporary, m_spec.input); !failed.empty())
            return Fail(std::move(failed));
        m_outcome.verified = true;
    }
    std::string error;
    if (!CarryTags(m_spec.input, m_temporary, m_choice.tags, m_outcome.warnings, error))
        return Fail("cannot write the tags: " + error);
    if (!CommitFiles(files, m_spec.replace, error))
        return Fail(error);
    m_temporary.clear();
    for (const PendingFile& file : files)
        m_written.push_back(file.to);
    return true;
}

bool Job::EncodeBuffers(IZrEncoder* encoder, double from, double to) {
    std::vector<int32_t> depths = ParseBitdepths(Property(encoder, u"Supported Bitdepths"));
    if (depths.empty())
        depths = IntegerDepthsOf(m_choice.index);
    const PcmSpec spec = NegotiateSpec(m_decoder.Source(), depths);
    m_decoder.SetOutput(spec);
    if (!m_decoder.SourceNote().empty())
        m_outcome.notes.push_back(m_decoder.SourceNote());
    if (m_verifier)
        m_verifier->Start(spec);
    if (const std::string limit = LimitReason(m_choice.index, spec); !limit.empty())
        return Fail(limit);
    // The extensible record only where the plain one would lose the speakers' names.
    const WAVEFORMATEXTENSIBLE extensible = spec.ToExtensible();
    const WAVEFORMATEX plain = spec.ToWaveFormat();
    const WAVEFORMATEX& format = spec.NeedsExtensible() ? extensible.Format : plain;
    const int64_t expectedFrames = m_decoder.ExpectedFrames();
    m_offered = spec;
    m_sent = spec;
    if (!encoder->StartBufferBased(&format, expectedFrames * spec.BlockAlign()))
        return FailFrom(encoder, "could not start");
    m_offered.reset();

    const size_t target = std::max<size_t>(1, BlockBytes / spec.BlockAlign()) * spec.BlockAlign();
    std::vector<uint8_t> block;
    int64_t frames = 0;
    for (;;) {
        if (Cancelled())
            return false;
        if (!m_decoder.Read(block, target))
            return Fail("cannot decode: " + m_decoder.Error());
        if (block.empty())
            break;
        if (m_verifier)
            m_verifier->Feed(block.data(), block.size());
        if (!encoder->EncodeBuffer(block.data(), block.size()))
            return FailFrom(encoder, "failed while encoding");
        frames += static_cast<int64_t>(block.size() / spec.BlockAlign());
        const double done = expectedFrames > 0
                                ? std::min(1.0, static_cast<double>(frames) / expectedFrames)
                                : m_decoder.InputFraction();
        Report(from + (to - from) * done, frames, spec.rate);
    }
    if (!encoder->FinishBufferBased())
        return FailFrom(encoder, "failed to finish");
    // Said once all samples are through: only then are the peak and the clipped count known.
    // Clipped samples changed the sound: that is a warning, which -q keeps.
    const ConversionStats& conversion = m_decoder.Conversion();
    if (std::string note = DescribeConversion(conversion, m_decoder.Source(), spec); !note.empty())
        (conversion.clipped ? m_outcome.warnings : m_outcome.notes).push_back(std::move(note));
    m_outcome.audioSeconds = static_cast<double>(frames) / spec.rate;
    // A WAV file's header gives its length exactly: less data is a truncated file.
    if (frames < m_decoder.DeclaredFrames())
        m_outcome.warnings.push_back("the file ends early: " + std::to_string(frames) + " of " +
                                     std::to_string(m_decoder.DeclaredFrames()) +
                                     " samples per channel were read and encoded");
    return true;
}

// File encoders read a WAV file that the host makes with its own WAV encoder.
bool Job::MakeWav(std::string& wavPath) {
    std::string pattern = (fs::temp_directory_path() / "zrenc-XXXXXX.wav").string();
    const int fd = ::mkstemps(pattern.data(), 4);
    if (fd < 0)
        return Fail(std::string("cannot make a temporary WAV file: ") + std::strerror(errno));
    ::close(fd);
    m_temporaryWav = pattern;

    CEncoderPlugin wav(u"Uncompressed Wave", u"");
    if (!wav.Load(false))
        return Fail("cannot load the Uncompressed Wave encoder for the temporary WAV file");
    IZrEncoder* encoder = wav.GetEncoder();
    SetText(encoder, u"Add Output Extension", "0");
    SetText(encoder, u"Source Filename", m_spec.input);
    SetText(encoder, u"Destination Filename", m_temporaryWav);
    if (!EncodeBuffers(encoder, 0.0, 0.5)) {
        m_outcome.reason = "making the temporary WAV file: " + m_outcome.reason;
        return false;
    }
    wavPath = m_temporaryWav;
    return true;
}

bool Job::EncodeFromFile(IZrEncoder* encoder, JobCallback& callback) {
    if (Cancelled())
        return false;
    if (!encoder->EncodeFile())
        return FailFrom(encoder, "could not start");
    const double from = m_temporaryWav.empty() ? 0.0 : 0.5;
    std::optional<Clock::time_point> cancelledAt;
    while (!callback.WaitForEnd(std::chrono::milliseconds(50))) {
        m_status.fraction = from + (1.0 - from) * callback.Percent() / 100.0;
        if (m_cancel.load() && !cancelledAt) {
            encoder->Cancel();
            cancelledAt = Clock::now();
        }
        if (cancelledAt && Clock::now() - *cancelledAt > CancelGrace)
            break;
    }
    if (Cancelled())
        return false;
    if (!callback.Succeeded()) {
        const std::string message = callback.Message();
        return message.empty() ? FailFrom(encoder, "failed") : Fail("failed: " + message);
    }
    // A file encoder's "finished" only says that its program ended.
    std::error_code missing;
    const auto written = fs::file_size(m_temporary, missing);
    if (missing || written == 0)
        return FailFrom(encoder, missing ? "the encoder program wrote no output file"
                                         : "the encoder program wrote an empty output file");
    return true;
}

} // namespace

std::vector<int32_t> ParseBitdepths(const std::string& text) {
    std::vector<int32_t> depths;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(';', start), text.size());
        const std::string piece = text.substr(start, end - start);
        if (!piece.empty())
            depths.push_back(static_cast<int32_t>(std::strtol(piece.c_str(), nullptr, 10)));
        start = end + 1;
    }
    return depths;
}

JobOutcome RunJob(const JobSpec& spec, const EncoderChoice& choice, JobStatus& status,
                  const std::atomic<bool>& cancel) {
    Job job(spec, choice, status, cancel);
    return job.Run();
}

} // namespace zrenc
