#include <gtest/gtest.h>

#include <string>

#include "config/service_settings.h"
#include "fake_platform.h"

namespace {

TEST(ServiceSettings, StopMethodBecomesFindClassNameAndMethod) {
    struct Case {
        const char* text;
        const char* className;  // null: refused
        const char* method;
    } cases[] = {
        {"com.example.Main.stop", "com/example/Main", "stop"},
        {"com.example.Main.stop(String[])", "com/example/Main", "stop"},
        {"Main$Inner.halt", "Main$Inner", "halt"},
        {"stop", nullptr, nullptr},
        {"com..Main.stop", nullptr, nullptr},
        {"com.example.Main.", nullptr, nullptr},
        {"com.example.Main.stop()", nullptr, nullptr},
        {"com.example.2Main.stop", nullptr, nullptr},
        {"com/example/Main.stop", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        char className[64] = "", method[16] = "";
        bool ok = SplitStopMethod(c.text, className, sizeof className, method, sizeof method);
        EXPECT_EQ(c.className != nullptr, ok) << c.text;
        if (ok && c.className) {
            EXPECT_STREQ(c.className, className) << c.text;
            EXPECT_STREQ(c.method, method) << c.text;
        }
    }
    char tight[8], method[16];
    EXPECT_FALSE(SplitStopMethod("com.example.Main.stop", tight, sizeof tight, method, sizeof method));
}

TEST(ServiceSettings, ValueRules) {
    unsigned seconds = 0;
    ServiceStartKind start = ServiceStartAuto;
    struct Case {
        const char* text;
        bool timeout, startKind, serviceName;
    } cases[] = {
        {"20", true, false, true},     {"3600", true, false, true},  {"3601", false, false, true},
        {"0", false, false, true},     {"-5", false, false, true},   {"", false, false, false},
        {"demand", false, true, true}, {"Auto", false, false, true}, {"my/app", false, false, false},
        {" app", false, false, false}, {"a,b", false, false, false}, {"delayed", false, true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.timeout, ParseStopTimeout(c.text, &seconds)) << c.text;
        EXPECT_EQ(c.startKind, ParseServiceStart(c.text, &start)) << c.text;
        EXPECT_EQ(c.serviceName, IsServiceNameText(c.text)) << c.text;
    }
    ASSERT_TRUE(ParseStopTimeout("45", &seconds));
    EXPECT_EQ(45u, seconds);
    ASSERT_TRUE(ParseServiceStart("delayed", &start));
    EXPECT_EQ(ServiceStartDelayed, start);
}

TEST(ServiceSettings, DependenciesBecomeADoubleNulList) {
    struct Case {
        const char* commaList;
        size_t size;
        std::string list;  // empty: refused
    } cases[] = {
        {"Tcpip", 64, std::string("Tcpip\0\0", 7)},
        {" Tcpip , Dnscache,", 64, std::string("Tcpip\0Dnscache\0\0", 16)},
        {"", 64, std::string("\0\0", 2)},
        {"Tcpip,,Dnscache", 64, ""},
        {"a/b", 64, ""},
        {"Tcpip,Dnscache", 15, ""},
        {"Tcpip,Dnscache", 16, std::string("Tcpip\0Dnscache\0\0", 16)},
    };
    for (const Case& c : cases) {
        char list[64];
        size_t used = FormDependencyList(c.commaList, list, c.size);
        EXPECT_EQ(c.list, std::string(list, used)) << c.commaList;
    }
}

TEST(ServiceSettings, AbsentResourcesTakeTheDefaultsAndBadOnesAreNamed) {
    ResetFakePlatformAndState();
    ServiceSettings s;
    EXPECT_EQ(NotAServiceLauncher, ReadServiceSettings(&s));
    SetFakeResource("SERVICE-NAME", 15000, std::string("AppSvc\0", 7));
    ASSERT_EQ(ServiceSettingsRead, ReadServiceSettings(&s));
    EXPECT_STREQ("AppSvc", s.displayName);
    EXPECT_STREQ("NT AUTHORITY\\LocalService", s.account);
    EXPECT_EQ(ServiceStartAuto, s.start);
    EXPECT_EQ(20u, s.stopTimeoutSeconds);
    EXPECT_STREQ("", s.stopClass);
    SetFakeResource("SERVICE-STOP", 15006, std::string("com.example.Svc.stop\0", 21));
    SetFakeResource("SERVICE-STOP-TIMEOUT", 15007, std::string("7\0", 2));
    ASSERT_EQ(ServiceSettingsRead, ReadServiceSettings(&s));
    EXPECT_STREQ("com/example/Svc", s.stopClass);
    EXPECT_EQ(7u, s.stopTimeoutSeconds);
    SetFakeResource("SERVICE-START", 15003, std::string("sometimes\0", 10));
    EXPECT_EQ(ServiceSettingsMalformed, ReadServiceSettings(&s));
}

}  // namespace
