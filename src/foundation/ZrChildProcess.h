// Starting, watching and ending a program run directly from an argument vector, never through a
// shell. The child gets nothing of ours but what the caller hands it: /dev/null for every
// standard descriptor it is not given, no other descriptor, and signals from their defaults.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

struct ZrSpawnOptions {
    int standardInput = -1;       // a descriptor of ours; -1: /dev/null
    std::string workingFolder;    // empty: ours
    bool ownProcessGroup = false; // so that ending it ends what it started too
};

// Starts arguments[0] (searched on PATH when it has no slash). 0 and `process` set, or the errno.
int ZrSpawnProgram(std::vector<std::string>& arguments, const ZrSpawnOptions& options,
                   pid_t& process);
// A descriptor that polls readable once the child has ended; -1 where the system has none.
int ZrOpenProcessDescriptor(pid_t process);
// Whether the child has ended, without reaping it.
bool ZrChildHasEnded(pid_t process);
// SIGKILL, through the process descriptor when there is one, so that the signal cannot reach
// another process that took over the id.
void ZrKillChild(pid_t process, int processFd);
// Waits for the child and reaps it; its wait status, or -1 when it was reaped elsewhere.
int ZrReapChild(pid_t process);
