// exe-details.exe EXE [SIZE...]: what Windows itself reads from an exe's version details and icon,
// one fact per line on stdout, so that the tests do not depend on the packer's own parser:
//   fixed FILEVERSION PRODUCTVERSION         from VS_FIXEDFILEINFO (a.b.c.d)
//   string KEY=VALUE                         VerQueryValueA of the first translation (ANSI)
//   icons N                                  ExtractIconExA's count of icon groups
//   extracted LARGE_WxH SMALL_WxH            ExtractIconExA of the first icon group
//   image SIZE WxH RRGGBB                    LoadImageA of group 1 at SIZE: the bitmap's size and
//                                            the colour of its centre pixel
// Exit status 1 when the exe has no version details.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const char* const kKeys[] = {"CompanyName", "FileDescription", "FileVersion", "InternalName", "LegalCopyright",
                             "OriginalFilename", "ProductName", "ProductVersion"};

void PrintIconSize(HICON icon, char* out, size_t size) {
    ICONINFO info = {};
    BITMAP bitmap = {};
    if (icon == nullptr || !GetIconInfo(icon, &info)) {
        snprintf(out, size, "none");
        return;
    }
    HBITMAP shown = info.hbmColor != nullptr ? info.hbmColor : info.hbmMask;
    GetObjectA(shown, sizeof bitmap, &bitmap);
    snprintf(out, size, "%ldx%ld", bitmap.bmWidth, info.hbmColor != nullptr ? bitmap.bmHeight : bitmap.bmHeight / 2);
    if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
    if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
}

void PrintVersion(const char* exe) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(exe, &ignored);
    std::vector<char> block(size + 1);
    if (size == 0 || !GetFileVersionInfoA(exe, 0, size, block.data())) {
        printf("no version details (error %lu)\n", GetLastError());
        exit(1);
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) && fixed != nullptr) {
        printf("fixed %u.%u.%u.%u %u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
               HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS), HIWORD(fixed->dwProductVersionMS),
               LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
    }
    WORD* translation = nullptr;
    if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
        length < 4) {
        printf("no translation\n");
        return;
    }
    for (const char* key : kKeys) {
        char path[128];
        snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], key);
        char* value = nullptr;
        if (VerQueryValueA(block.data(), path, reinterpret_cast<void**>(&value), &length) && value != nullptr)
            printf("string %s=%s\n", key, value);
    }
}

void PrintIcons(const char* exe, int argc, char** argv) {
    printf("icons %u\n", ExtractIconExA(exe, -1, nullptr, nullptr, 0));
    HICON large = nullptr, small = nullptr;
    ExtractIconExA(exe, 0, &large, &small, 1);
    char largeSize[32], smallSize[32];
    PrintIconSize(large, largeSize, sizeof largeSize);
    PrintIconSize(small, smallSize, sizeof smallSize);
    printf("extracted %s %s\n", largeSize, smallSize);

    HMODULE module = LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    for (int i = 0; i < argc && module != nullptr; ++i) {
        int side = atoi(argv[i]);
        HICON icon = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(1), IMAGE_ICON, side, side, 0));
        char size[32];
        PrintIconSize(icon, size, sizeof size);
        // The centre pixel, read back as 32-bit top-down.
        unsigned long colour = 0xFFFFFFFF;
        ICONINFO info = {};
        if (icon != nullptr && GetIconInfo(icon, &info) && info.hbmColor != nullptr) {
            BITMAP bitmap = {};
            GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
            std::vector<DWORD> pixels(size_t(bitmap.bmWidth) * bitmap.bmHeight);
            BITMAPINFO format = {};
            format.bmiHeader.biSize = sizeof format.bmiHeader;
            format.bmiHeader.biWidth = bitmap.bmWidth;
            format.bmiHeader.biHeight = -bitmap.bmHeight;
            format.bmiHeader.biPlanes = 1;
            format.bmiHeader.biBitCount = 32;
            HDC dc = GetDC(nullptr);
            if (GetDIBits(dc, info.hbmColor, 0, bitmap.bmHeight, pixels.data(), &format, DIB_RGB_COLORS) > 0)
                colour = pixels[size_t(bitmap.bmHeight / 2) * bitmap.bmWidth + bitmap.bmWidth / 2] & 0xFFFFFF;
            ReleaseDC(nullptr, dc);
            DeleteObject(info.hbmColor);
            if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
        }
        printf("image %d %s %06lX\n", side, size, colour);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: exe-details EXE [SIZE...]\n");
        return 2;
    }
    PrintVersion(argv[1]);
    PrintIcons(argv[1], argc - 2, argv + 2);
    return 0;
}
