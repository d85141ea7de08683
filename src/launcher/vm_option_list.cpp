#include "launcher/vm_option_list.h"

#include <cstdio>

#include "base/launch_state.h"
#include "base/text.h"
#include "config/resource_lists.h"
#include "startup/cache_mechanism.h"

void CompleteClassPath(char* agentOption, size_t agentOptionSize, const char* runtimeHome) {
    if (!IsEmpty(g_launch.agentJarPath)) {
        AppendClassPath(g_launch.agentJarPath);
        if (g_launch.cryptEnabled) {
            snprintf(agentOption, agentOptionSize, "-javaagent:%s", g_launch.agentJarPath);
            AddVmOption(agentOption, nullptr);
        }
    }
    char* resourceClassPath = BuildResourceClassPath(runtimeHome);
    if (resourceClassPath != nullptr) AppendClassPath(resourceClassPath);
}

void AddCollectedVmOptions(const StartupCacheOptions* startupCache, int vmOptionCount, char** vmOptionItems,
                           void (*addInstalled)()) {
    for (int i = 0; startupCache != nullptr && i < startupCache->count; i++)
        AddVmOption(startupCache->text[i], nullptr);
    AddVmOptions(vmOptionCount, vmOptionItems);
    if (addInstalled != nullptr) addInstalled();
    AddClassPathOption();
}
