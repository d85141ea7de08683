#include "runtime/heap_sizing.h"

#include <cstdio>
#include <cstring>

#include "base/base_edge.h"
#include "base/diagnostics.h"
#include "base/launch_state.h"
#include "base/text.h"
#include "config/config_edge.h"
#include "config/resources.h"

// Lives as long as the option list that points into it.
static char g_initialHeapOption[1024];
static char g_maxHeapOption[1024];

int HeapOptionMegabytes(int sizeMb, int percent, uint64_t availableBytes, const char* archName) {
    // A negative percentage names no amount of memory; it counts as none.
    uint64_t percentValue = percent > 0 ? static_cast<uint64_t>(percent) : 0;
    // A product past 64 bits saturates, like the quotient below, instead of wrapping to a small amount.
    bool productFits = percentValue == 0 || availableBytes <= UINT64_MAX / percentValue;
    uint64_t quotient = productFits ? percentValue * availableBytes / 104857600ull : UINT64_MAX;
    int computed = quotient > 0x7fffffffull ? 0x7fffffff : static_cast<int>(quotient);
    int megabytes = computed > sizeMb ? computed : sizeMb;
    if (megabytes <= 0) return 0;
    if (strcmp(archName, "amd64") != 0 && megabytes > 1024) megabytes = 1024;
    return megabytes;
}

void AddHeapOption(char* buffer, size_t bufferSize, int sizeMb, int percent, uint64_t availableBytes,
                   const char* prefix) {
    int megabytes = HeapOptionMegabytes(sizeMb, percent, availableBytes, GetProcessorArchName());
    if (megabytes <= 0) return;
    snprintf(buffer, bufferSize, "%s%dm", prefix, megabytes);
    AddVmOption(buffer, nullptr);
}

static void ReadHeapPercentResource(const LaunchResource& resource, const char* absentFormat, int* percent) {
    size_t size = 0;
    unsigned long lastError = 0;
    const void* bytes = LoadLaunchResource(resource, &size, &lastError);
    if (bytes == nullptr) {
        PrintNote(stderr, absentFormat, lastError);
        return;
    }
    if (size >= kTextResourceLimit) return;
    char text[kTextResourceLimit];
    memset(text, 0, sizeof text);
    memcpy(text, bytes, size);
    *percent = ParseDecimal(text);
}

bool HeapPercentagesApply(int initialPercent, int maxPercent) {
    return initialPercent > 0 && maxPercent >= initialPercent && maxPercent <= 100;
}

void ApplyHeapSizing() {
    uint64_t available = QueryAvailablePhysicalMemory();
    if (g_launch.initialHeapPercent <= 0) {
        ReadHeapPercentResource(kInitHeapPercentResource,
                                "Unable to load INIT-HEAP-PERC Resource (Resource not found) errno <%lu>\n",
                                &g_launch.initialHeapPercent);
    }
    if (g_launch.maxHeapPercent <= 0) {
        ReadHeapPercentResource(kMaxHeapPercentResource,
                                "Unable to load MAX-HEAP-PERCENT Resource (Resource not found) %lu\n",
                                &g_launch.maxHeapPercent);
    }
    bool sizesDecide = g_launch.initialHeapSize > 0 && g_launch.maxHeapSize >= g_launch.initialHeapSize;
    bool percentagesDecide = HeapPercentagesApply(g_launch.initialHeapPercent, g_launch.maxHeapPercent);
    if (!sizesDecide && !percentagesDecide) return;
    AddHeapOption(g_initialHeapOption, sizeof g_initialHeapOption, g_launch.initialHeapSize,
                  g_launch.initialHeapPercent, available, "-Xms");
    AddHeapOption(g_maxHeapOption, sizeof g_maxHeapOption, g_launch.maxHeapSize, g_launch.maxHeapPercent, available,
                  "-Xmx");
}
