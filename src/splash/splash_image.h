// Where a splash image comes from, and where it goes on the screen: the portable half of the splash.
#pragma once

#include <cstddef>

// The image named by -splash: (a file) or carried in the VM-SPLASH resource (bytes).
struct SplashImageSource {
    const char* path;      // file to read, or null; points into `resolved` or at the option text
    unsigned char* bytes;  // zero-initialised heap copy of the resource, or null
    unsigned size;         // size of `bytes`
    char resolved[260];    // bare file name joined to the executable's folder
};

// True when `value` has neither a drive nor a directory part, so it names a file beside the exe.
bool IsBareSplashName(const char* value);

// Picks the image: the -splash: value when given (the resource is then never consulted), else a
// copy of the VM-SPLASH resource. False when there is nothing to show; the source is then empty.
bool ChooseSplashImage(const char* splashOption, SplashImageSource* source);

// Frees the resource copy and empties the source.
void ReleaseSplashImage(SplashImageSource* source);

// Top-left corner that centres a width x height image in the work area (signed, truncating).
void CentreInWorkArea(int left, int top, int right, int bottom, int width, int height, int* x, int* y);

// Position given at window creation, from the desktop window's right and bottom edges.
void SplashCreationPosition(int desktopRight, int desktopBottom, int width, int height, int* x, int* y);
