#include "foundation/ZrThread.h"

#include "foundation/ZrLog.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// poll() until a descriptor is ready or `timeoutMs` passes (negative: no limit). A signal of the
// host's restarts the wait with the time that is left. Returns poll's result.
int PollFor(pollfd* fds, nfds_t count, int32_t timeoutMs) {
    const Clock::time_point start = Clock::now();
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0)
            wait = std::max(0, timeoutMs - static_cast<int>(MillisecondsSince(start)));
        const int ready = ::poll(fds, count, wait);
        if (ready >= 0 || errno != EINTR)
            return ready;
    }
}

// Five nice steps per priority step, relative to the process's own nice value.
bool ApplyPriority(pid_t thread, int32_t priority) {
    errno = 0;
    const int base = ::getpriority(PRIO_PROCESS, ::getpid());
    if (base == -1 && errno != 0)
        return false;
    const int nice = std::clamp(base - std::clamp(priority, -15, 15) * 5, -20, 19);
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(thread), nice) == 0;
}

void NoExitHook() {}

std::atomic<IZrMainThreadMessages*> g_mainThreadMessages{nullptr};

} // namespace

void ZrSetMainThreadMessages(IZrMainThreadMessages* messages) {
    g_mainThreadMessages.store(messages);
}

IZrMainThreadMessages* ZrGetMainThreadMessages() {
    return g_mainThreadMessages.load();
}

// ---- ZrEvent ----------------------------------------------------------------------------------

// A semaphore counter: each Set that changes the state adds one, each such Reset takes one.
ZrEvent::ZrEvent() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_SEMAPHORE)) {}

