// Native stand-ins for the Win32 edges that the hand-over to main calls (listener start, forwarding
// to a running instance, splash, debugger output), recording what the driver reports.
#pragma once

#include <pthread.h>

#include <string>
#include <vector>

struct NativeEdges {
    int listenerStarts = 0;
    std::string listenerClass;
    int forwards = 0;
    std::vector<std::string> forwardedArguments;
    int splashCloses = 0;
    // When set, starting the listener starts a second native thread that, once this file exists,
    // hands these arguments to the portable delivery as a received message would.
    std::string deliverWhenFileExists;
    std::vector<std::string> deliveredArguments;
    int deliveries = 1;  // the same hand-off, one after the other
    // The second thread, joined by the driver before it reports, so that its last lines are written.
    bool forwardingThreadStarted = false;
    pthread_t forwardingThread;
};

extern NativeEdges g_edges;
