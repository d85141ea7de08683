// A stand-in runtime splash library behind the splash bridge's edge (splash/splash_edge.h): each
// export records its call, its arguments and the current folder.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

struct FakeSplashLibrary {
    std::string currentFolder = "C:\\Work";
    bool currentFolderReadable = true;
    std::vector<std::string> folderChanges;
    std::vector<std::string> loadAttempts;
    std::set<std::string> loadablePaths;  // LoadSplashLibrary succeeds only for these
    std::set<std::string> missingExports;
    std::map<std::string, int> lookups;  // export lookups per name
    std::vector<std::string> calls;      // "name(args) @folder"
    int maxPostfixLength = 64;
    bool hasScaledVariant = false;
    std::string scaledName;
    float scaledFactor = 2.0f;
    float scaleSeenOnEntry = 0.0f;
    size_t bufferSizeSeen = 0;
    std::string memorySeen;
};

extern FakeSplashLibrary g_lib;
