// The runtime's jvm.cfg: the ordered VM type names it offers.
#pragma once

#include <cstdio>

const int kMaxKnownVms = 10;

// The table read by the last ReadKnownVms; entries keep their leading '-'.
extern char* g_knownVms[kMaxKnownVms];

FILE* OpenJvmConfig(const char* home);
int ReadKnownVms(const char* home);
// Reads an open jvm.cfg into the table (the file is not closed here).
int ReadKnownVmsFromFile(FILE* file);
void ReleaseKnownVmTable();
