// VM-OPTIONS and CLASS-PATH resources expanded into option items and class path entries.
#pragma once

char* ReadVmOptionsResource();
int SplitVmOptions(char*** items);
char* PercentDecode(const char* item);
char* BuildResourceClassPath(const char* runtimeHome);
