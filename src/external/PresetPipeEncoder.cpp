#include "external/PresetPipeEncoder.h"

#include "external/DependencyInstaller.h"
#include "foundation/ZrFileSystem.h"
#include "foundation/ZrNumber.h"
#include "frame/ZrEncoderFactory.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The pipe takes at most this many bytes per write.
constexpr uint64_t MaxWrite = uint64_t{1} << 30;
// Less room than this on the destination's disk is named when a program fails.
constexpr int64_t NearlyFullDisk = int64_t{1} << 20;

bool IsRegularFile(const ZrString& path, off_t* size = nullptr) {
    struct stat info {};
    if (::stat(path.ToUtf8().c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    if (size)
        *size = info.st_size;
    return true;
}

std::vector<uint8_t> ReadTail(const ZrString& path, size_t bytes) {
    std::vector<uint8_t> tail;
    const int fd = ::open(path.ToUtf8().c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0)
        return tail;
    if (::fstat(fd, &info) == 0 && info.st_size > 0) {
        const auto size = static_cast<uint64_t>(info.st_size);
        tail.resize(static_cast<size_t>(std::min<uint64_t>(size, bytes)));
        const ssize_t got =
            ::pread(fd, tail.data(), tail.size(), static_cast<off_t>(size - tail.size()));
        tail.resize(got > 0 ? static_cast<size_t>(got) : 0);
    }
    ::close(fd);
    return tail;
}

ZrString FileNameOf(const ZrString& path) {
    const int64_t slash = path.ReverseFind(u'/');
    return slash < 0 ? path : path.Mid(static_cast<size_t>(slash) + 1);
}

} // namespace

bool ZrCannotQuote(const ZrString& path) {
    return path.Find(u"\"") >= 0 || path.EndsWith(u"\\");
}

CPresetPipeEncoder::CPresetPipeEncoder(IZrEncoderCallback* callback, const ScopeNames& names,
                                       const ZrPresetSettings& settings, int32_t dependency,
                                       int32_t index)
    : ZrEncoderBase(callback), m_names(names), m_settings(settings), m_dependency(dependency),
      m_index(index) {}

CPresetPipeEncoder::~CPresetPipeEncoder() {
    Abandon();
}

ZrString CPresetPipeEncoder::ProgramPath() const {
    const ZrString name = DependencyInstaller::GetInstalledFilename(m_dependency);
    // A path is the installer's word for where the program is, whether it is there or not.
    if (name.Find(u"/") >= 0)
        return name;
    return DependencyInstaller::FindOnPath(name);
}

ZrString CPresetPipeEncoder::ProgramName() const {
    return FileNameOf(DependencyInstaller::GetInstalledFilename(m_dependency));
}

bool CPresetPipeEncoder::CheckDependencies() {
    ZrTraceScope scope(m_names.CheckDependencies);
    return Guarded(scope, [&] {
        if (!ProgramPath().IsEmpty())
            return true;
        return Fail(scope, DependencyInstaller::MissingReason(m_dependency));
    });
}

bool CPresetPipeEncoder::CheckProgramExists(const ZrString&, ZrString&) const {
    return true;
}

ZrString CPresetPipeEncoder::PresetSwitches() const {
    if (m_settings.Mode.Get(Settings) == ZrPresetSettings::ModeCustom)
        return m_settings.CommandLine.Get(Settings);
    return m_settings.Row(m_settings.Quality.Get(Settings)).Switch;
}

int32_t CPresetPipeEncoder::GetEstimatedBitrate() {
    const ZrPresetRow& row = m_settings.Mode.Get(Settings) == ZrPresetSettings::ModeNormal
                                 ? m_settings.Row(m_settings.Quality.Get(Settings))
                                 : m_settings.Rows.back();
    return ZrParseInt32(row.Kbps);
}

bool CPresetPipeEncoder::StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) {
    ZrTraceScope scope(m_names.Start);
    return Guarded(
        scope, [&] { return Start(scope, format, expectedBytes); }, [&] { Abandon(); });
}

