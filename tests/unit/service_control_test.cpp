#include <gtest/gtest.h>

#include <string>

#include "base/diagnostics.h"
#include "fake_service_edge.h"
#include "launcher/service_control.h"

namespace {

std::string g_out, g_err;

void Capture(FILE* stream, const char* text) { (stream == stdout ? g_out : g_err) += text; }

class ServiceControl : public ::testing::Test {
protected:
    void SetUp() override {
        g_scm = FakeScm();
        g_out.clear();
        g_err.clear();
        SetMessageSink(Capture);
        settings = ServiceSettings{};
        snprintf(settings.name, sizeof settings.name, "AppSvc");
        snprintf(settings.displayName, sizeof settings.displayName, "App Service");
        snprintf(settings.account, sizeof settings.account, "NT AUTHORITY\\LocalService");
        settings.stopTimeoutSeconds = 20;
    }
    void TearDown() override { SetMessageSink(nullptr); }
    int Run(const char* command) { return RunServiceCommand(command, settings, "C:\\Program Files\\App\\app.exe"); }
    ServiceSettings settings;
};

TEST_F(ServiceControl, InstallAsksTheScmForEverySetting) {
    struct Case {
        ServiceStartKind start;
        const char* dependsOn;
        unsigned startType;
        bool delayed;
        std::vector<std::string> dependencies;
    } cases[] = {
        {ServiceStartAuto, "", 2, false, {}},
        {ServiceStartDelayed, "Tcpip, Dnscache", 2, true, {"Tcpip", "Dnscache"}},
        {ServiceStartDemand, "Tcpip", 3, false, {"Tcpip"}},
    };
    for (const Case& c : cases) {
        SetUp();
        settings.start = c.start;
        snprintf(settings.dependsOn, sizeof settings.dependsOn, "%s", c.dependsOn);
        snprintf(settings.description, sizeof settings.description, "Serves things");
        ASSERT_EQ(0, Run("-install")) << g_err;
        const FakeScmService& s = g_scm.services.at("appsvc");
        EXPECT_EQ("\"C:\\Program Files\\App\\app.exe\" -service", s.binaryPath);
        EXPECT_EQ("App Service", s.displayName);
        EXPECT_EQ("NT AUTHORITY\\LocalService", s.account);
        EXPECT_EQ(c.startType, s.startType);
        EXPECT_EQ(c.delayed, s.delayedAutoStart);
        EXPECT_EQ(c.dependencies, s.dependencies);
        EXPECT_EQ("Serves things", s.description);
        EXPECT_GE(s.restarts, 2u);
        EXPECT_GT(s.restartDelayMs, 0u);
        EXPECT_GT(s.resetSeconds, 0u);
        EXPECT_TRUE(s.failureActionsOnNonCrash);
        EXPECT_GT(s.preshutdownMs, 20000u);
        EXPECT_EQ(1u, g_scm.eventSources.count("appsvc"));
        EXPECT_EQ("", g_err);
    }
}

TEST_F(ServiceControl, SettingsWineRefusesOnlyWarn) {
    g_scm.refusals["ScmSetFailureActionsOnNonCrash"] = 87;
    g_scm.refusals["ScmSetDelayedAutoStart"] = 124;
    settings.start = ServiceStartDelayed;
    EXPECT_EQ(0, Run("-install"));
    EXPECT_EQ(1u, g_scm.services.count("appsvc"));
    EXPECT_NE(std::string::npos,
              g_err.find("Warning: could not set the delayed start of the service AppSvc (system error 124)"));
}

TEST_F(ServiceControl, RefusalsGiveAClearMessageAndAFailingStatus) {
    struct Case {
        const char* command;
        bool installed, administrator;
        unsigned state;
        const char* message;
    } cases[] = {
        {"-install", false, false, 1, "Could not install the service AppSvc: run this as an administrator.\n"},
        {"-uninstall", true, false, 1, "Could not uninstall the service AppSvc: run this as an administrator.\n"},
        {"-start", true, false, 1, "Could not start the service AppSvc: run this as an administrator.\n"},
        {"-stop", true, false, 4, "Could not stop the service AppSvc: run this as an administrator.\n"},
        {"-install", true, true, 1, "The service AppSvc is already installed.\n"},
        {"-uninstall", false, true, 1, "The service AppSvc is not installed.\n"},
        {"-status", false, false, 1, "The service AppSvc is not installed.\n"},
        {"-start", true, true, 4, "The service AppSvc is already running.\n"},
        {"-stop", true, true, 1, "The service AppSvc is not running.\n"},
    };
    for (const Case& c : cases) {
        SetUp();
        if (c.installed) g_scm.services["appsvc"].state = c.state;
        g_scm.administrator = c.administrator;
        EXPECT_EQ(1, Run(c.command)) << c.command;
        EXPECT_EQ(c.message, g_err) << c.command;
        EXPECT_EQ(c.installed, g_scm.services.count("appsvc") == 1) << c.command;
    }
}

TEST_F(ServiceControl, UninstallStopsARunningServiceFirstSoThatItGoes) {
    ASSERT_EQ(0, Run("-install"));
    g_scm.services["appsvc"].state = 4;
    EXPECT_EQ(0, Run("-uninstall")) << g_err;
    EXPECT_EQ(0u, g_scm.services.count("appsvc"));
    EXPECT_EQ(0u, g_scm.eventSources.count("appsvc"));
}

TEST_F(ServiceControl, StartAndStatusTellTheExitCodeOfAFailedStart) {
    g_scm.services["appsvc"] = FakeScmService();
    g_scm.stateAfterStart = 1;
    g_scm.exitAfterStart = 1066;
    g_scm.specificExitAfterStart = 3;
    EXPECT_EQ(1, Run("-start"));
    EXPECT_EQ("The service AppSvc stopped as it started (exit code 1066, service exit code 3).\n", g_err);
    EXPECT_EQ(0, Run("-status"));
    EXPECT_EQ("AppSvc: stopped, exit code 3\n", g_out);
}

TEST_F(ServiceControl, StopGivesUpWaitingPastItsTimeout) {
    g_scm.services["appsvc"].state = 4;
    g_scm.stopTakesEffect = false;
    EXPECT_EQ(1, Run("-stop"));
    EXPECT_EQ("The service AppSvc did not stop in time.\n", g_err);
    EXPECT_GE(g_scm.sleptMs, 30000u);
    EXPECT_LT(g_scm.sleptMs, 31000u);
}

}  // namespace
