// The log file (base/log_file.h): only the path is noted; the streams stay the test's own.
#include "base/log_file.h"

bool StartLogFile(const char* path, bool) {
    NoteLogFilePath(path);
    return true;
}

void FinishLogFile() {}
