// Stand-ins for the Win32 edge functions, so the portable launcher logic runs natively under test.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct FakePlatform {
    std::string archName = "amd64";
    uint64_t totalPhysical = 8ull << 30;
    uint64_t availablePhysical = 8ull << 30;
    std::string exePath = "C:\\App\\app.exe";
    std::string cacheFolder = "C:\\ProgramData\\.quorvia\\cache";
    // Resources by "TYPE/number"; bytes stored verbatim.
    std::map<std::string, std::string> resources;
    unsigned long resourceLookupError = 1813;  // ERROR_RESOURCE_TYPE_NOT_FOUND
    // Profile values by "path|key" (keys compared as given).
    std::map<std::string, std::string> profile;
    std::vector<std::string> fatalTexts;
    int printLastErrorCalls = 0;
    bool dpiAwarenessCalled = false;
    bool dpiAwarenessFlag = false;
};

extern FakePlatform g_fake;

// Resets the fake and the launch state (its strings allocated as at launcher start).
void ResetFakePlatformAndState();

void SetFakeResource(const char* typeName, unsigned number, const std::string& bytes);
