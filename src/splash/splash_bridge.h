// Hand-over of the splash image to the runtime's own splash library, bin\splashscreen.dll.
#pragma once

#include <cstddef>

// Generic entry point as looked up; each wrapper casts it to the export's real type.
typedef void (*SplashEntry)(void);

// Drives the library with a file path, or with image bytes and their size (exactly one is given).
void StartRuntimeSplash(const char* path, const void* bytes, unsigned size);

// Entry point of `name` in the runtime's splash library (loaded on first use), or null.
SplashEntry ResolveSplashExport(const char* name);

// One wrapper per export; each returns the stated fallback when the export is missing.
int SplashGetScaledImgNameMaxPstfixLen(const char* fileName);  // 0
bool SplashGetScaledImageName(const char* jarName, const char* fileName, float* scaleFactor, char* scaledName,
                              size_t scaledNameLength);  // false
void SplashInit();
void SplashSetScaleFactor(float scaleFactor);
int SplashLoadFile(const char* fileName);
void SplashSetFileJarName(const char* fileName, const char* jarName);
int SplashLoadMemory(void* bytes, int size);

// Forgets the library handle and every entry point found; lets unit tests start clean.
void ResetRuntimeSplashBridge();
