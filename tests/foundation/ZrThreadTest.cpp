#include "foundation/ZrThread.h"

#include "foundation/ZrLog.h"
#include "tessary/ZrTools.h"

#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class CaptureLogger : public IZrLogger {
public:
    bool IsEnabled(uint32_t) override { return true; }
    void Write(uint32_t, const char16_t* scope, const char16_t* text) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        Lines.push_back(ZrString(scope).ToUtf8() + ": " + ZrString(text).ToUtf8());
    }
    std::vector<std::string> Lines;

private:
    std::mutex m_mutex;
};

CaptureLogger* g_logger = nullptr;

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
        switch (m_work) {
        case Work::ReturnTrue:
            return true;
        case Work::ReturnFalse:
            return false;
        case Work::BlockInPoll:
            // Nothing is ever written to the pipe, and the stop request does not end this wait.
            return WaitForDescriptor(m_pipe[0], POLLIN, NoTimeout) == ZrWaitResult::Extra;
        }
        return false;
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
        bool hardKill;
    } cases[] = {
        {"never started", Work::ReturnFalse, 0, 0, true, false},
        {"run returns true", Work::ReturnTrue, 1, ZrThread::NoTimeout, true, false},
        {"run returns false", Work::ReturnFalse, 1, ZrThread::NoTimeout, false, false},
        {"restarted after its end", Work::ReturnTrue, 2, ZrThread::NoTimeout, true, false},
        // The worker never sees the stop request: only the interruption ends its wait.
        {"blocked in poll, time-out 0", Work::BlockInPoll, 1, 0, false, true},
    };
    const std::regex hardKill(
        R"(ZrThread::Stop: Hard killing thread \(handle=[0-9a-f]+\), it exceeded timeout=0 MS)");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureLogger logger;
        g_logger = &logger;
        ZrSetLoggerProvider([]() -> IZrLogger* { return g_logger; });
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
        ZrSetLoggerProvider(nullptr);
        std::string log;
        for (const std::string& line : logger.Lines)
            log += line + "\n";
        if (c.hardKill)
            EXPECT_TRUE(logger.Lines.size() == 1 && std::regex_match(logger.Lines[0], hardKill))
                << log;
        else
            EXPECT_EQ(log, "");
    }
}

} // namespace
