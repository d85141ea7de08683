#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <cstdlib>
#include <cstring>

#include "base/proc_address.h"
#include "base/system_library.h"
#include "splash/splash.h"
#include "splash/splash_image.h"
#include "splash/splash_window_win32.h"

// Both decoders and both factories: the "2" classes first, the older ones where they are not
// registered (Windows 7 without its platform update, and Wine).
static const CLSID kPngDecoder2 = {0xe018945b, 0xaa86, 0x4008, {0x9b, 0xd4, 0x67, 0x77, 0xa1, 0xe4, 0x0c, 0x11}};
static const CLSID kPngDecoder1 = {0x389ea17b, 0x5078, 0x4cde, {0xb6, 0xef, 0x25, 0xc1, 0x51, 0x75, 0xc7, 0x51}};
static const CLSID kImagingFactory2 = {0x317d06e8, 0x5f24, 0x433d, {0xbd, 0xf7, 0x79, 0xce, 0x68, 0xd8, 0xab, 0xc2}};
static const CLSID kImagingFactory1 = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};

static const char kSplashClassName[] = "SplashWindowClass";

// The launcher splash; main thread only.
struct LauncherSplashState {
    HBITMAP bitmap;
    int width;
    int height;
    HWND window;
    HWND owner;
    bool classRegistered;
    bool comInitialised;  // the decode's CoInitialize succeeded and is not undone yet
    bool closing;         // CloseLauncherSplash is destroying the windows itself
};

static LauncherSplashState g_splash;

static void DeleteSplashBitmap() {
    if (g_splash.bitmap != nullptr) DeleteObject(g_splash.bitmap);
    g_splash.bitmap = nullptr;
}

LRESULT CALLBACK SplashWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_KILLFOCUS:
        case WM_CHAR:
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            // Focus leaves while CloseLauncherSplash destroys the window: nothing more to do then.
            if (g_splash.closing) break;
            DeleteSplashBitmap();
            DestroyWindow(window);
            return 0;
        case WM_ERASEBKGND:
            return 0;
        case WM_NCDESTROY:
            // However a window goes (here, by its owner, or by CloseLauncherSplash), forget its handle.
            if (window == g_splash.window) g_splash.window = nullptr;
            if (window == g_splash.owner) g_splash.owner = nullptr;
            break;
        default:
            break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Reached through the system folder rather than imported: the codecs' own imports would otherwise
// be looked for beside the exe before the launcher runs.
static HRESULT ConvertToPremultipliedBgra(IWICBitmapSource* source, IWICBitmapSource** converted) {
    typedef HRESULT(WINAPI * ConvertFn)(REFWICPixelFormatGUID, IWICBitmapSource*, IWICBitmapSource**);
    HMODULE codecs = LoadSystemLibrary("windowscodecs.dll");
    ConvertFn convert = codecs ? GetProcAs<ConvertFn>(codecs, "WICConvertBitmapSource") : nullptr;
    if (convert == nullptr) return E_NOTIMPL;
    return convert(GUID_WICPixelFormat32bppPBGRA, source, converted);
}

static IWICBitmapDecoder* CreatePngDecoder() {
    IWICBitmapDecoder* decoder = nullptr;
    HRESULT hr = CoCreateInstance(kPngDecoder2, nullptr, CLSCTX_INPROC_SERVER, IID_IWICBitmapDecoder,
                                  reinterpret_cast<void**>(&decoder));
    if (FAILED(hr)) {
        decoder = nullptr;
        hr = CoCreateInstance(kPngDecoder1, nullptr, CLSCTX_INPROC_SERVER, IID_IWICBitmapDecoder,
                              reinterpret_cast<void**>(&decoder));
    }
    return SUCCEEDED(hr) ? decoder : nullptr;
}

static IWICImagingFactory* CreateImagingFactory() {
    IWICImagingFactory* factory = nullptr;
    HRESULT hr = CoCreateInstance(kImagingFactory2, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) {
        factory = nullptr;
        hr = CoCreateInstance(kImagingFactory1, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(&factory));
    }
    return SUCCEEDED(hr) ? factory : nullptr;
}

