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
// Settings that can change after installation. Marks: present, the launcher reads "{exe folder}\{exe
// base}.options" (OPTIONS-FILE) or expands ${NAME} in VM-OPTIONS and CLASS-PATH (EXPAND-ENV).
inline constexpr LaunchResource kOptionsFileResource = {"OPTIONS-FILE", 14000};
inline constexpr LaunchResource kUserOptionsFileResource = {"USER-OPTIONS-FILE", 14001};
inline constexpr LaunchResource kExpandEnvResource = {"EXPAND-ENV", 14002};
inline constexpr LaunchResource kArgumentsResource = {"ARGUMENTS", 14003};
inline constexpr LaunchResource kWorkingDirResource = {"WORKING-DIR", 14004};
inline constexpr LaunchResource kLogFileResource = {"LOG-FILE", 14005};

// The runtime rule: the Java versions the application accepts, the sources searched and their order,
// and the page offered when nothing fits. Any of them replaces the registry search of the maker's keys.
inline constexpr LaunchResource kJavaVersionResource = {"JAVA-VERSION", 13000};
inline constexpr LaunchResource kRuntimeSearchResource = {"RUNTIME-SEARCH", 13010};
inline constexpr LaunchResource kDownloadUrlResource = {"DOWNLOAD-URL", 13020};

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
    &kJavaVersionResource, &kRuntimeSearchResource, &kDownloadUrlResource,
    &kOptionsFileResource, &kUserOptionsFileResource, &kExpandEnvResource, &kArgumentsResource,
    &kWorkingDirResource, &kLogFileResource,
    &kServiceNameResource, &kServiceDisplayNameResource, &kServiceDescriptionResource, &kServiceStartResource,
    &kServiceAccountResource, &kServiceDependsOnResource, &kServiceStopResource, &kServiceStopTimeoutResource,
};
inline constexpr size_t kLaunchResourceCount = sizeof kLaunchResources / sizeof kLaunchResources[0];

// The launcher reads the limited texts into buffers of this size, terminator included.
inline constexpr size_t kTextResourceLimit = 1024;
