#include <gtest/gtest.h>

#include <vector>

#include "instance/window_to_raise.h"

namespace {

const uint32_t kOwn = 7;

TEST(WindowToRaise, TheRunningInstancesVisibleWindowElseItsHiddenOneNeverOurOwn) {
    const struct {
        std::vector<RaiseCandidate> windows;  // Z order, topmost first
        int chosen;
    } cases[] = {
        {{}, -1},
        {{{kOwn, true}}, -1},                                    // only the later start's own splash
        {{{kOwn, true}, {3, false}, {3, true}}, 2},              // own splash on top, then listener, frame
        {{{3, false}, {4, false}}, 0},                           // no visible window: the topmost hidden
        {{{kOwn, false}, {3, false}, {kOwn, true}}, 1},
        {{{3, true}, {4, true}}, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChooseWindowToRaise(c.windows.data(), static_cast<int>(c.windows.size()), kOwn), c.chosen)
            << c.windows.size() << " windows";
}

}  // namespace
