#include "splash/splash_bridge.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/launch_state.h"
#include "base/text.h"
#include "splash/splash.h"
#include "splash/splash_edge.h"
#include "splash/splash_image.h"

// The library's own entry point types. The boolean answer is read as one byte, which fits both a
// C++ bool and the runtime's jboolean.
typedef int (*GetScaledImgNameMaxPstfixLenFn)(const char* fileName);
typedef unsigned char (*GetScaledImageNameFn)(const char* jarName, const char* fileName, float* scaleFactor,
                                              char* scaledName, size_t scaledNameLength);
typedef void (*InitFn)(void);
typedef void (*SetScaleFactorFn)(float scaleFactor);
typedef int (*LoadFileFn)(const char* fileName);
typedef void (*SetFileJarNameFn)(const char* fileName, const char* jarName);
typedef int (*LoadMemoryFn)(void* bytes, int size);

static const char kSplashLibrarySuffix[] = "\\bin\\splashscreen.dll";
static const size_t kSplashPathLimit = 1024;

struct RuntimeSplashBridge {
    void* library;  // loaded at most once, never unloaded
    SplashEntry getScaledImgNameMaxPstfixLen;
    SplashEntry getScaledImageName;
    SplashEntry init;
    SplashEntry setScaleFactor;
    SplashEntry loadFile;
    SplashEntry setFileJarName;
    SplashEntry loadMemory;
};

static RuntimeSplashBridge g_bridge;

void ResetRuntimeSplashBridge() { memset(&g_bridge, 0, sizeof g_bridge); }

SplashEntry ResolveSplashExport(const char* name) {
    if (g_bridge.library == nullptr) {
        const char* home = g_launch.runtimeHome.text != nullptr ? g_launch.runtimeHome.text : "";
        if (strlen(home) + strlen(kSplashLibrarySuffix) >= kSplashPathLimit) return nullptr;
        char path[kSplashPathLimit];
        int written = snprintf(path, sizeof path, "%s%s", home, kSplashLibrarySuffix);
        if (written < 0 || static_cast<size_t>(written) >= sizeof path) return nullptr;
        // A failed load is not remembered: the next lookup tries again.
        g_bridge.library = LoadSplashLibrary(path);
    }
    if (g_bridge.library == nullptr) return nullptr;
    return FindSplashLibraryExport(g_bridge.library, name);
}

// Keeps an entry point once found; a miss is looked up again next time.
static SplashEntry Resolve(SplashEntry* slot, const char* name) {
    if (*slot == nullptr) *slot = ResolveSplashExport(name);
    return *slot;
}

int SplashGetScaledImgNameMaxPstfixLen(const char* fileName) {
    SplashEntry entry = Resolve(&g_bridge.getScaledImgNameMaxPstfixLen, "SplashGetScaledImgNameMaxPstfixLen");
    if (entry == nullptr) return 0;
    return reinterpret_cast<GetScaledImgNameMaxPstfixLenFn>(entry)(fileName);
}

bool SplashGetScaledImageName(const char* jarName, const char* fileName, float* scaleFactor, char* scaledName,
                              size_t scaledNameLength) {
    SplashEntry entry = Resolve(&g_bridge.getScaledImageName, "SplashGetScaledImageName");
    if (entry == nullptr) return false;
    return reinterpret_cast<GetScaledImageNameFn>(entry)(jarName, fileName, scaleFactor, scaledName,
                                                          scaledNameLength) != 0;
}

void SplashInit() {
    SplashEntry entry = Resolve(&g_bridge.init, "SplashInit");
    if (entry != nullptr) reinterpret_cast<InitFn>(entry)();
}

void SplashSetScaleFactor(float scaleFactor) {
    SplashEntry entry = Resolve(&g_bridge.setScaleFactor, "SplashSetScaleFactor");
    if (entry != nullptr) reinterpret_cast<SetScaleFactorFn>(entry)(scaleFactor);
}

int SplashLoadFile(const char* fileName) {
    SplashEntry entry = Resolve(&g_bridge.loadFile, "SplashLoadFile");
    if (entry == nullptr) return 0;
    return reinterpret_cast<LoadFileFn>(entry)(fileName);
}

void SplashSetFileJarName(const char* fileName, const char* jarName) {
    SplashEntry entry = Resolve(&g_bridge.setFileJarName, "SplashSetFileJarName");
    if (entry != nullptr) reinterpret_cast<SetFileJarNameFn>(entry)(fileName, jarName);
}

int SplashLoadMemory(void* bytes, int size) {
    SplashEntry entry = Resolve(&g_bridge.loadMemory, "SplashLoadMemory");
    if (entry == nullptr) return 0;
    return reinterpret_cast<LoadMemoryFn>(entry)(bytes, size);
}

static void LoadSplashFile(const char* path) {
    int nameSize = SplashGetScaledImgNameMaxPstfixLen(path);
    // A missing or nonsensical size still leaves a valid, empty buffer to hand over.
    size_t bufferSize = nameSize > 0 ? static_cast<size_t>(nameSize) : 0;
    char* scaledName = static_cast<char*>(AllocOrExit(bufferSize));
    scaledName[0] = '\0';
    float scaleFactor = 1.0f;
    bool scaled = SplashGetScaledImageName(nullptr, path, &scaleFactor, scaledName, bufferSize);
    SplashInit();
    if (scaled) {
        SplashSetScaleFactor(scaleFactor);
        SplashLoadFile(scaledName);
    } else {
        SplashLoadFile(path);
    }
    free(scaledName);
    // The library learns the name as given, never the scaled variant's.
    SplashSetFileJarName(path, nullptr);
}

void StartRuntimeSplash(const char* path, const void* bytes, unsigned size) {
    if (path == nullptr && bytes == nullptr) return;
    const char* home = g_launch.runtimeHome.text != nullptr ? g_launch.runtimeHome.text : "";
    char binFolder[kSplashPathLimit];
    int written = snprintf(binFolder, sizeof binFolder, "%s\\bin", home);
    bool binFits = written >= 0 && static_cast<size_t>(written) < sizeof binFolder;
    // The library resolves its own dependencies and relative image names against its bin folder.
    char savedFolder[kSplashPathLimit];
    bool saved = GetCurrentFolder(savedFolder, sizeof savedFolder);
    bool switched = saved && binFits && SetCurrentFolder(binFolder);
    if (path != nullptr) {
        LoadSplashFile(path);
    } else if (size > 0) {
        SplashInit();
        SplashLoadMemory(const_cast<void*>(bytes), static_cast<int>(size));
    }
    if (switched) SetCurrentFolder(savedFolder);
}

void ShowRuntimeSplash(const char* splashOption) {
    SplashImageSource source;
    if (!ChooseSplashImage(splashOption, &source)) return;
    StartRuntimeSplash(source.path, source.bytes, source.size);
    ReleaseSplashImage(&source);
}
