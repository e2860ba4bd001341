#include "external/ExternalEncoder.h"

#include "external/ExternalSettings.h"
#include "foundation/ZrChildProcess.h"
#include "foundation/ZrCommandLine.h"
#include "foundation/ZrFileSystem.h"
#include "foundation/ZrUtf.h"
#include "frame/ZrEncoderFactory.h"
#include "frame/ZrHostLibraries.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace ExternalSettings;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t WatchStepMs = 20;
constexpr int32_t ShortPathLimit = 255;

// The program runs in its own folder, so a relative name must not depend on ours.
std::string Absolute(const std::string& path) {
    if (path.empty() || path[0] == '/')
        return path;
    char here[4096];
    if (!::getcwd(here, sizeof here))
        return path;
    return std::string(here) + "/" + path;
}

// A file name as one token of the command line (see the header).
ZrString NameArgument(const ZrString& name, bool longNames) {
    const std::u16string_view view = name.View();
    const bool plain =
        view.find(u'"') == std::u16string_view::npos && (view.empty() || view.back() != u'\\');
    if (longNames && plain)
        return ZrString(u"\"") + view + u"\"";
    return ZrString(ZrQuoteArgument(view));
}

} // namespace

std::atomic<int32_t> CExternalEncoder::s_progressIntervalMs{1000};

CExternalEncoder::CExternalEncoder(IZrEncoderCallback* hostCallback)
    : ZrEncoderBase(hostCallback) {}

CExternalEncoder::~CExternalEncoder() {
    EndRun();
    if (IZrMainThreadMessages* messages = ZrGetMainThreadMessages())
        messages->Forget(this);
}

ZrString& CExternalEncoder::GetDisplayName(ZrString& name) {
    return name = u"External Encoder";
}

ZrString& CExternalEncoder::GetExtension(ZrString& extension) {
    return extension = TargetExtension.Get(Settings);
}

int32_t CExternalEncoder::GetEstimatedBitrate() {
    const int32_t bitrate = Bitrate.Get(Settings);
    return bitrate ? bitrate : UnknownBitrate;
}

bool CExternalEncoder::IsAnyFormatFileInput() {
    return SourceAsIs.Get(Settings) != 0;
}

void CExternalEncoder::SaveSettings() {
    ProgramPath.Save(Settings);
    ProgramParameters.Save(Settings);
    TargetExtension.Save(Settings);
    LongFilenames.Save(Settings);
    SourceAsIs.Save(Settings);
    HideWindow.Save(Settings);
    Bitrate.Save(Settings);
}

int32_t CExternalEncoder::GetConfigurable() {
    return ProgramPath.Get(Settings).IsEmpty() ? 2 : 1;
}

bool CExternalEncoder::Options() {
    ZrTraceScope scope(u"CExternalEncoder::Options", ZrLogCategoryEncoder, false);
    return Guarded(scope, [&] { return ZrShowOptionsWindow(ZrEncoderIndex::External, *this); });
}

bool CExternalEncoder::BuildCommand(Command& command) {
    ZrTraceScope scope(u"CExternalEncoder::BuildCommand", ZrLogCategoryEncoder, false);
    return Guarded(scope, [&] {
        ZrString program = ProgramPath.Get(Settings).Trimmed();
        // A path copied with its quotes still names the program.
        if (program.Length() >= 2 && program[0] == u'"' && program.EndsWith(u"\""))
            program = program.Mid(1, program.Length() - 2);
        if (program.IsEmpty())
            return Fail(scope, u"No program is set for the external encoder");
        const bool longNames = LongFilenames.Get(Settings) != 0;
        ZrString line = ProgramParameters.Get(Settings);
        if (ZrFindNoCase(line, u"%in") < 0)
            return Fail(scope, u"The program's parameters have no %IN for the source file");
        if (ZrFindNoCase(line, u"%out") < 0)
            return Fail(scope, u"The program's parameters have no %OUT for the output file");

        std::string programPath = program.ToUtf8();
        const bool inFolder = programPath.find('/') != std::string::npos;
        if (inFolder)
            programPath = Absolute(programPath);
        const auto fileName = [&](const ZrString& name) {
            return inFolder ? ZrString::FromUtf8(Absolute(name.ToUtf8())) : name;
        };
        const ZrString source = fileName(SourceFilename);
        const ZrString destination = fileName(DestinationFilename);

        if (!longNames) {
            // The short name exists only for an existing file: make one, take it, remove it.
            const std::string path = destination.ToUtf8();
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0 && errno != EEXIST)
                return Fail(scope, ZrString::Format("Cannot create the output file \"%s\": %s",
                                                    path.c_str(), std::strerror(errno)));
            if (fd >= 0)
                ::close(fd);
            ZrFileSystem::DeleteFile(destination);
            if (destination.IsEmpty() || destination.Length() > ShortPathLimit)
                return Fail(scope, ZrString::Format("The output file's short name is too long "
                                                    "(%u characters, at most %d)",
                                                    destination.Length(), ShortPathLimit));
        }
        m_outputArgument = NameArgument(destination, longNames);
        // Both at once: a source name holding "%out" must not be replaced in turn.
        const ZrString input = NameArgument(source, longNames);
        ZrString filled;
        for (int32_t from = 0;;) {
            const int32_t out = ZrFindNoCase(line, u"%out", from);
            filled += ZrReplaceNoCase(line.Mid(from, out < 0 ? SIZE_MAX : size_t(out - from)),
                                      u"%in", input);
            if (out < 0)
                break;
            filled += m_outputArgument;
            from = out + 4;
        }

        command.Arguments = ZrSplitCommandLine(filled.View());
        command.Arguments.insert(command.Arguments.begin(), programPath);
        const size_t folderEnd = programPath.rfind('/');
        command.WorkingFolder =
            inFolder ? programPath.substr(0, folderEnd ? folderEnd : 1) : std::string();
        return true;
    });
}

