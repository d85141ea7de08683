#include "splash/splash_image.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/app_paths.h"
#include "base/text.h"
#include "config/config_edge.h"
#include "config/resources.h"

bool IsBareSplashName(const char* value) {
    // A drive is two characters ending in a colon; a directory is anything up to the last separator.
    bool hasDrive = value[0] != '\0' && value[1] == ':';
    bool hasDirectory = strchr(value, '\\') != nullptr || strchr(value, '/') != nullptr;
    return !hasDrive && !hasDirectory;
}

bool ChooseSplashImage(const char* splashOption, SplashImageSource* source) {
    memset(source, 0, sizeof *source);
    if (splashOption != nullptr) {
        if (!IsBareSplashName(splashOption)) {
            // Relative directories are left to whoever opens the file, against its current directory.
            source->path = splashOption;
            return true;
        }
        const char* folder = GetExeFolder();
        if (strlen(folder) + strlen(splashOption) >= sizeof source->resolved - 1) return false;
        int written = snprintf(source->resolved, sizeof source->resolved, "%s%s", folder, splashOption);
        if (written < 0 || static_cast<size_t>(written) >= sizeof source->resolved) return false;
        source->path = source->resolved;
        return true;
    }
    size_t size = 0;
    const void* bytes = LoadLaunchResource(kSplashResource, &size, nullptr);
    if (bytes == nullptr) return false;
    // Splash images are small; anything past 32 bits of size cannot be handed on anyway.
    if (size > 0x7fffffffu) return false;
    source->bytes = static_cast<unsigned char*>(AllocOrExit(size));
    memset(source->bytes, 0, size == 0 ? 1 : size);
    if (size > 0) memcpy(source->bytes, bytes, size);
    source->size = static_cast<unsigned>(size);
    return true;
}

void ReleaseSplashImage(SplashImageSource* source) {
    free(source->bytes);
    memset(source, 0, sizeof *source);
}

void CentreInWorkArea(int left, int top, int right, int bottom, int width, int height, int* x, int* y) {
    *x = (right - left - width) / 2 + left;
    *y = (bottom - top - height) / 2 + top;
}

void SplashCreationPosition(int desktopRight, int desktopBottom, int width, int height, int* x, int* y) {
    *x = (desktopRight - width) / 2;
    *y = (desktopBottom - height) / 2;
}
