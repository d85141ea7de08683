#include "fake_splash_edge.h"

#include <cstring>

#include "splash/splash_bridge.h"
#include "splash/splash_edge.h"

FakeSplashLibrary g_lib;

static char g_libraryToken;

static std::string Text(const char* text) { return text ? text : "<null>"; }

static void Record(const std::string& call) { g_lib.calls.push_back(call + " @" + g_lib.currentFolder); }

static int FakeMaxPostfixLength(const char* fileName) {
    Record("SplashGetScaledImgNameMaxPstfixLen(" + Text(fileName) + ")");
    return g_lib.maxPostfixLength;
}

static unsigned char FakeGetScaledImageName(const char* jarName, const char* fileName, float* scaleFactor, char* scaledName,
                                     size_t scaledNameLength) {
    Record("SplashGetScaledImageName(" + Text(jarName) + "," + Text(fileName) + ")");
    g_lib.scaleSeenOnEntry = *scaleFactor;
    g_lib.bufferSizeSeen = scaledNameLength;
    if (!g_lib.hasScaledVariant || g_lib.scaledName.size() + 1 > scaledNameLength) return 0;
    memcpy(scaledName, g_lib.scaledName.c_str(), g_lib.scaledName.size() + 1);
    *scaleFactor = g_lib.scaledFactor;
    return 1;
}

static void FakeInit() { Record("SplashInit()"); }

static void FakeSetScaleFactor(float scaleFactor) { Record("SplashSetScaleFactor(" + std::to_string(scaleFactor) + ")"); }

static int FakeLoadFile(const char* fileName) {
    Record("SplashLoadFile(" + Text(fileName) + ")");
    return 1;
}

static void FakeSetFileJarName(const char* fileName, const char* jarName) {
    Record("SplashSetFileJarName(" + Text(fileName) + "," + Text(jarName) + ")");
}

static int FakeLoadMemory(void* bytes, int size) {
    g_lib.memorySeen.assign(static_cast<const char*>(bytes), size);
    Record("SplashLoadMemory(" + std::to_string(size) + ")");
    return 1;
}

static SplashEntry Entry(const char* name) {
    const std::map<std::string, SplashEntry> exports = {
        {"SplashGetScaledImgNameMaxPstfixLen", reinterpret_cast<SplashEntry>(&FakeMaxPostfixLength)},
        {"SplashGetScaledImageName", reinterpret_cast<SplashEntry>(&FakeGetScaledImageName)},
        {"SplashInit", reinterpret_cast<SplashEntry>(&FakeInit)},
        {"SplashSetScaleFactor", reinterpret_cast<SplashEntry>(&FakeSetScaleFactor)},
        {"SplashLoadFile", reinterpret_cast<SplashEntry>(&FakeLoadFile)},
        {"SplashSetFileJarName", reinterpret_cast<SplashEntry>(&FakeSetFileJarName)},
        {"SplashLoadMemory", reinterpret_cast<SplashEntry>(&FakeLoadMemory)},
    };
    auto found = exports.find(name);
    return found == exports.end() ? nullptr : found->second;
}


void* LoadSplashLibrary(const char* path) {
    g_lib.loadAttempts.push_back(std::string(path) + " @" + g_lib.currentFolder);
    return g_lib.loadablePaths.count(path) ? &g_libraryToken : nullptr;
}

SplashEntry FindSplashLibraryExport(void* library, const char* name) {
    if (library != &g_libraryToken) return nullptr;
    g_lib.lookups[name]++;
    if (g_lib.missingExports.count(name)) return nullptr;
    return Entry(name);
}

bool GetCurrentFolder(char* buffer, size_t size) {
    if (!g_lib.currentFolderReadable || g_lib.currentFolder.size() + 1 > size) return false;
    memcpy(buffer, g_lib.currentFolder.c_str(), g_lib.currentFolder.size() + 1);
    return true;
}

bool SetCurrentFolder(const char* path) {
    g_lib.folderChanges.push_back(path);
    g_lib.currentFolder = path;
    return true;
}