bool CPresetPipeEncoder::Start(ZrTraceScope& scope, const WAVEFORMATEX* format,
                               int64_t expectedBytes) {
    // A new job on the same object: let go of whatever an earlier one left running.
    Abandon();
    if (!ZrEncoderBase::StartBufferBased(format, expectedBytes))
        return false;
    if (!CheckDependencies())
        return false;
    ZrString reason;
    if (!CheckJob(reason))
        return Fail(scope, reason);
    if (ZrCannotQuote(DestinationFilename))
        return Fail(scope, u"A destination file name with a quotation mark, or ending in a "
                           u"backslash, cannot be passed to " +
                               ProgramName() + u": " + DestinationFilename);

    const ZrString program = ProgramPath();
    if (!CheckProgramExists(program, reason))
        return Fail(scope, reason);
    if (ZrCannotQuote(program))
        return Fail(scope, u"The program's path cannot be quoted: " + program);

    // The program writes the destination itself; a file left there by an earlier job would
    // stop one of them and could pass for a new one.
    if (IsRegularFile(DestinationFilename) && !ZrFileSystem::DeleteFile(DestinationFilename))
        return Fail(scope, u"Failed to replace the existing file " + DestinationFilename);

    const ZrString commandLine = CommandLineFor(program);
    scope.Log(commandLine);
    if (!m_pipe.Start(commandLine))
        return Fail(scope, m_pipe.StartError());
    m_running = true;
    return WriteStreamingWavHeader();
}

bool CPresetPipeEncoder::EncodeBuffer(uint8_t* data, uint64_t bytes) {
    ZrTraceScope scope(m_names.Encode, 512, false);
    return Guarded(scope, [&] {
        if (!m_running || (!data && bytes > 0))
            return false;
        while (bytes > 0) {
            const uint64_t take = bytes < MaxWrite ? bytes : MaxWrite;
            if (!m_pipe.Write(data, static_cast<uint32_t>(take))) {
                const ZrString room = DiskRoomNote(); // before the partial file goes
                Abandon();
                return Fail(scope, ProgramName() + u" ended before it had taken all the audio (" +
                                       HowItEnded(room) + u")");
            }
            data += take;
            bytes -= take;
        }
        return true;
    });
}

bool CPresetPipeEncoder::FinishBufferBased() {
    ZrTraceScope scope(m_names.Finish);
    return Guarded(
        scope, [&] { return Finish(scope); }, [&] { Abandon(); });
}

bool CPresetPipeEncoder::Finish(ZrTraceScope& scope) {
    if (!m_running)
        return false;
    m_pipe.Close();
    m_running = false;
    // What the program leaves after a failure is no file to keep.
    off_t size = 0;
    ZrString reason;
    if (m_pipe.ExitCode() != 0)
        reason = ProgramName() + u" failed (" + HowItEnded(DiskRoomNote()) + u")";
    else if (!IsRegularFile(DestinationFilename, &size) || size == 0)
        reason = ProgramName() + u" wrote no file " + DestinationFilename;
    else if (TailBytes() > 0 && !EndsWhole(ReadTail(DestinationFilename, TailBytes()))) {
        const ZrString room = DiskRoomNote();
        reason = ProgramName() + u" did not finish " + DestinationFilename +
                 u": the file is cut short" + (room.IsEmpty() ? room : u" (" + room + u")");
    }
    if (reason.IsEmpty())
        return true;
    if (IsRegularFile(DestinationFilename))
        ZrFileSystem::DeleteFile(DestinationFilename);
    return Fail(scope, reason);
}

ZrString CPresetPipeEncoder::HowItEnded(const ZrString& room) const {
    ZrString how = m_pipe.ExitCode() < 0 ? ZrString(u"it was killed or crashed")
                                         : ZrString::Format("exit code %d", m_pipe.ExitCode());
    return room.IsEmpty() ? how : how + u"; " + room;
}

// The programs' own messages go nowhere; a disk without room is the likeliest cause of a
// failed write.
ZrString CPresetPipeEncoder::DiskRoomNote() const {
    const int64_t free = ZrFileSystem::FreeSpace(DestinationFilename);
    if (free < 0 || free >= NearlyFullDisk)
        return {};
    return ZrString::Format("%lld bytes free on its disk", static_cast<long long>(free));
}

void CPresetPipeEncoder::Abandon() {
    if (!m_running)
        return;
    m_pipe.Close();
    m_running = false;
    if (IsRegularFile(DestinationFilename))
        ZrFileSystem::DeleteFile(DestinationFilename);
}

bool CPresetPipeEncoder::Options() {
    ZrTraceScope scope(m_names.Options);
    return Guarded(scope, [&] { return ZrShowOptionsWindow(m_index, *this); });
}
