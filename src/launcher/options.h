// The launcher's own command-line options.
#pragma once

// Parses `*count` items of `*items`; on success both are replaced by the unrecognised items, in order.
// On a malformed option returns false and sets `*status` to the exit status to return (1).
bool ParseLauncherOptions(int* count, char*** items, int* status);
