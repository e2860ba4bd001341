#include "zrenc/JobRunner.h"

#include "loader/ZrHostTools.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

namespace zrenc {

namespace {

using Clock = std::chrono::steady_clock;

ProgressRow RowFor(const std::string& input, const JobStatus& status, Clock::time_point now) {
    ProgressRow row;
    row.name = std::filesystem::path(input).filename().string();
    row.fraction = status.fraction.load();
    const Clock::time_point started{Clock::duration(status.startedAt.load())};
    const double elapsed = std::chrono::duration<double>(now - started).count();
    if (elapsed > 0.5) {
        row.speed = status.audioSeconds.load() / elapsed;
        if (row.fraction > 0.02)
            row.secondsLeft = elapsed * (1.0 - row.fraction) / row.fraction;
    }
    return row;
}

} // namespace

std::vector<JobOutcome> RunJobs(const std::vector<JobSpec>& jobs, const EncoderChoice& choice,
                                unsigned threads, Display& display, const std::atomic<bool>& cancel,
                                const RunHooks& hooks) {
    const size_t count = jobs.size();
    std::vector<JobOutcome> outcomes(count);
    std::vector<std::unique_ptr<JobStatus>> statuses;
    for (size_t i = 0; i < count; ++i)
        statuses.push_back(std::make_unique<JobStatus>());

    std::atomic<size_t> next{0};
    std::mutex lock;
    std::condition_variable changed;
    std::deque<size_t> ended; // jobs that ended and were not reported yet
    std::vector<bool> over(count);
    size_t done = 0;

    auto work = [&] {
        for (size_t i; (i = next++) < count;) {
            JobOutcome outcome;
            const bool skipped = cancel.load();
            if (skipped) {
                outcome.cancelled = true;
                outcome.reason = "cancelled";
            } else {
                outcome = RunJob(jobs[i], choice, *statuses[i], cancel);
            }
            std::lock_guard guard(lock);
            outcomes[i] = std::move(outcome);
            over[i] = true;
            if (skipped)
                ++done;
            else
                ended.push_back(i);
            changed.notify_all();
        }
    };

    const unsigned workers = static_cast<unsigned>(std::min<size_t>(std::max(1u, threads), count));
    std::vector<std::thread> pool;
    for (unsigned i = 0; i < workers; ++i)
        pool.emplace_back(work);

    std::unique_lock guard(lock);
    while (done < count) {
        guard.unlock();
        if (hooks.pump)
            hooks.pump();
        if (ZrTools* tools = ZrHostTools::Get())
            if (IZrMainThreadMessages* messages = tools->GetMainThreadMessages())
                messages->Pump();
        guard.lock();
        changed.wait_for(guard, std::chrono::milliseconds(100),
                         [&] { return !ended.empty() || done == count; });
        while (!ended.empty()) {
            const size_t i = ended.front();
            ended.pop_front();
            ++done;
            guard.unlock();
            if (hooks.finished)
                hooks.finished(i, outcomes[i]);
            guard.lock();
        }
        if (display.Live()) {
            std::vector<ProgressRow> rows;
            const auto now = Clock::now();
            for (size_t i = 0; i < count; ++i)
                if (statuses[i]->started.load() && !over[i])
                    rows.push_back(RowFor(jobs[i].input, *statuses[i], now));
            guard.unlock();
            display.Draw(rows);
            guard.lock();
        }
    }
    guard.unlock();
    for (std::thread& t : pool)
        t.join();
    display.Clear();
    return outcomes;
}

} // namespace zrenc
