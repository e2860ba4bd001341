// The user-defined external encoder: runs the user's command-line program on a finished file.
//
// EncodeFile builds the program's arguments from the template, starts the program and a
// monitoring thread, and returns at once; progress (10..100, once a second) and the end reach
// the host's callback later, on the host's main thread, through its main-thread message
// service. Without that service, or without a callback, nothing is reported.
//
// The program is run directly from an argument vector, never through a shell: the first argument
// is "Program Path" as stored, the others are the filled template split by the Windows
// command-line rules. Its working folder is the program's folder; standard input, output and
// error are /dev/null and no descriptor of ours reaches it.
//
// File names in the template: with long file names each name is one quoted token, so blanks,
// "$(...)", ";" and newlines stay inside one argument. A double quote cannot be written inside a
// quoted run by those rules, so a name holding one (or ending in a backslash) is written with the
// rules' backslash escaping instead (ZrQuoteArgument), which the split reads back as the exact
// name. Without long file names the name stands for the short path, which is the long path here;
// it is escaped the same way only when it needs it, as a short path never would.
#pragma once

#include "foundation/ZrThread.h"
#include "frame/ZrEncoderBase.h"

#include <atomic>
#include <string>
#include <sys/types.h>
#include <vector>

class CExternalEncoder : public ZrEncoderBase, public ZrThread {
public:
    // Message types posted from the monitoring thread to the host's main thread.
    static constexpr uint32_t MessageCompleted = 1; // value 0: finished, -1: stopped
    static constexpr uint32_t MessageProgress = 2;  // value: percent

    explicit CExternalEncoder(IZrEncoderCallback* hostCallback);
    ~CExternalEncoder() override;

    bool EncodeFile() override;
    bool Cancel() override;
    bool EncodeBuffer(uint8_t*, uint64_t) override { return false; }
    bool FinishBufferBased() override { return false; }
    bool Options() override;
    bool CheckDependencies() override { return true; }
    ZrString& GetDisplayName(ZrString& name) override;
    ZrString& GetExtension(ZrString& extension) override;
    int32_t GetEstimatedBitrate() override;
    bool IsWavFileInput() override { return true; }
    bool IsAnyFormatFileInput() override;
    bool IsBufferInput() override { return false; }
    bool IsStreaming() override { return false; }
    bool IsUncompressedWavOutput() override { return false; }
    void SaveSettings() override;
    int32_t GetConfigurable() override;

    // What EncodeFile runs.
    struct Command {
        std::vector<std::string> Arguments; // program first
        std::string WorkingFolder;          // empty: the host's current folder
    };
    // Builds the command from the settings and the file names; false with the reason in the last
    // error (a template without "%IN" or "%OUT", no program, a destination that cannot be made).
    bool BuildCommand(Command& command);
    // The text that replaced "%OUT" in the last built command.
    const ZrString& OutputArgument() const { return m_outputArgument; }
    // The running program's process id; 0 when none.
    pid_t ProcessId() const { return m_process; }

    // Tests only: the length of the "second" between progress reports (1000 ms).
    static void SetProgressInterval(int32_t ms) { s_progressIntervalMs.store(ms); }

protected:
    bool Run() override;
    bool OnMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

private:
    // Ends the monitoring thread, then a program still running (SIGKILL), and reaps it.
    void EndRun();
    // Reaps the ended program and keeps its exit status.
    void Reap();

    static std::atomic<int32_t> s_progressIntervalMs;

    ZrString m_outputArgument;
    pid_t m_process = 0;
    int m_processFd = -1; // pidfd: readable once the program has ended; -1 when unavailable
    bool m_reaped = false;
};
