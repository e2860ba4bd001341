// Runs the jobs of one zrenc call on worker threads, each job with its own encoder object,
// while the calling (main) thread pumps the host's messages and draws progress.
#pragma once

#include "zrenc/Display.h"
#include "zrenc/EncodeJob.h"

#include <atomic>
#include <functional>
#include <vector>

namespace zrenc {

struct RunHooks {
    // Called often on the main thread: the host's main-thread work.
    std::function<void()> pump;
    // Called on the main thread when job `index` has ended (not for jobs skipped after a cancel).
    std::function<void(size_t index, const JobOutcome&)> finished;
};

// Runs every job with at most `threads` at once and returns the outcomes in job order. Once
// `cancel` is set, running jobs stop and the ones not started are marked cancelled.
std::vector<JobOutcome> RunJobs(const std::vector<JobSpec>& jobs, const EncoderChoice& choice,
                                unsigned threads, Display& display, const std::atomic<bool>& cancel,
                                const RunHooks& hooks);

} // namespace zrenc
