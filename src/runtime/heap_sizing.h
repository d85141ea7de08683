// -Xms and -Xmx from percentages of available physical memory, or from sizes in megabytes.
#pragma once

#include <cstddef>
#include <cstdint>

void ApplyHeapSizing();
// Whether heap percentages give -Xms and -Xmx: both set, the initial at most the maximum. Otherwise
// (and without sizes) the launcher adds no heap option at all.
bool HeapPercentagesApply(int initialPercent, int maxPercent);
void AddHeapOption(char* buffer, size_t bufferSize, int sizeMb, int percent, uint64_t availableBytes,
                   const char* prefix);
// The megabytes AddHeapOption would put after the prefix; 0 or less means no option.
int HeapOptionMegabytes(int sizeMb, int percent, uint64_t availableBytes, const char* archName);
