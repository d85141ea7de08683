// The launch resources: the types and numeric names that the packer writes and the launcher reads,
// and the size limit of their texts. Both sides compile this one table.
#pragma once

#include <cstddef>

struct LaunchResource {
    const char* typeName;
    unsigned numericName;
};

inline constexpr LaunchResource kClassesResource = {"CLASSES", 1000};
inline constexpr LaunchResource kMainClassResource = {"MAIN-CLASS", 3000};
inline constexpr LaunchResource kClassPathResource = {"CLASS-PATH", 4000};
inline constexpr LaunchResource kJarPathResource = {"JAR-PATH", 4500};
inline constexpr LaunchResource kVmOptionsResource = {"VM-OPTIONS", 5000};
inline constexpr LaunchResource kMd5SumResource = {"MD5-SUM", 6000};
inline constexpr LaunchResource kConfigPathResource = {"CONFIG-PATH", 9000};
inline constexpr LaunchResource kSyncPathResource = {"SYNC-PATH", 10000};
inline constexpr LaunchResource kInitHeapPercentResource = {"VM-INIT-HEAP-PERC", 11000};
inline constexpr LaunchResource kMaxHeapPercentResource = {"VM-MAX-HEAP-PERC", 11100};
// A mark: present, the launcher keeps a class-data or AOT archive of the application; its bytes are not read.
inline constexpr LaunchResource kStartupCacheResource = {"STARTUP-CACHE", 12000};
inline constexpr LaunchResource kSplashResource = {"VM-SPLASH", 20000};
// The service settings; SERVICE-NAME present makes the exe a service launcher.
inline constexpr LaunchResource kServiceNameResource = {"SERVICE-NAME", 15000};
inline constexpr LaunchResource kServiceDisplayNameResource = {"SERVICE-DISPLAY-NAME", 15001};
inline constexpr LaunchResource kServiceDescriptionResource = {"SERVICE-DESCRIPTION", 15002};
inline constexpr LaunchResource kServiceStartResource = {"SERVICE-START", 15003};
inline constexpr LaunchResource kServiceAccountResource = {"SERVICE-ACCOUNT", 15004};
inline constexpr LaunchResource kServiceDependsOnResource = {"SERVICE-DEPENDS-ON", 15005};
inline constexpr LaunchResource kServiceStopResource = {"SERVICE-STOP", 15006};
inline constexpr LaunchResource kServiceStopTimeoutResource = {"SERVICE-STOP-TIMEOUT", 15007};

// Every launch resource, for the packer to check that it has an option for each.
inline constexpr const LaunchResource* kLaunchResources[] = {
    &kClassesResource, &kMainClassResource, &kClassPathResource, &kJarPathResource,
    &kVmOptionsResource, &kMd5SumResource, &kConfigPathResource, &kSyncPathResource,
    &kInitHeapPercentResource, &kMaxHeapPercentResource, &kSplashResource, &kStartupCacheResource,
    &kServiceNameResource, &kServiceDisplayNameResource, &kServiceDescriptionResource, &kServiceStartResource,
    &kServiceAccountResource, &kServiceDependsOnResource, &kServiceStopResource, &kServiceStopTimeoutResource,
};
inline constexpr size_t kLaunchResourceCount = sizeof kLaunchResources / sizeof kLaunchResources[0];

// The launcher reads the limited texts into buffers of this size, terminator included.
inline constexpr size_t kTextResourceLimit = 1024;
