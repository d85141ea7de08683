// The settings of a service launcher, read from its SERVICE-* resources, and the rules for their
// texts, which the packer checks with the same functions.
#pragma once

#include <cstddef>

#include "config/resource_contract.h"

enum ServiceStartKind { ServiceStartAuto, ServiceStartDelayed, ServiceStartDemand };

// Windows holds service, display and account names to 256 characters.
const size_t kServiceNameSize = 257;
const unsigned kDefaultStopTimeoutSeconds = 20;
const unsigned kLongestStopTimeoutSeconds = 3600;
// LocalService: no rights beyond those of a plain user on the machine, and anonymous on the network.
const char kDefaultServiceAccount[] = "NT AUTHORITY\\LocalService";
// The argument the service's command line carries, by which the exe knows the SCM started it.
const char kServiceRunArgument[] = "-service";

struct ServiceSettings {
    char name[kServiceNameSize];
    char displayName[kServiceNameSize];  // the name when not packed
    char description[kTextResourceLimit];
    ServiceStartKind start;
    char account[kServiceNameSize];
    char dependsOn[kTextResourceLimit];  // comma-separated, as packed
    char stopClass[kTextResourceLimit];  // slashed for FindClass; empty: the VM's own exit stops it
    char stopMethod[kServiceNameSize];
    unsigned stopTimeoutSeconds;
};

// The rules, each false on a text the launcher would not take.
bool IsServiceNameText(const char* text);
bool ParseServiceStart(const char* text, ServiceStartKind* start);
bool ParseStopTimeout(const char* text, unsigned* seconds);
// "com.example.Main.stop", optionally followed by "(String[])": the class in FindClass form and
// the method name.
bool SplitStopMethod(const char* text, char* className, size_t classSize, char* method, size_t methodSize);
// The comma-separated names as the double-NUL-terminated list CreateService takes, blanks around
// each name dropped; the bytes used, or 0 when a name is not a service name or the list does not fit.
size_t FormDependencyList(const char* commaList, char* list, size_t size);

enum ServiceSettingsResult { NotAServiceLauncher, ServiceSettingsRead, ServiceSettingsMalformed };
// Reads every SERVICE-* resource into *settings, with the defaults for the absent ones. Malformed
// prints what is wrong.
ServiceSettingsResult ReadServiceSettings(ServiceSettings* settings);