bool CExternalEncoder::EncodeFile() {
    ZrTraceScope scope(u"CExternalEncoder::EncodeFile", ZrLogCategoryEncoder);
    LastError.Empty();
    if (IsRunning())
        return Fail(scope, u"The external encoder is already running a program");
    EndRun();
    Command command;
    if (!BuildCommand(command))
        return false;
    return Guarded(scope, [&] {
        const std::string program = command.Arguments[0];
        // It has no console to show, hidden or not; a group of its own, so that ending the
        // program ends what it started (a script's encoder) as well.
        ZrSpawnOptions options;
        options.workingFolder = command.WorkingFolder;
        options.ownProcessGroup = true;
        pid_t process = 0;
        const int error = ZrSpawnProgram(command.Arguments, options, process);
        if (error)
            return Fail(scope, ZrString::Format("Cannot start \"%s\": %s", program.c_str(),
                                                std::strerror(error)));
        m_process = process;
        m_processFd = ZrOpenProcessDescriptor(process);
        m_reaped = false;
        if (!Start(PriorityNormal, false)) {
            EndRun();
            return Fail(scope, u"Cannot start the thread that watches the external program");
        }
        return true;
    });
}

bool CExternalEncoder::Cancel() {
    EndRun();
    return true;
}

void CExternalEncoder::EndRun() {
    Stop(NoTimeout);
    if (m_process > 0 && !m_reaped) {
        ZrKillChild(m_process, m_processFd);
        // The group cannot have been taken over: its leader is not reaped yet.
        ::kill(-m_process, SIGKILL);
        Reap();
    }
    if (m_processFd >= 0)
        ::close(m_processFd);
    m_processFd = -1;
    m_process = 0;
}

void CExternalEncoder::Reap() {
    const int status = ZrReapChild(m_process);
    m_reaped = true;
    // The host reads no exit code; a reason for a missing output helps the user all the same.
    if (status >= 0 && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
        LastError =
            WIFEXITED(status)
                ? ZrString::Format("The program ended with exit code %d", WEXITSTATUS(status))
                : ZrString::Format("The program was ended by signal %d", WTERMSIG(status));
}

bool CExternalEncoder::Run() {
    auto timer = Clock::now();
    int32_t progress = 0;
    bool stopped = false;
    for (;;) {
        bool ended;
        if (m_processFd >= 0) {
            pollfd watch{m_processFd, POLLIN, 0};
            ended = ::poll(&watch, 1, WatchStepMs) > 0;
        } else {
            ended = ZrChildHasEnded(m_process);
            if (!ended)
                std::this_thread::sleep_for(std::chrono::milliseconds(WatchStepMs));
        }
        if (ended)
            break;
        if (IsStopRequested()) {
            stopped = true;
            break;
        }
        if (Clock::now() - timer >= std::chrono::milliseconds(s_progressIntervalMs.load())) {
            if (progress < 100) {
                progress += 10;
                ZrPostMainThreadMessage(this, MessageProgress, 0, progress);
            }
            timer = Clock::now();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // The short name is the long name here, so there is nothing to rename.
    if (!stopped)
        Reap();
    ZrPostMainThreadMessage(this, MessageCompleted, 0, stopped ? -1 : 0);
    return true;
}

bool CExternalEncoder::OnMessage(uint32_t message, uintptr_t, intptr_t lParam) {
    if (!HostCallback)
        return false;
    if (message == MessageCompleted) {
        if (lParam == 0)
            HostCallback->OnEncoderFinished(this, 0);
        else
            HostCallback->OnEncoderFailed(this, -1, ZrTranslate(u"Canceled").c_str());
        return true;
    }
    if (message == MessageProgress) {
        HostCallback->OnEncoderProgress(this, static_cast<int32_t>(lParam));
        return true;
    }
    return false;
}

IZrEncoder* CreateExternalEncoder(IZrEncoderCallback* callback) {
    return new CExternalEncoder(callback);
}
