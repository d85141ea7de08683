#include "launch_state.h"

#include <cstdlib>
#include <cstring>

#include "vm_options.h"

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
