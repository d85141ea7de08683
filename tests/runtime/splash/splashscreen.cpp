// Stand-in for the runtime's splash screen library: records every call, with its arguments and
// the current directory at that moment, in the trace file.
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "jar.h"
#include "trace.h"

namespace {

using rt::Json;

std::string Quote(const char* s) { return s ? rt::JsonString(s) : "null"; }

void Record(const char* call, const std::vector<std::string>& args) {
    rt::Emit("splash", Json().Str("call", call).Raw("args", rt::JsonArray(args)).Str("cwd", rt::CurrentDirectory()));
}

std::wstring Wide(const char* s) {
    // Paths reach the splash library in the ANSI code page.
    const int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, s, -1, &w[0], n);
    w.resize(static_cast<size_t>(n - 1));
    return w;
}

bool FileExists(const char* path) {
    const DWORD attrs = GetFileAttributesW(Wide(path).c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ScaledName(const std::string& name) {
    const size_t slash = name.find_last_of("/\\");
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name + "@2x";
    return name.substr(0, dot) + "@2x" + name.substr(dot);
}

std::string FloatText(float f) { return std::to_string(static_cast<double>(f)); }

}  // namespace

extern "C" {

__declspec(dllexport) int SplashInit(void) {
    Record("SplashInit", {});
    return 1;
}

__declspec(dllexport) int SplashLoadMemory(void* data, int size) {
    const size_t shown = data && size > 0 ? static_cast<size_t>(size < 16 ? size : 16) : 0;
    Record("SplashLoadMemory", {data ? "\"data\"" : "null", std::to_string(size), rt::JsonString(rt::Hex(data, shown))});
    return data && size > 0 ? 1 : 0;
}

__declspec(dllexport) int SplashLoadFile(const char* path) {
    Record("SplashLoadFile", {Quote(path)});
    return path && FileExists(path) ? 1 : 0;
}

__declspec(dllexport) void SplashSetFileJarName(const char* fileName, const char* jarName) {
    Record("SplashSetFileJarName", {Quote(fileName), Quote(jarName)});
}

__declspec(dllexport) void SplashSetScaleFactor(float scaleFactor) {
    Record("SplashSetScaleFactor", {FloatText(scaleFactor)});
}

// Size of a buffer that holds the name of fileName's "@2x" variant, terminator included.
__declspec(dllexport) int SplashGetScaledImgNameMaxPstfixLen(const char* fileName) {
    const int size = fileName ? static_cast<int>(std::strlen(fileName) + std::strlen("@2x") + 1) : 0;
    Record("SplashGetScaledImgNameMaxPstfixLen", {Quote(fileName), std::to_string(size)});
    return size;
}

// Looks for the "@2x" variant of fileName (inside jarName when given, else as a file) and
// writes its name to out. Returns 1 when the variant exists and fits, else 0.
__declspec(dllexport) int SplashGetScaledImageName(const char* jarName, const char* fileName, float* scaleFactor,
                                                    char* out, size_t outSize) {
    int found = 0;
    std::string scaled;
    if (fileName) {
        scaled = ScaledName(fileName);
        if (jarName) {
            std::string error;
            std::unique_ptr<rt::Jar> jar = rt::Jar::Open(Wide(jarName), &error);
            found = jar && jar->Has(scaled) ? 1 : 0;
        } else {
            found = FileExists(scaled.c_str()) ? 1 : 0;
        }
    }
    if (found && (!out || outSize <= scaled.size())) found = 0;
    if (found) {
        std::memcpy(out, scaled.c_str(), scaled.size() + 1);
        if (scaleFactor) *scaleFactor = 2.0f;
    }
    Record("SplashGetScaledImageName", {Quote(jarName), Quote(fileName), std::to_string(outSize),
                                        found ? rt::JsonString(scaled) : "null", std::to_string(found)});
    return found;
}

__declspec(dllexport) void SplashUpdate(void) { Record("SplashUpdate", {}); }

__declspec(dllexport) void SplashClose(void) { Record("SplashClose", {}); }

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) rt::Emit("load", Json().Str("dll", "splashscreen"));
    return TRUE;
}