static IWICBitmapDecoder* OpenFileDecoder(const char* path) {
    IWICImagingFactory* factory = CreateImagingFactory();
    if (factory == nullptr) return nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    int wideLength = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    wchar_t* widePath = wideLength > 0 ? static_cast<wchar_t*>(calloc(wideLength, sizeof(wchar_t))) : nullptr;
    if (widePath != nullptr && MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, wideLength) == wideLength) {
        HRESULT hr = factory->CreateDecoderFromFilename(widePath, nullptr, GENERIC_READ,
                                                        WICDecodeMetadataCacheOnDemand, &decoder);
        if (FAILED(hr)) decoder = nullptr;
    }
    free(widePath);
    factory->Release();
    return decoder;
}

IWICBitmapSource* DecodeSplashImage(IStream* stream, const char* path) {
    if (!g_splash.comInitialised) {
        HRESULT hr = CoInitialize(nullptr);
        if (FAILED(hr)) return nullptr;
        g_splash.comInitialised = true;
    }
    IWICBitmapDecoder* decoder = nullptr;
    if (stream != nullptr) {
        // Resource bytes are always PNG.
        decoder = CreatePngDecoder();
        if (decoder != nullptr && FAILED(decoder->Initialize(stream, WICDecodeMetadataCacheOnLoad))) {
            decoder->Release();
            decoder = nullptr;
        }
    } else if (path != nullptr) {
        decoder = OpenFileDecoder(path);
    }
    if (decoder == nullptr) return nullptr;

    IWICBitmapSource* converted = nullptr;
    UINT frames = 0;
    // Animated or multi-page images have no single picture to show.
    if (SUCCEEDED(decoder->GetFrameCount(&frames)) && frames == 1) {
        IWICBitmapFrameDecode* frame = nullptr;
        if (SUCCEEDED(decoder->GetFrame(0, &frame))) {
            if (FAILED(ConvertToPremultipliedBgra(frame, &converted))) converted = nullptr;
            frame->Release();
        }
    }
    decoder->Release();
    return converted;
}

HBITMAP CreateSplashBitmap(IWICBitmapSource* source) {
    if (source == nullptr) return nullptr;
    UINT width = 0;
    UINT height = 0;
    if (FAILED(source->GetSize(&width, &height)) || width == 0 || height == 0) return nullptr;
    // The DIB header and CopyPixels take signed and 32-bit sizes.
    if (width > 0x7fffffffu / 4 || static_cast<unsigned long long>(width) * 4 * height > 0xffffffffull) {
        return nullptr;
    }

    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);  // rows top-down, as WIC delivers them
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;

    void* pixels = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (bitmap == nullptr || pixels == nullptr) {
        if (bitmap != nullptr) DeleteObject(bitmap);
        return nullptr;
    }
    UINT stride = width * 4;
    UINT bufferSize = stride * height;
    if (FAILED(source->CopyPixels(nullptr, stride, bufferSize, static_cast<BYTE*>(pixels)))) {
        DeleteObject(bitmap);
        return nullptr;
    }
    return bitmap;
}

void UpdateSplashLayer(HWND window, HBITMAP bitmap) {
    BITMAP info;
    memset(&info, 0, sizeof info);
    if (GetObjectA(bitmap, sizeof info, &info) == 0) return;

    MONITORINFO monitor;
    memset(&monitor, 0, sizeof monitor);
    monitor.cbSize = sizeof monitor;
    POINT origin = {0, 0};
    if (!GetMonitorInfoA(MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY), &monitor)) return;
    int x = 0;
    int y = 0;
    CentreInWorkArea(monitor.rcWork.left, monitor.rcWork.top, monitor.rcWork.right, monitor.rcWork.bottom,
                     info.bmWidth, info.bmHeight, &x, &y);
    POINT destination = {x, y};
    SIZE size = {info.bmWidth, info.bmHeight};

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BLENDFUNCTION blend;
    blend.BlendOp = AC_SRC_OVER;
    blend.BlendFlags = 0;
    blend.SourceConstantAlpha = 255;
    blend.AlphaFormat = AC_SRC_ALPHA;
    POINT sourceOrigin = {0, 0};
    UpdateLayeredWindow(window, screen, &destination, &size, memory, &sourceOrigin, 0, &blend, ULW_ALPHA);
    SelectObject(memory, previous);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

