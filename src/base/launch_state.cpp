#include "base/launch_state.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/text.h"

LaunchState g_launch;

static void AllocateEmpty(GrowableString* target) {
    target->text = static_cast<char*>(AllocOrExit(kInitialStringCapacity));
    memset(target->text, 0, kInitialStringCapacity);
    target->capacity = kInitialStringCapacity;
}

void InitLaunchStateStrings() {
    AllocateEmpty(&g_launch.classPath);
    AllocateEmpty(&g_launch.configFilePath);
    AllocateEmpty(&g_launch.syncPath);
    AllocateEmpty(&g_launch.runtimeHome);
    AllocateEmpty(&g_launch.jarPathBuffer);
    g_launch.jarPath = g_launch.jarPathBuffer.text;
}

void ResetLaunchState() {
    free(g_launch.classPath.text);
    free(g_launch.configFilePath.text);
    free(g_launch.syncPath.text);
    free(g_launch.runtimeHome.text);
    free(g_launch.jarPathBuffer.text);
    free(g_launch.jvmOptions.options);
    memset(&g_launch, 0, sizeof g_launch);
}

void AssignGrowableString(GrowableString* target, const char* text) {
    size_t needed = strlen(text) + 1;
    if (needed > target->capacity || target->text == nullptr) {
        char* grown = static_cast<char*>(AllocOrExit(needed));
        free(target->text);
        target->text = grown;
        target->capacity = needed;
    }
    memcpy(target->text, text, needed);
}

void AppendClassPath(const char* text) {
    GrowableString& classPath = g_launch.classPath;
    size_t room = strlen(text) + 1 + 1;
    size_t length = classPath.text ? strlen(classPath.text) : 0;
    if (classPath.text == nullptr || length + room >= classPath.capacity) {
        size_t grown = classPath.capacity + (room > 260 ? room : 260);
        char* larger = static_cast<char*>(AllocOrExit(grown));
        memset(larger, 0, grown);
        if (classPath.text) memcpy(larger, classPath.text, length);
        free(classPath.text);
        classPath.text = larger;
        classPath.capacity = grown;
    }
    classPath.text[length] = ';';
    memcpy(classPath.text + length + 1, text, room - 1);
}

void SetSyncPath(const char* path, bool replace) {
    if (g_launch.syncPath.text && g_launch.syncPath.text[0] != '\0' && !replace) return;
    if (path == nullptr || path[0] == '\0') return;
    AssignGrowableString(&g_launch.syncPath, path);
}

void SetConfigFilePath(const char* path) { AssignGrowableString(&g_launch.configFilePath, path); }

void AddVmOption(const char* text, void* extraInfo) {
    JvmOptionList& list = g_launch.jvmOptions;
    if (list.count >= list.capacity) {
        if (list.options == nullptr) {
            list.capacity = 4;
            list.options = static_cast<JavaVMOption*>(AllocOrExit(sizeof(JavaVMOption) * 4));
        } else {
            int grown = list.capacity * 2;
            JavaVMOption* larger = static_cast<JavaVMOption*>(AllocOrExit(sizeof(JavaVMOption) * grown));
            memcpy(larger, list.options, sizeof(JavaVMOption) * list.count);
            free(list.options);
            list.options = larger;
            list.capacity = grown;
        }
    }
    // JavaVMOption.optionString is non-const in jni.h, but the VM only reads it.
    list.options[list.count].optionString = const_cast<char*>(text);
    list.options[list.count].extraInfo = extraInfo;
    list.count++;
}

void AddVmOptions(int count, char** texts) {
    for (int i = 0; i < count; i++) AddVmOption(texts[i], nullptr);
}

void AddClassPathOption() {
    const char* classPath = g_launch.classPath.text ? g_launch.classPath.text : "";
    size_t size = strlen(classPath) + 40;
    char* option = static_cast<char*>(AllocOrExit(size));
    snprintf(option, size, "-Djava.class.path=%s", classPath);
    AddVmOption(option, nullptr);
}
