// A log file for an exe without a console (a GUI program, a service): the launcher's own messages
// and everything written to the process's standard output and error, the VM's included.
#pragma once

#include <cstddef>

// A file above this size at start is moved to "{path}.1" (replacing an older one), so the log
// keeps at most two files of about this size.
const size_t kLogFileSizeCap = 1024 * 1024;

// Sends the standard handles and the C runtime's stdout and stderr to `path`, appended. With
// `alsoConsole` the output goes to the handles the process had as well. False when the file
// cannot be opened; nothing is changed then.
bool StartLogFile(const char* path, bool alsoConsole);
// The path given to StartLogFile, or null when no log file was started.
const char* LogFilePath();
// Records the path LogFilePath gives (null: none); StartLogFile calls it once the file is open.
void NoteLogFilePath(const char* path);
// Waits (briefly) until what was written has reached both places; call before the process ends.
void FinishLogFile();
