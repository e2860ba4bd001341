// The foundation's thread base (start with a priority, stop with a time-out) and the event it is
// built on.
//
// No thread is ever killed. A worker that may block makes the call interruptible: it waits in
// WaitForDescriptor, which returns when Stop's time-out has passed, or in Wait, which returns at
// the stop request. When the time-out passes, Stop writes the hard-kill line, interrupts those
// waits and then waits for Run to return. The interruption is an event, not a signal: a library
// must not take a signal's disposition from its host, and a signal that arrives just before the
// call blocks is lost.
//
// Start, Stop and the destructor are the owner's and run on one thread; SetStop and the getters
// may be called from any thread. A derived class whose Run uses members of its own calls Stop in
// its destructor: the base's destructor runs after those members are gone.
#pragma once

#include "tessary/ZrToolsServices.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <pthread.h>
#include <semaphore>

// The host's main-thread message service, which the foundation cannot look up itself: the frame
// sets it when the tools library is loaded and clears it before unloading. Null without a host.
void ZrSetMainThreadMessages(IZrMainThreadMessages* messages);
IZrMainThreadMessages* ZrGetMainThreadMessages();

// An event on an eventfd: its descriptor polls readable while the event is set, so a worker can
// wait for it together with descriptors of its own. Set and Reset cost no system call when the
// event is already in that state.
class ZrEvent {
public:
    // Check IsValid: the descriptor cannot always be created.
    ZrEvent();
    ~ZrEvent();
    ZrEvent(const ZrEvent&) = delete;
    ZrEvent& operator=(const ZrEvent&) = delete;

    bool IsValid() const { return m_fd >= 0; }
    int Descriptor() const { return m_fd; }
    bool IsSet() const { return m_set.load(); }
    void Set();
    // The waiter of an auto-reset event calls it when its wait has seen the event.
    void Reset();

private:
    int m_fd;
    std::atomic<bool> m_set{false};
};

// What ended a wait of ZrThread. When several are ready at once, the first in this order wins.
enum class ZrWaitResult {
    Interrupted, // Stop's time-out passed (WaitForDescriptor only)
    StopEvent,
    ThreadEnded,
    Extra, // the caller's descriptor is ready
    Timeout,
    Failed,
};

class ZrThread : public IMainThreadMessageManagerCallback {
public:
    // Priorities relative to the process, mapped onto the thread's nice value (5 per step).
    static constexpr int32_t PriorityIdle = -15;
    static constexpr int32_t PriorityLowest = -2;
    static constexpr int32_t PriorityNormal = 0;
    static constexpr int32_t PriorityHighest = 2;
    static constexpr int32_t PriorityTimeCritical = 15;
    // A time-out that never passes; as the argument of Stop: the default stop time-out.
    static constexpr int32_t NoTimeout = -1;
    using ExitHook = void (*)();

    ZrThread();
    ZrThread(const ZrThread&) = delete;
    ZrThread& operator=(const ZrThread&) = delete;

    // Virtual operations in slot order.
    bool OnMainThreadMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    // Stop with the default time-out; then the host's queue forgets the messages still posted
    // to this object.
    virtual ~ZrThread();
    // Starts Run on a new thread; when one is running, only with `restart` (after stopping it).
    virtual bool Start(int32_t priority = PriorityNormal, bool restart = false);
    // Requests the stop and waits for the thread: up to `timeoutMs` (NoTimeout: the default stop
    // time-out; negative: no limit), then interrupts its waits and waits on. Returns Run's
    // result; true at once for a thread never started.
    virtual bool Stop(int32_t timeoutMs = NoTimeout);
    // Sets (or clears) the stop flag and the stop event together.
    virtual void SetStop(bool stop);
    // Tells the host's main-thread message service that the thread has stopped.
    virtual void OnStopped();
    // Only while running; false when not running or when the system refuses (raising a priority
    // needs privileges).
    virtual bool SetPriority(int32_t priority);
    virtual bool IsRunning() const;
    virtual void WaitForExit();
    // Waits for the stop event, the thread's end or `extra` to become readable (a descriptor,
    // -1 for none). `timeoutMs` negative: no limit.
    virtual ZrWaitResult Wait(int32_t timeoutMs);
    virtual ZrWaitResult Wait(int32_t timeoutMs, int extra);
    // As Wait, dispatching the main thread's messages every poll interval while it waits.
    virtual ZrWaitResult WaitPumping(int32_t timeoutMs, int extra = -1);
    virtual bool GetResult() const;
    // The running thread, 0 when none.
    virtual pthread_t GetHandle() const;
    // The running thread's kernel id, 0 when none.
    virtual uint32_t GetThreadId() const;
    virtual bool IsStopRequested() const;
    // The stop event's descriptor (readable once a stop was requested), -1 when none.
    virtual int GetStopEvent() const;
    // Whether Stop may interrupt the thread once its time-out has passed.
    virtual bool CanHardKill() const;
    virtual int32_t GetStartCount() const;
    virtual void SetStopTimeout(int32_t timeoutMs);
    virtual void SetPumpMessages(bool pump);
    virtual void SetPollInterval(uint32_t intervalMs);
    virtual void SetNotifyOnStop(bool notify);
    // No effect on this platform, which has no COM.
    virtual void SetInitialiseCom(bool initialise);

    // The calling thread's priority on the scale of Start.
    static int32_t CurrentPriority();

protected:
    // The thread's body; its result is Stop's. The base waits for the stop request.
    virtual bool Run();
    virtual bool OnMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
    // False makes Start fail.
    virtual bool OnStarting();
    virtual bool StartThread(int32_t priority);
    virtual void CloseThreadHandle(pthread_t handle);
    // A function the thread calls last, after it has cleared its handle.
    virtual ExitHook GetExitHook();
    // Delivers the host's main-thread messages when called on the main thread.
    virtual void DispatchMessages();

    // For Run: waits until `fd` is ready for `events` (poll's), `timeoutMs` passes (negative: no
    // limit) or Stop's time-out interrupts the wait.
    ZrWaitResult WaitForDescriptor(int fd, short events, int32_t timeoutMs);

private:
    static void* ThreadProcedure(void* self);
    bool CreateEvents();
    // Sleeps up to `ms`, waking early when the thread ends.
    void WaitForEnd(uint32_t ms);

    std::atomic<pthread_t> m_handle{0};
    std::atomic<bool> m_stopRequested{false};
    std::unique_ptr<ZrEvent> m_stopEvent;
    [[maybe_unused]] uint32_t m_stopEventFlags = 1; // 1: the holder owns a plain event
    int32_t m_stopTimeout = NoTimeout;
    uint32_t m_pollInterval = 20;
    std::atomic<int32_t> m_startCount{0};
    std::atomic<bool> m_result{false};
    bool m_pumpMessages = false;
    bool m_notifyOnStop = true;
    bool m_initialiseCom = false;
    std::atomic<int32_t> m_priority{PriorityNormal};
    std::atomic<uint32_t> m_threadId{0};

    // A thread cannot release itself: Stop joins it.
    pthread_t m_joinable{};
    bool m_mustJoin = false;
    std::binary_semaphore m_launched{0};
    std::unique_ptr<ZrEvent> m_interruptEvent; // set when Stop's time-out has passed
    std::unique_ptr<ZrEvent> m_endedEvent;     // set when Run has returned
};