ZrEvent::~ZrEvent() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void ZrEvent::Set() {
    if (m_set.exchange(true))
        return;
    const uint64_t one = 1;
    while (::write(m_fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void ZrEvent::Reset() {
    if (!m_set.exchange(false))
        return;
    // A blocking read: the Set that made the event set may not have written yet.
    uint64_t count = 0;
    while (::read(m_fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

// ---- ZrThread ---------------------------------------------------------------------------------

ZrThread::ZrThread() = default;

bool ZrThread::OnMainThreadMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return OnMessage(message, wParam, lParam);
}

ZrThread::~ZrThread() {
    Stop(NoTimeout);
    m_stopEvent.reset();
    if (IZrMainThreadMessages* messages = ZrGetMainThreadMessages())
        messages->Forget(this);
}

bool ZrThread::Start(int32_t priority, bool restart) {
    m_priority.exchange(priority);
    if (IsRunning() && !restart)
        return true;
    Stop(NoTimeout);
    SetStop(false);
    if (!OnStarting())
        return false;
    if (!CreateEvents()) {
        ZrLogLine(u"ZrThread::Start", ZrString::Format("Error starting thread, errno=%d", errno));
        return false;
    }
    if (!StartThread(priority))
        return false;
    m_startCount.fetch_add(1);
    return true;
}

bool ZrThread::CreateEvents() {
    m_stopEvent = std::make_unique<ZrEvent>();
    m_interruptEvent = std::make_unique<ZrEvent>();
    m_endedEvent = std::make_unique<ZrEvent>();
    return m_stopEvent->IsValid() && m_interruptEvent->IsValid() && m_endedEvent->IsValid();
}

bool ZrThread::StartThread(int32_t) {
    pthread_t thread{};
    if (const int error = ::pthread_create(&thread, nullptr, &ThreadProcedure, this)) {
        ZrLogLine(u"ZrThread::StartThread",
                  ZrString::Format("Error starting thread, errno=%d", error));
        return false;
    }
    m_joinable = thread;
    m_mustJoin = true;
    // Until the thread has taken its handle, id and priority, it counts as not yet started.
    m_launched.acquire();
    return true;
}

void* ZrThread::ThreadProcedure(void* self) {
    ZrThread& thread = *static_cast<ZrThread*>(self);
    thread.m_handle.exchange(::pthread_self());
    thread.m_threadId.exchange(static_cast<uint32_t>(::gettid()));
    if (const int32_t priority = thread.m_priority.load())
        ApplyPriority(::gettid(), priority);
    thread.m_launched.release();

    const ExitHook exitHook = thread.GetExitHook();
    bool result = false;
    try {
        result = thread.Run();
    } catch (const std::exception& e) {
        ZrLogLine(u"ZrThread::Run", ZrString::Format("Exception: %s", e.what()));
    }
    thread.m_result.exchange(result);
    thread.m_handle.exchange(0);
    thread.m_endedEvent->Set();
    exitHook();
    return nullptr;
}

bool ZrThread::Stop(int32_t timeoutMs) {
    if (m_startCount.load() < 1)
        return true;
    if (!m_stopRequested.load() || !m_stopEvent)
        SetStop(true);
    const int32_t limit = timeoutMs == NoTimeout ? m_stopTimeout : timeoutMs;

    const Clock::time_point start = Clock::now();
    bool interrupted = false;
    while (const pthread_t handle = m_handle.load()) {
        const double elapsed = MillisecondsSince(start);
        if (limit >= 0 && elapsed > limit && CanHardKill()) {
            // The thread is not killed: its interrupted wait returns, and Run with it.
            if (!interrupted) {
                ZrLogLine(u"ZrThread::Stop",
                          ZrString::Format("Hard killing thread (handle=%lx), it exceeded "
                                           "timeout=%d MS",
                                           static_cast<unsigned long>(handle), limit));
                if (m_interruptEvent)
                    m_interruptEvent->Set();
                interrupted = true;
            }
            WaitForEnd(100);
            continue;
        }
        if (elapsed > 1000) {
            // A thread that ended without clearing its handle (pthread_exit inside Run).
            errno = 0;
            if (::getpriority(PRIO_PROCESS, static_cast<id_t>(m_threadId.load())) == -1 &&
                errno == ESRCH) {
                ZrLogLine(u"ZrThread::Stop",
                          ZrString::Format("GetThreadPriority returned error, errno=%d", errno));
                m_handle.exchange(0);
                continue;
            }
        }
        if (m_pumpMessages)
            DispatchMessages();
        WaitForEnd(m_pollInterval);
    }

    if (m_notifyOnStop)
        OnStopped();
    const bool result = m_result.load();
    if (m_mustJoin) {
        m_mustJoin = false;
        CloseThreadHandle(m_joinable);
    }
    m_stopEvent.reset();
    m_interruptEvent.reset();
    m_endedEvent.reset();
    m_handle.exchange(0);
    m_result.exchange(false);
    m_threadId.exchange(0);
    return result;
}

void ZrThread::WaitForEnd(uint32_t ms) {
    if (!m_endedEvent) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    pollfd ended{m_endedEvent->Descriptor(), POLLIN, 0};
    PollFor(&ended, 1, static_cast<int32_t>(std::min<uint32_t>(ms, INT32_MAX)));
}

void ZrThread::SetStop(bool stop) {
    m_stopRequested.exchange(stop);
    if (!m_stopEvent)
        return;
    if (stop)
        m_stopEvent->Set();
    else
        m_stopEvent->Reset();
}

void ZrThread::OnStopped() {
    if (IZrMainThreadMessages* messages = ZrGetMainThreadMessages())
        messages->ThreadStopped(this);
}

bool ZrThread::SetPriority(int32_t priority) {
    const uint32_t thread = m_threadId.load();
    return IsRunning() && thread != 0 && ApplyPriority(static_cast<pid_t>(thread), priority);
}

int32_t ZrThread::CurrentPriority() {
    errno = 0;
    const int base = ::getpriority(PRIO_PROCESS, ::getpid());
    const int own = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
    if (errno != 0)
        return PriorityNormal;
    return (base - own) / 5;
}

bool ZrThread::IsRunning() const {
    return m_handle.load() != 0;
}

void ZrThread::WaitForExit() {
    while (IsRunning())
        WaitForEnd(m_pollInterval);
}

ZrWaitResult ZrThread::Wait(int32_t timeoutMs) {
    return Wait(timeoutMs, -1);
}

ZrWaitResult ZrThread::Wait(int32_t timeoutMs, int extra) {
    pollfd fds[3];
    ZrWaitResult meaning[3];
    nfds_t count = 0;
    const auto add = [&](int fd, ZrWaitResult result) {
        if (fd >= 0) {
            fds[count] = pollfd{fd, POLLIN, 0};
            meaning[count++] = result;
        }
    };
    add(m_stopEvent ? m_stopEvent->Descriptor() : -1, ZrWaitResult::StopEvent);
    add(m_endedEvent ? m_endedEvent->Descriptor() : -1, ZrWaitResult::ThreadEnded);
    add(extra, ZrWaitResult::Extra);
    if (count == 0)
        return ZrWaitResult::Failed;
    const int ready = PollFor(fds, count, timeoutMs);
    if (ready < 0)
        return ZrWaitResult::Failed;
    for (nfds_t i = 0; i < count; ++i)
        if (fds[i].revents != 0)
            return meaning[i];
    return ZrWaitResult::Timeout;
}

ZrWaitResult ZrThread::WaitPumping(int32_t timeoutMs, int extra) {
    const Clock::time_point start = Clock::now();
    for (;;) {
        DispatchMessages();
        int32_t slice = static_cast<int32_t>(std::min<uint32_t>(m_pollInterval, INT32_MAX));
        if (timeoutMs >= 0)
            slice = std::min(slice, std::max(0, timeoutMs - int(MillisecondsSince(start))));
        const ZrWaitResult result = Wait(slice, extra);
        if (result != ZrWaitResult::Timeout ||
            (timeoutMs >= 0 && MillisecondsSince(start) >= timeoutMs))
            return result;
    }
}

ZrWaitResult ZrThread::WaitForDescriptor(int fd, short events, int32_t timeoutMs) {
    pollfd fds[2] = {{m_interruptEvent ? m_interruptEvent->Descriptor() : -1, POLLIN, 0},
                     {fd, events, 0}};
    const int ready = PollFor(fds, 2, timeoutMs);
    if (ready < 0)
        return ZrWaitResult::Failed;
    if (fds[0].revents != 0)
        return ZrWaitResult::Interrupted;
    return fds[1].revents != 0 ? ZrWaitResult::Extra : ZrWaitResult::Timeout;
}

bool ZrThread::GetResult() const {
    return m_result.load();
}

pthread_t ZrThread::GetHandle() const {
    return m_handle.load();
}

uint32_t ZrThread::GetThreadId() const {
    return m_threadId.load();
}

bool ZrThread::IsStopRequested() const {
    return m_stopRequested.load();
}

int ZrThread::GetStopEvent() const {
    return m_stopEvent ? m_stopEvent->Descriptor() : -1;
}

bool ZrThread::CanHardKill() const {
    return true;
}

int32_t ZrThread::GetStartCount() const {
    return m_startCount.load();
}

void ZrThread::SetStopTimeout(int32_t timeoutMs) {
    m_stopTimeout = timeoutMs;
}

void ZrThread::SetPumpMessages(bool pump) {
    m_pumpMessages = pump;
}

void ZrThread::SetPollInterval(uint32_t intervalMs) {
    m_pollInterval = intervalMs;
}

void ZrThread::SetNotifyOnStop(bool notify) {
    m_notifyOnStop = notify;
}

void ZrThread::SetInitialiseCom(bool initialise) {
    m_initialiseCom = initialise;
}

bool ZrThread::Run() {
    while (!IsStopRequested())
        Wait(100);
    return true;
}

bool ZrThread::OnMessage(uint32_t, uintptr_t, intptr_t) {
    return false;
}

bool ZrThread::OnStarting() {
    return true;
}

void ZrThread::CloseThreadHandle(pthread_t handle) {
    ::pthread_join(handle, nullptr);
}

ZrThread::ExitHook ZrThread::GetExitHook() {
    return &NoExitHook;
}

void ZrThread::DispatchMessages() {
    if (IZrMainThreadMessages* messages = ZrGetMainThreadMessages();
        messages && messages->IsMainThread())
        messages->Pump();
}
