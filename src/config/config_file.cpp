#include "config/config_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/base_edge.h"
#include "base/launch_state.h"
#include "base/text.h"
#include "config/config_edge.h"
#include "config/resources.h"

// Values the launch state points into live for the rest of the process.
static char g_mainClassValue[1024];
static char g_jarFileValue[1024];
static char g_vmOptionsValue[1024];
static char g_md5Value[64];
static char g_syncDirectoryValue[1024];


static void AddBlankSeparatedVmOptions(char* text) {
    char* at = text;
    while (*at != '\0') {
        while (*at == ' ') at++;
        if (*at == '\0') break;
        char* item = at;
        while (*at != '\0' && *at != ' ') at++;
        if (*at == ' ') *at++ = '\0';
        AddVmOption(item, nullptr);
    }
}

static void ReadHeapValue(const char* key, const char* path, int* target) {
    char value[1024];
    if (ReadProfileValue(key, value, sizeof value, path) > 0 && *target == 0) *target = ParseDecimal(value);
}

static bool ReadConfigFileAt(const char* path) {
    // Through the edge: the pre-flight check opens only what it can read without waiting.
    FILE* probe = OpenTextFile(path);
    if (probe == nullptr) return false;
    fclose(probe);

    char jre[64];
    if (ReadProfileValue("jre", jre, sizeof jre, path) > 0 && IsEmpty(g_launch.jreVersion)) {
        g_launch.jreVersion = CopyText(jre);
    }
    if (ReadProfileValue("mainclass", g_mainClassValue, sizeof g_mainClassValue, path) > 0 &&
        IsEmpty(g_launch.mainClassName)) {
        g_launch.mainClassName = g_mainClassValue;
    }
    if (ReadProfileValue("jarfile", g_jarFileValue, sizeof g_jarFileValue, path) > 0 && IsEmpty(g_launch.jarPath)) {
        g_launch.jarPath = g_jarFileValue;
    }
    char classPath[1024];
    if (ReadProfileValue("classpath", classPath, sizeof classPath, path) > 0) AppendClassPath(classPath);
    if (ReadProfileValue("vmoptions", g_vmOptionsValue, sizeof g_vmOptionsValue, path) > 0) {
        AddBlankSeparatedVmOptions(g_vmOptionsValue);
    }
    if (ReadProfileValue("md5", g_md5Value, sizeof g_md5Value, path) > 0 && IsEmpty(g_launch.cacheDigest)) {
        g_launch.cacheDigest = g_md5Value;
    }
    if (ReadProfileValue("syncdirectory", g_syncDirectoryValue, sizeof g_syncDirectoryValue, path) > 0) {
        SetSyncPath(g_syncDirectoryValue, false);
    }
    ReadHeapValue("initialHeapPercent", path, &g_launch.initialHeapPercent);
    ReadHeapValue("initialHeapSize", path, &g_launch.initialHeapSize);
    ReadHeapValue("maxHeapPercent", path, &g_launch.maxHeapPercent);
    ReadHeapValue("maxHeapSize", path, &g_launch.maxHeapSize);
    return true;
}

bool ReadConfigFile() {
    char* resourcePath = nullptr;
    const char* path = g_launch.configFilePath.text;
    if (IsEmpty(path)) {
        resourcePath = ReadConfigPathResource();
        path = resourcePath;
    }
    if (IsEmpty(path)) {
        free(resourcePath);
        return false;
    }
    // The profile reader looks for a relative name in the Windows folder, while the existence
    // check opens it relative to the current directory: read the file that was found.
    char absolutePath[1024];
    if (!MakeAbsolutePath(path, absolutePath, sizeof absolutePath)) {
        free(resourcePath);
        return false;
    }
    bool read = ReadConfigFileAt(absolutePath);
    free(resourcePath);
    return read;
}
