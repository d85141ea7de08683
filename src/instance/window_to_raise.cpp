#include "instance/window_to_raise.h"

int ChooseWindowToRaise(const RaiseCandidate* windows, int count, uint32_t ownProcessId) {
    int hidden = -1;
    for (int i = 0; i < count; i++) {
        if (windows[i].processId == ownProcessId) continue;
        if (windows[i].visible) return i;
        if (hidden < 0) hidden = i;
    }
    return hidden;
}
