// Fatal message box, system error text, and the questions asked of Windows at start.
#pragma once

#include <cstdint>
#include <cstdio>

// Writes one formatted message to stdout or stderr in a single write. Those streams are unbuffered,
// so that nothing is lost when the VM ends the process, and a plain printf would then cost one
// system call per character.
int PrintMessage(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));

int ReportFatal(const char* format, ...) __attribute__((format(printf, 1, 2)));
void PrintLastError();
const char* GetProcessorArchName();
bool IsWow64();
void SetDpiAwareness(bool dpiScaling);

// Architecture value of GetNativeSystemInfo mapped to the runtime's folder name.
const char* ArchNameForProcessor(unsigned architecture, bool wow64);

// Physical memory figures in bytes (GlobalMemoryStatusEx).
uint64_t QueryTotalPhysicalMemory();
uint64_t QueryAvailablePhysicalMemory();
