// One input file encoded to one output: decoding, the encoder's calling order, the temporary
// output and its final rename. Runs on a worker thread; reports progress through JobStatus.
#pragma once

#include "foundation/ZrString.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zrenc {

// The encoder every job of a run uses, and how it is configured.
struct EncoderChoice {
    ZrString name;                       // display name: the registration's key
    ZrString profile;                    // client name of the saved settings; may be empty
    std::optional<ZrString> runSettings; // -s
    int32_t index = -1;                  // the factory index, for the limits zrenc names
    bool verify = false;                 // --verify
    int64_t corruptSample = -1;          // --debug-corrupt-sample
};

struct JobSpec {
    std::string input;
    std::string output; // the final name
    bool replace = false;
};

// Written by the job, read by the display; every field may be read at any time.
struct JobStatus {
    std::atomic<bool> started{false};
    std::atomic<double> fraction{0.0};     // 0 to 1
    std::atomic<double> audioSeconds{0.0}; // of audio encoded so far
    std::atomic<int64_t> startedAt{0};     // steady clock, nanoseconds
};

struct JobOutcome {
    bool ok = false;
    bool cancelled = false;
    std::string reason;                       // why it failed
    std::vector<std::string> warnings;        // shown whatever the display, -q included
    std::vector<std::string> libraryWarnings; // the decoding libraries' lines: not with -q
    std::vector<std::string> notes;           // conversions made: not with -q
    uint64_t bytesIn = 0;
    uint64_t bytesOut = 0;
    double audioSeconds = 0.0;
    double seconds = 0.0;  // wall-clock time of the job
    bool verified = false; // the output was decoded again and matched
};

// Runs one job to the end. `cancel` is polled between blocks; once it is set the job stops,
// cancels a running file encoder and removes what it wrote.
JobOutcome RunJob(const JobSpec& spec, const EncoderChoice& choice, JobStatus& status,
                  const std::atomic<bool>& cancel);

// Parses the "Supported Bitdepths" property ("16;24").
std::vector<int32_t> ParseBitdepths(const std::string& text);

} // namespace zrenc
