// The launcher's own layered splash window (Win32 only).
#pragma once

#include <windows.h>
#include <wincodec.h>

// Exactly one of `path` and `bytes` is given; shows nothing when the image yields no picture.
void CreateSplashWindow(const char* path, const void* bytes, unsigned size);

// The single frame of the image in premultiplied BGRA, or null (also for several frames).
IWICBitmapSource* DecodeSplashImage(IStream* stream, const char* path);

// A top-down 32-bit DIB section holding the source's pixels, or null.
HBITMAP CreateSplashBitmap(IWICBitmapSource* source);

// Puts the bitmap on the window with its own alpha, centred in the primary work area.
void UpdateSplashLayer(HWND window, HBITMAP bitmap);

LRESULT CALLBACK SplashWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
