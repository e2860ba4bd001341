// The main-thread message queue. Post queues from any thread; Pump, on the main thread, delivers
// the messages that were queued when it began, in the order they were posted, by calling each
// target's OnMainThreadMessage (messages posted meanwhile wait for the next Pump). The wake
// descriptor is an eventfd that polls readable while messages are queued.
//
// The main thread is the one that last called Pump; before any Pump, the one that first
// initialised the library. Forget drops a target's queued messages; called from another
// thread while Pump is delivering to that target, it waits until the delivery has returned,
// so that the target can be destroyed right after. ThreadStopped changes nothing: the stopped
// thread's last messages (its completion) stay queued and are delivered.
#pragma once

#include "tessary/ZrToolsServices.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <pthread.h>

class ZrMainThreadMessages final : public IZrMainThreadMessages {
public:
    static ZrMainThreadMessages& Instance();

    ZrMainThreadMessages();

    bool Post(IMainThreadMessageManagerCallback* target, uint32_t message, uintptr_t wParam,
              intptr_t lParam) override;
    void ThreadStopped(IMainThreadMessageManagerCallback* target) override;
    void Forget(IMainThreadMessageManagerCallback* target) override;
    uint32_t Pump() override;
    int GetWakeDescriptor() override;
    bool IsMainThread() override;

    // The library's Initialize: the calling thread is the main thread until someone pumps.
    void NoteInitialisingThread();

private:
    struct Message {
        IMainThreadMessageManagerCallback* Target;
        uint32_t Id;
        uintptr_t WParam;
        intptr_t LParam;
        uint64_t Sequence;
    };
    void Wake();
    // With m_lock held: clears the wake descriptor once nothing is queued.
    void ClearWakeWhenEmpty();

    std::mutex m_lock;
    std::condition_variable m_delivered;
    std::deque<Message> m_queue;
    IMainThreadMessageManagerCallback* m_delivering = nullptr;
    pthread_t m_main{};
    bool m_mainKnown = false;
    uint64_t m_nextSequence = 0;
    int m_wake = -1;
};
