// CMp3Encoder: MP3 files made by an encoder program (LAME, or Go-Go where it exists) that runs
// as a child and reads the PCM from its standard input.
//
// The settings hold a command-line fragment; each start completes it with the program's path,
// its quiet switch, what the input is and the output's name. A stereo source goes as raw PCM
// described by switches, every other one behind a streaming WAV header.
//
// The program reads 8-bit unsigned and 16, 24 and 32-bit signed integer samples, in one or two
// channels. Float samples are sent as 32-bit integers, and more than two channels are mixed
// down to two (centre and surround at -3 dB, the low-frequency channel left out, scaled so the
// mix cannot clip); the header or the switches then describe what is sent.
//
// A destination whose name has a letter outside ASCII is written under a temporary name
// ("LameXXXXXX.tmp") in the destination's own folder and renamed at finish. The program would
// take the name itself; the detour keeps an unfinished file from ever carrying the final name.
// An output that is not whole (the program failed, the disk filled, the job was abandoned) is
// removed, and finish fails when the program did.
#pragma once

#include "external/EncoderPipe.h"
#include "foundation/ZrPcm.h"
#include "frame/ZrEncoderBase.h"

#include <array>
#include <cstdint>
#include <vector>

// What one start runs: the whole command line and whether the child reads a WAV header.
struct Mp3CommandLine {
    ZrString Line;
    bool SendHeader = true;
};

// The command line for a working line from the settings (`workingLine`, possibly empty), the
// program's path, the source's channel count (only a stereo source goes as raw PCM), the rate
// and the bits per sample of what is sent, and the output `output`.
Mp3CommandLine BuildMp3CommandLine(const ZrString& workingLine, const ZrString& programPath,
                                   uint16_t channels, uint32_t rate, uint16_t bits,
                                   const ZrString& output);

class CMp3Encoder final : public ZrEncoderBase {
public:
    explicit CMp3Encoder(IZrEncoderCallback* callback);
    ~CMp3Encoder() override;

    bool StartBufferBased(const WAVEFORMATEX* format, int64_t expectedBytes) override;
    bool EncodeBuffer(uint8_t* data, uint64_t bytes) override;
    bool FinishBufferBased() override;
    bool Options() override;
    bool CheckDependencies() override;
    ZrString& GetDisplayName(ZrString& out) override { return out = u"MP3 Encoder"; }
    ZrString& GetExtension(ZrString& out) override { return out = u"mp3"; }
    int32_t GetEstimatedBitrate() override;
    bool IsStreaming() override { return true; }
    void SaveSettings() override;
    void GetSupportedBitdepths(std::vector<int32_t>& depths) override;

    // The command line of the running or last job, for the log and tests.
    const ZrString& LastCommandLine() const { return m_commandLine; }

private:
    // The bodies of the slots of the same names.
    bool Start(ZrTraceScope& scope, const WAVEFORMATEX* format, int64_t expectedBytes);
    bool Encode(ZrTraceScope& scope, const uint8_t* data, uint64_t bytes);
    bool Finish(ZrTraceScope& scope);

    // Writes the profile's settings when the host asked for automatic configuration.
    void ApplyAutoConfig();
    // Whether this job will run Go-Go rather than LAME.
    bool RunsGoGo() const;
    // Decides what is sent for the source in Format; false with the reason when the program
    // cannot take it in any form.
    bool PlanStream(ZrString& reason);
    // The name the child writes: the destination, or a temporary file beside it.
    bool ChooseOutput(ZrString& reason);
    // Mixes or converts whole frames of the source into m_converted.
    void Convert(const uint8_t* data, size_t frames);
    // The budgeted pipe write that every byte for the child goes through.
    bool Send(ZrTraceScope& scope, const uint8_t* data, uint64_t bytes);
    bool SendConverted(ZrTraceScope& scope);
    void MeasureDiskBudget();
    // Ends a job that did not finish: stops the child and removes what it wrote.
    void Abandon();

    CEncoderPipe m_pipe;
    bool m_sendHeader = true;
    bool m_running = false; // started and not yet finished or abandoned
    uint64_t m_diskBudget = ~uint64_t{0};
    ZrString m_temporaryOutput; // set when the child writes beside the destination first
    ZrString m_commandLine;

    // The stream sent when it differs from the source.
    bool m_convert = false;
    zrpcm::Sample m_sourceSample = zrpcm::Sample::S16;
    uint16_t m_sentChannels = 0;
    uint16_t m_sentBits = 0;
    std::vector<std::array<float, 2>> m_mix; // per source channel: its weight left and right
    std::vector<uint8_t> m_partial;          // a frame split between two buffers
    std::vector<int32_t> m_converted;
};
