// CPresetPipeEncoder: what the Musepack and Ogg Vorbis encoders share. Each runs its program
// as a child reading a WAV stream from standard input (the streaming header, then the PCM as
// the host delivers it) and writing the destination file named on its command line; the
// switches come from a quality preset or from the user's own command line.
#pragma once

#include "external/EncoderPipe.h"
#include "external/PresetEncoderSettings.h"
#include "frame/ZrEncoderBase.h"

#include <cstdint>
#include <vector>

class CPresetPipeEncoder : public ZrEncoderBase {
public:
    // Trace-scope names of the slots, "CMpcEncoder::StartBufferBased" and so on.
    struct ScopeNames {
        const char16_t* Start;
        const char16_t* Encode;
        const char16_t* Finish;
        const char16_t* Options;
        const char16_t* CheckDependencies;
    };

    ~CPresetPipeEncoder() override;

    bool StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) override;
    bool EncodeBuffer(uint8_t* data, uint64_t bytes) override;
    bool FinishBufferBased() override;
    bool Options() override;
    // True when the program is found; otherwise the last error says how to get it.
    bool CheckDependencies() override;
    bool IsStreaming() override { return true; }
    int32_t GetEstimatedBitrate() override;
    void SaveSettings() override { m_settings.Save(Settings); }

    // The whole command line for the program at `program`, from the settings and the
    // destination file name.
    virtual ZrString CommandLineFor(const ZrString& program) const = 0;
    // The program's full path: the installer's file name, looked up on PATH when it names no
    // folder. Empty when it is not there.
    ZrString ProgramPath() const;

protected:
    CPresetPipeEncoder(IZrEncoderCallback* callback, const ScopeNames& names,
                       const ZrPresetSettings& settings, int32_t dependency, int32_t index);

    // The program's limits on the input and the destination; false with the reason, which
    // names the limit.
    virtual bool CheckJob(ZrString& reason) const = 0;
    // Refuses a program path that exists no more; the Ogg Vorbis encoder leaves this to Start.
    virtual bool CheckProgramExists(const ZrString& program, ZrString& reason) const;
    // Whether `tail`, the last TailBytes() of the program's file (all of it when it is
    // shorter), ends as a finished file does. For a program that reports success when its
    // writes fail (on a full disk, say) and leaves a file cut short.
    virtual bool EndsWhole(const std::vector<uint8_t>& /*tail*/) const { return true; }
    virtual size_t TailBytes() const { return 0; }
    // The switches of the quality row, or the custom command line as stored.
    ZrString PresetSwitches() const;
    // The program's file name, for reasons.
    ZrString ProgramName() const;
    const ZrPresetSettings& PresetSettings() const { return m_settings; }

private:
    bool Start(ZrTraceScope& scope, const WAVEFORMATEX* format, int64_t expectedBytes);
    bool Finish(ZrTraceScope& scope);
    // Ends an unfinished job: the child gets the end of its input and goes, and the partial
    // file it leaves is removed.
    void Abandon();
    // "exit code 1", or that it was killed, then `room`; for a child that has ended.
    ZrString HowItEnded(const ZrString& room) const;
    // "N bytes free on its disk" when the destination's disk has (nearly) no room left.
    ZrString DiskRoomNote() const;

    ScopeNames m_names;
    const ZrPresetSettings& m_settings;
    int32_t m_dependency;
    int32_t m_index;
    CEncoderPipe m_pipe;
    bool m_running = false;
};

// A file name that the Windows command-line rules cannot carry inside quotation marks: one with
// a quotation mark, or ending in a backslash that would escape the closing one.
bool ZrCannotQuote(const ZrString& path);
