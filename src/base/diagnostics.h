// Messages on the standard streams, and the names of processor architectures.
#pragma once

#include <cstdio>

// Writes one formatted message to stdout or stderr in a single write. Those streams are unbuffered,
// so that nothing is lost when the VM ends the process, and a plain printf would then cost one
// system call per character.
int PrintMessage(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Formats the message and shows it in the "Fatal Error" box (the console variant: on stderr); returns
// what the box returned.
int ReportFatal(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Takes every message in place of the streams (null restores them): the packer's pre-flight check
// runs the launcher's own readers and keeps what they say as findings.
typedef void (*MessageSink)(FILE* stream, const char* text);
void SetMessageSink(MessageSink sink);

// Architecture value of GetNativeSystemInfo mapped to the runtime's folder name.
const char* ArchNameForProcessor(unsigned architecture, bool wow64);
