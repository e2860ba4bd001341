#include "foundation/ZrThread.h"

#include "support/TestSupport.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <regex>
#include <unistd.h>

namespace {

enum class Work { ReturnTrue, ReturnFalse, BlockInPoll };

class Worker : public ZrThread {
public:
    explicit Worker(Work work) : m_work(work) { EXPECT_EQ(::pipe2(m_pipe, O_CLOEXEC), 0); }
    ~Worker() override {
        Stop();
        ::close(m_pipe[0]);
        ::close(m_pipe[1]);
    }

protected:
    bool Run() override {
        // Nothing is ever written to the pipe, and the stop request does not end this wait.
        if (m_work == Work::BlockInPoll)
            return WaitForDescriptor(m_pipe[0], POLLIN, NoTimeout) == ZrWaitResult::Extra;
        return m_work == Work::ReturnTrue;
    }

private:
    Work m_work;
    int m_pipe[2] = {-1, -1};
};

TEST(ZrThread, StopEndsTheThreadAndReturnsItsResult) {
    struct Case {
        const char* name;
        Work work;
        int starts; // each after the previous thread has ended
        int32_t stopTimeout;
        bool result;
    } cases[] = {
        {"never started", Work::ReturnFalse, 0, 0, true},
        {"run returns false", Work::ReturnFalse, 1, ZrThread::NoTimeout, false},
        {"restarted after its end", Work::ReturnTrue, 2, ZrThread::NoTimeout, true},
        // The worker never sees the stop request: only the interruption ends its wait.
        {"blocked in poll, time-out 0", Work::BlockInPoll, 1, 0, false},
    };
    const std::regex hardKill(
        R"(ZrThread::Stop: Hard killing thread \(handle=[0-9a-f]+\), it exceeded timeout=0 MS)");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        zrtest::LogCapture log;
        {
            Worker worker(c.work);
            for (int i = 0; i < c.starts; ++i) {
                worker.WaitForExit();
                ASSERT_TRUE(worker.Start());
            }
            EXPECT_EQ(worker.GetStartCount(), c.starts);
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(worker.Stop(c.stopTimeout), c.result);
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
            EXPECT_FALSE(worker.IsRunning());
        }
        const auto lines = log.Lines();
        if (c.work == Work::BlockInPoll)
            EXPECT_TRUE(lines.size() == 1 && std::regex_match(lines[0], hardKill))
                << testing::PrintToString(lines);
        else
            EXPECT_TRUE(lines.empty()) << testing::PrintToString(lines);
    }
}

} // namespace
