#include "tools/ZrMainThreadMessages.h"

#include "tools/ZrNoDestroy.h"

#include <algorithm>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

ZrMainThreadMessages& ZrMainThreadMessages::Instance() {
    static ZrNoDestroy<ZrMainThreadMessages> messages;
    return messages.Value;
}

ZrMainThreadMessages::ZrMainThreadMessages()
    : m_main(::pthread_self()), m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void ZrMainThreadMessages::NoteInitialisingThread() {
    std::lock_guard guard(m_lock);
    if (!m_mainKnown) {
        m_main = ::pthread_self();
        m_mainKnown = true;
    }
}

// The counter cannot overflow (one write per empty-to-queued change) and a failed read only
// means that it was already clear.
void ZrMainThreadMessages::Wake() {
    const uint64_t one = 1;
    if (m_wake >= 0 && ::write(m_wake, &one, sizeof one) < 0) {
    }
}

void ZrMainThreadMessages::ClearWakeWhenEmpty() {
    uint64_t count;
    if (m_queue.empty() && m_wake >= 0 && ::read(m_wake, &count, sizeof count) < 0) {
    }
}

bool ZrMainThreadMessages::Post(IMainThreadMessageManagerCallback* target, uint32_t message,
                                uintptr_t wParam, intptr_t lParam) {
    if (!target)
        return false;
    std::lock_guard guard(m_lock);
    m_queue.push_back({target, message, wParam, lParam, m_nextSequence++});
    if (m_queue.size() == 1)
        Wake();
    return true;
}

void ZrMainThreadMessages::ThreadStopped(IMainThreadMessageManagerCallback*) {}

void ZrMainThreadMessages::Forget(IMainThreadMessageManagerCallback* target) {
    std::unique_lock guard(m_lock);
    std::erase_if(m_queue, [target](const Message& m) { return m.Target == target; });
    ClearWakeWhenEmpty();
    // A target may be forgotten from inside its own delivery, on the main thread.
    if (!(m_mainKnown && ::pthread_equal(m_main, ::pthread_self())))
        m_delivered.wait(guard, [&] { return m_delivering != target; });
}

uint32_t ZrMainThreadMessages::Pump() {
    std::unique_lock guard(m_lock);
    m_main = ::pthread_self();
    m_mainKnown = true;
    uint32_t delivered = 0;
    const uint64_t end = m_nextSequence;
    while (!m_queue.empty() && m_queue.front().Sequence < end) {
        const Message message = m_queue.front();
        m_queue.pop_front();
        IMainThreadMessageManagerCallback* const outer = m_delivering;
        m_delivering = message.Target;
        guard.unlock();
        message.Target->OnMainThreadMessage(message.Id, message.WParam, message.LParam);
        ++delivered;
        guard.lock();
        m_delivering = outer;
        m_delivered.notify_all();
    }
    ClearWakeWhenEmpty();
    return delivered;
}

int ZrMainThreadMessages::GetWakeDescriptor() {
    return m_wake;
}

bool ZrMainThreadMessages::IsMainThread() {
    std::lock_guard guard(m_lock);
    return ::pthread_equal(m_main, ::pthread_self()) != 0;
}