static bool RegisterSplashClass(HINSTANCE module) {
    if (g_splash.classRegistered) return true;
    WNDCLASSEXA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = 0;
    windowClass.lpfnWndProc = SplashWindowProc;
    windowClass.hInstance = module;
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.lpszClassName = kSplashClassName;
    if (RegisterClassExA(&windowClass) == 0) return false;
    g_splash.classRegistered = true;
    return true;
}

// A stream that owns a movable copy of the bytes and frees it when released.
static IStream* CreateBytesStream(const void* bytes, unsigned size) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (block == nullptr) return nullptr;
    void* locked = GlobalLock(block);
    if (locked == nullptr) {
        GlobalFree(block);
        return nullptr;
    }
    memcpy(locked, bytes, size);
    GlobalUnlock(block);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream)) || stream == nullptr) {
        GlobalFree(block);
        return nullptr;
    }
    return stream;
}

void CreateSplashWindow(const char* path, const void* bytes, unsigned size) {
    g_splash.bitmap = nullptr;
    if (path == nullptr && bytes == nullptr) return;

    RECT desktop;
    memset(&desktop, 0, sizeof desktop);
    GetWindowRect(GetDesktopWindow(), &desktop);

    HINSTANCE module = GetModuleHandleA(nullptr);
    if (!RegisterSplashClass(module)) {
        MessageBoxA(nullptr, "Failed To Register The Splash Window Class.", "Error", MB_ICONERROR);
        return;
    }

    IStream* stream = nullptr;
    if (path == nullptr && size > 0) {
        stream = CreateBytesStream(bytes, size);
        if (stream == nullptr) return;
    }
    IWICBitmapSource* source = DecodeSplashImage(stream, stream != nullptr ? nullptr : path);
    // The decoded source holds what it still needs of the stream.
    if (stream != nullptr) stream->Release();
    g_splash.bitmap = CreateSplashBitmap(source);
    if (source != nullptr) source->Release();
    // No picture, no window: a window of unknown size would only be an empty box.
    if (g_splash.bitmap == nullptr) return;
    BITMAP info;
    memset(&info, 0, sizeof info);
    if (GetObjectA(g_splash.bitmap, sizeof info, &info) == 0) {
        DeleteSplashBitmap();
        return;
    }
    g_splash.width = info.bmWidth;
    g_splash.height = info.bmHeight;

    // Owned by a hidden window, the splash gets no taskbar button.
    g_splash.owner = CreateWindowExA(0, kSplashClassName, nullptr, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, module,
                                     nullptr);
    int x = 0;
    int y = 0;
    SplashCreationPosition(desktop.right, desktop.bottom, g_splash.width, g_splash.height, &x, &y);
    g_splash.window = CreateWindowExA(WS_EX_LAYERED, kSplashClassName, "Splash Screen", WS_POPUP | WS_VISIBLE, x, y,
                                      g_splash.width, g_splash.height, g_splash.owner, nullptr, module, nullptr);
    if (g_splash.window == nullptr) {
        MessageBoxA(nullptr, "Splash Window Creation Failed.", "Error", MB_ICONERROR);
        DeleteSplashBitmap();
        return;
    }
    UpdateSplashLayer(g_splash.window, g_splash.bitmap);
}

void ShowLauncherSplash(const char* splashOption) {
    SplashImageSource source;
    if (!ChooseSplashImage(splashOption, &source)) return;
    CreateSplashWindow(source.path, source.bytes, source.size);
    ReleaseSplashImage(&source);
}

void CloseLauncherSplash() {
    g_splash.closing = true;
    // WM_NCDESTROY has already cleared the handle of a window that went by other means.
    if (g_splash.window != nullptr && IsWindow(g_splash.window)) DestroyWindow(g_splash.window);
    g_splash.window = nullptr;
    if (g_splash.owner != nullptr && IsWindow(g_splash.owner)) DestroyWindow(g_splash.owner);
    g_splash.owner = nullptr;
    g_splash.closing = false;
    DeleteSplashBitmap();
    if (g_splash.comInitialised) {
        CoUninitialize();
        g_splash.comInitialised = false;
    }
}
