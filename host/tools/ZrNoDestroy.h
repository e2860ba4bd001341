// A process-wide object that is never destroyed.
//
// Plug-ins may log or read settings from their own static destructors, which can run after
// ours; an object of the tools library therefore lives until the process ends.
#pragma once

#include <utility>

template <typename T>
union ZrNoDestroy {
    template <typename... Args>
    explicit ZrNoDestroy(Args&&... args) : Value(std::forward<Args>(args)...) {}
    ~ZrNoDestroy() {}
    ZrNoDestroy(const ZrNoDestroy&) = delete;
    ZrNoDestroy& operator=(const ZrNoDestroy&) = delete;

    T Value;
};
