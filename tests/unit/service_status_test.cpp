#include <gtest/gtest.h>

#include <vector>

#include "launcher/service_status.h"

namespace {

struct Step {
    ServiceEvent event;
    int exitStatus;
    bool reports;
    unsigned state = 0, accepted = 0, win32Exit = 0, serviceExit = 0, checkPoint = 0, waitHint = 0;
};

struct Story {
    const char* name;
    std::vector<Step> steps;
};

const unsigned kAll = kAcceptStop | kAcceptShutdown | kAcceptPreshutdown;

TEST(ServiceStatus, EachEventReportsWhatTheScmMustSeeAndNothingElse) {
    const Story stories[] = {
        {"clean run and stop",
         {{ServiceStarting, 0, true, 2, 0, 0, 0, 1, 3000},
          {ServiceTick, 0, true, 2, 0, 0, 0, 2, 3000},
          {ServiceMainCalled, 0, true, 4, kAll, 0, 0, 0, 0},
          {ServiceTick, 0, false},
          {ServiceStopAsked, 0, true, 3, 0, 0, 0, 1, 3000},
          {ServiceStopAsked, 0, false},
          {ServiceTick, 0, true, 3, 0, 0, 0, 2, 3000},
          {ServiceEnded, 0, true, 1, 0, 0, 0, 0, 0},
          {ServiceEnded, 0, false},
          {ServiceTick, 0, false}}},
        {"System.exit(3) while running",
         {{ServiceStarting, 0, true, 2, 0, 0, 0, 1, 3000},
          {ServiceMainCalled, 0, true, 4, kAll, 0, 0, 0, 0},
          {ServiceEnded, 3, true, 1, 0, 1066, 3, 0, 0},
          {ServiceStopAsked, 0, false}}},
        {"launch fails before main",
         {{ServiceStarting, 0, true, 2, 0, 0, 0, 1, 3000},
          {ServiceStopAsked, 0, false},
          {ServiceMainCalled, 0, true, 4, kAll, 0, 0, 0, 0},
          {ServiceEnded, -1, true, 1, 0, 1066, 0xFFFFFFFFu, 0, 0}}},
        {"stop outlives its timeout",
         {{ServiceStarting, 0, true, 2, 0, 0, 0, 1, 3000},
          {ServiceStopTimedOut, 0, false},
          {ServiceMainCalled, 0, true, 4, kAll, 0, 0, 0, 0},
          {ServiceStopAsked, 0, true, 3, 0, 0, 0, 1, 3000},
          {ServiceStopTimedOut, 0, true, 1, 0, 0, 0, 0, 0},
          {ServiceEnded, 1, false}}},
        {"second start is ignored", {{ServiceStarting, 0, true, 2, 0, 0, 0, 1, 3000}, {ServiceStarting, 0, false}}},
    };
    for (const Story& story : stories) {
        ServiceProgress progress = {0, 0};
        for (size_t i = 0; i < story.steps.size(); i++) {
            const Step& s = story.steps[i];
            ServiceReport r = {};
            bool reported = NextServiceReport(&progress, s.event, s.exitStatus, &r);
            SCOPED_TRACE(std::string(story.name) + ", step " + std::to_string(i));
            ASSERT_EQ(s.reports, reported);
            if (!reported) continue;
            EXPECT_EQ(s.state, r.state);
            EXPECT_EQ(s.accepted, r.controlsAccepted);
            EXPECT_EQ(s.win32Exit, r.win32ExitCode);
            EXPECT_EQ(s.serviceExit, r.serviceExitCode);
            EXPECT_EQ(s.checkPoint, r.checkPoint);
            EXPECT_EQ(s.waitHint, r.waitHint);
        }
    }
}

}  // namespace
