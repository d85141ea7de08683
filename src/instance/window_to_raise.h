// Which window a later start raises after handing its arguments over: one of the running instance's.
#pragma once

#include <cstdint>

// A top-level window of a process started from an executable of the same file name, in Z order.
struct RaiseCandidate {
    uint32_t processId;
    bool visible;
};

// The index of the window to raise, or -1: the topmost visible window of another process, else its
// topmost hidden one. The later start's own windows (its splash, its console) are never chosen:
// they go away with it, and raising one would leave the running application behind.
int ChooseWindowToRaise(const RaiseCandidate* windows, int count, uint32_t ownProcessId);
