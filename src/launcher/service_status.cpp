#include "launcher/service_status.h"

bool NextServiceReport(ServiceProgress* p, ServiceEvent event, int exitStatus, ServiceReport* r) {
    if (p->state == kServiceStopped) return false;
    *r = ServiceReport{0, 0, 0, 0, 0, 0};
    switch (event) {
        case ServiceStarting:
            if (p->state != 0) return false;
            p->state = kServiceStartPending;
            p->checkPoint = 1;
            break;
        case ServiceTick:
            if (p->state != kServiceStartPending && p->state != kServiceStopPending) return false;
            p->checkPoint++;
            break;
        case ServiceMainCalled:
            if (p->state != kServiceStartPending) return false;
            p->state = kServiceRunning;
            p->checkPoint = 0;
            break;
        case ServiceStopAsked:
            if (p->state != kServiceRunning) return false;
            p->state = kServiceStopPending;
            p->checkPoint = 1;
            break;
        case ServiceEnded:
            p->state = kServiceStopped;
            p->checkPoint = 0;
            if (exitStatus != 0) {
                r->win32ExitCode = kServiceSpecificError;
                r->serviceExitCode = static_cast<unsigned>(exitStatus);
            }
            break;
        case ServiceStopTimedOut:
            // Asked for, and ended: the failure actions are not for a stop someone wanted.
            if (p->state != kServiceStopPending) return false;
            p->state = kServiceStopped;
            p->checkPoint = 0;
            break;
    }
    r->state = p->state;
    r->checkPoint = p->checkPoint;
    if (p->state == kServiceStartPending || p->state == kServiceStopPending) r->waitHint = kServiceWaitHintMs;
    if (p->state == kServiceRunning) r->controlsAccepted = kAcceptStop | kAcceptShutdown | kAcceptPreshutdown;
    return true;
}
