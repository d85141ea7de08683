#include "base/log_file.h"

#include <cstdio>

static char g_logPath[260];
static bool g_logStarted = false;

const char* LogFilePath() { return g_logStarted ? g_logPath : nullptr; }

void NoteLogFilePath(const char* path) {
    int written = path != nullptr ? snprintf(g_logPath, sizeof g_logPath, "%s", path) : -1;
    g_logStarted = written > 0 && static_cast<size_t>(written) < sizeof g_logPath;
}
