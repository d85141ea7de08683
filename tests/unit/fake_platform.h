// State of the stand-ins for the base, configuration, runtime and cache edges (fake_base_edge.cpp,
// fake_config_edge.cpp, fake_runtime_edge.cpp, fake_cache_edge.cpp), so that the portable launcher
// logic runs natively under test. The file layer's fake is fake_files_edge.h.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "files/entry_owner.h"

// Stand-ins for the base edge and the configuration edge, and the cache folder's name.
struct FakePlatform {
    // base/base_edge.h
    std::string archName = "amd64";
    bool consoleProgram = false;
    uint64_t totalPhysical = 8ull << 30;
    uint64_t availablePhysical = 8ull << 30;
    // ReadModuleFileName and GetCacheFolder of base/base_edge.h
    std::string exePath = "C:\\App\\app.exe";
    std::string cacheFolder = "C:\\ProgramData\\.quorvia\\cache";
    std::string userCacheFolder = "C:\\Users\\me\\AppData\\Local\\.quorvia\\cache";  // empty: none
    // config/config_edge.h: resources by "TYPE/number"; bytes stored verbatim.
    std::map<std::string, std::string> resources;
    unsigned long resourceLookupError = 1813;  // ERROR_RESOURCE_TYPE_NOT_FOUND
    // Profile values by "path|key" (keys compared as given).
    std::map<std::string, std::string> profile;
    // base/base_edge.h: what the launch reported
    std::vector<std::string> fatalTexts;
    int printLastErrorCalls = 0;
    bool dpiAwarenessCalled = false;
    bool dpiAwarenessFlag = false;
    // Options files by path (exact bytes); paths in unreadableFiles fail to read. Environment
    // variables by name, looked up without regard to case as Windows does.
    std::map<std::string, std::string> optionsFiles;
    std::set<std::string> unreadableFiles;
    std::map<std::string, std::string> environment;
    std::string workingFolder;  // the last ChangeWorkingFolder
    std::set<std::string> folders;  // the folders ChangeWorkingFolder can enter
};

extern FakePlatform g_fake;

// Resets the fake and the launch state (its strings allocated as at launcher start).
void ResetFakePlatformAndState();

void SetFakeResource(const char* typeName, unsigned number, const std::string& bytes);

// Stand-ins for the runtime edge (file status, registry) and the application-jar cache's edge.

struct FakeRuntimeAndCache {
    // runtime/runtime_edge.h
    // Paths for which the file status query succeeds.
    std::set<std::string> existingPaths;
    // Registry under HKEY_LOCAL_MACHINE: key path -> value name -> REG_SZ text.
    std::map<std::string, std::map<std::string, std::string>> registryStrings;
    // Values present with another type than REG_SZ ("key path|value name").
    std::set<std::string> registryOtherTypes;
    int openRegistryKeys = 0;
    // cache/cache_edge.h
    // Md5HexDigest: the system routines, or none when unavailable.
    bool systemMd5Available = true;
    int md5Calls = 0;
    int md5LibraryChecks = 0;  // ReportMissingMd5Library
    std::vector<std::string> staleCleanups;  // the path kept by each RemoveStaleCacheFiles
    std::vector<std::string> staleMd5SumTexts;  // the MD5-SUM text each was given ("(null)" when none)
    int orphanSweeps = 0;                       // RemoveOrphanCacheTemps
    // Cache files: contents by path (written or planted; existingPaths says which are there).
    std::map<std::string, std::string> writtenFiles;
    std::set<std::string> foreignOwned;  // owned by another account
    std::map<std::string, EntryOwner> owners;  // any other owner than the current user, by path
    std::set<std::string> links;         // a link stands at the name
    std::vector<bool> writeReplaced;     // the replace flag of each WriteCacheFile
    int digestChecks = 0;
    bool writeFails = false;  // the writer reports its own failure; the fake writes no text
    int writeAttempts = 0;
};

extern FakeRuntimeAndCache g_fakeRuntime;

// Resets the runtime and cache fakes, the cache file name, and everything ResetFakePlatformAndState resets.
void ResetFakeRuntimeAndCache();
