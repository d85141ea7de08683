// quorvia-pack --check DIR, for a sync folder: its index against the files beside it.
#pragma once

#include <cstdio>
#include <string>

// Whether folder holds a sync index at its root (what makes --check read it as a sync folder).
bool HoldsSyncIndex(const std::string& folder);

// Reads the index, then every file: one line on out per difference (missing, size, time, content,
// not listed). 0 when the index is whole and matches every file, 1 otherwise.
int CheckSyncIndex(const std::string& folder, FILE* out, FILE* err);
