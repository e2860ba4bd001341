// The services of the host's tools library that worker threads and the external-program
// encoders reach through ZrTools slots 26 to 31. Each interface belongs to the tools library;
// a slot returns null when the host does not offer the service, and the caller then goes
// without it. Texts returned as ZrSysString belong to the caller (free with SysFreeString).
#pragma once

#include "tessary/SysString.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

// Slot 26: text search on UTF-16 texts, ignoring case.
class IZrStringService {
public:
    // Index (in code units) of the first occurrence of `what` in `text` at or after `start`;
    // -1 when absent, when `what` is empty or when `start` lies outside `text`. Matches are
    // compared character by character after simple case folding; a match never splits a
    // surrogate pair.
    virtual int32_t Find(const char16_t* text, const char16_t* what, int32_t start) = 0;
    // `text` with every occurrence of `what` (taken from the left, not overlapping) replaced by
    // `with`; an empty `what` replaces nothing. Null when out of memory.
    virtual ZrSysString ReplaceAll(const char16_t* text, const char16_t* what,
                                   const char16_t* with) = 0;

protected:
    ~IZrStringService() = default;
};

// The receiver of a message posted through the main-thread message service; called on the
// host's main thread.
class IMainThreadMessageManagerCallback {
public:
    virtual bool OnMainThreadMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;

protected:
    ~IMainThreadMessageManagerCallback() = default;
};

// Slot 27: messages from any thread to the host's main thread, which delivers them when it
// pumps. The main thread is the one that pumps (before the first Pump: the thread that
// initialised the tools library).
class IZrMainThreadMessages {
public:
    // Queues a message for `target`; false when the service no longer takes messages.
    virtual bool Post(IMainThreadMessageManagerCallback* target, uint32_t message, uintptr_t wParam,
                      intptr_t lParam) = 0;
    // A thread object reports that its thread has stopped; its messages still queued are
    // delivered all the same.
    virtual void ThreadStopped(IMainThreadMessageManagerCallback* target) = 0;
    // Drops every message still queued for `target` (called before it is destroyed). From
    // another thread while the main thread delivers to `target`, it waits for that delivery.
    virtual void Forget(IMainThreadMessageManagerCallback* target) = 0;
    // Host side, on the main thread: delivers every queued message; returns how many.
    virtual uint32_t Pump() = 0;
    // A descriptor that polls readable while messages are queued, for the host's wait loop.
    virtual int GetWakeDescriptor() = 0;
    virtual bool IsMainThread() = 0;

protected:
    ~IZrMainThreadMessages() = default;
};

// Slot 28: locks shared by every thread and process of the host, by name.
class IZrNamedLocks {
public:
    // True when the lock is held. Without `wait` only one attempt is made; otherwise it waits
    // up to `timeoutMs` (negative: without limit). Not re-entrant: a second Acquire of a held
    // name waits like any other, also on the same thread.
    virtual bool Acquire(const char16_t* name, int32_t timeoutMs, bool wait) = 0;
    // Gives up one hold of this process on `name`, whichever thread took it; nothing when none.
    virtual void Release(const char16_t* name) = 0;

protected:
    ~IZrNamedLocks() = default;
};

// Called when the user cancels a wait window, once per Show, on a thread of the window: it must
// not call the window's Close (which waits for that thread), only note the request.
class IZrWaitMessageCallback {
public:
    virtual void OnWaitCancelled() = 0;

protected:
    ~IZrWaitMessageCallback() = default;
};

// Slot 29: a status line shown while the main thread waits for a long operation. On a terminal
// it appears after `delayMs` with a spinner; Escape or Ctrl-C calls the callback. Without a
// terminal nothing is shown and nothing can be cancelled.
class IZrWaitWindow {
public:
    // True when the line will appear (after the delay), false when there is no terminal to
    // show it on; either way Close ends it. A second Show replaces the first. `flags` is unused.
    virtual bool Show(const char16_t* status, uint32_t delayMs, uint32_t flags,
                      IZrWaitMessageCallback* cancel) = 0;
    // Clears the line and gives the terminal back; harmless when nothing is shown.
    virtual void Close() = 0;

protected:
    ~IZrWaitWindow() = default;
};

// Slot 30: unpacks a zip or tar archive (any compression libarchive reads) held in memory.
class IZrArchiveUnpacker {
public:
    // Writes every entry below `folder` (created when missing), keeping file modes (less the
    // umask). An entry that would land outside it (absolute path, "..", a link pointing out, a
    // name behind a link) is refused: the call fails, `errorText` (when not null) names the
    // entry, and nothing of the archive is written, since every entry is checked first.
    virtual bool Unpack(const void* data, size_t size, const char16_t* folder,
                        ZrSysString* errorText) = 0;

protected:
    ~IZrArchiveUnpacker() = default;
};

// Where the file loader delivers what it fetches.
class IZrDataSink {
public:
    // False stops the transfer (the load then fails).
    virtual bool Write(const void* data, size_t size) = 0;

protected:
    ~IZrDataSink() = default;
};

// Slot 31: fetches http, https and file addresses; redirects are followed between http and
// https. An HTTP status of 400 or more fails the load.
class IZrFileLoader {
public:
    // Delivers the content of `address` to `sink`. Once `*abort` is non-zero the transfer stops
    // within 100 ms and the call fails. On failure `errorText` (when not null) says why.
    virtual bool Load(const char16_t* address, IZrDataSink* sink, const std::atomic<int32_t>* abort,
                      ZrSysString* errorText) = 0;

protected:
    ~IZrFileLoader() = default;
};
