// The launcher's own command-line options and the LaunchState setters they share with other steps.
#pragma once

// Parses `*count` items of `*items`; on success both are replaced by the unrecognised items, in order.
// On a malformed option returns false and sets `*status` to the exit status to return (1).
bool ParseLauncherOptions(int* count, char*** items, int* status);

void AppendClassPath(const char* text);
void SetSyncPath(const char* path, bool replace);
void SetConfigFilePath(const char* path);

// Leading white space, optional sign, decimal digits up to the first other character; no digits gives 0.
int ParseDecimal(const char* text);
