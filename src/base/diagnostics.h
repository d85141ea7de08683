// Messages on the standard streams, and the names of processor architectures.
#pragma once

#include <cstdio>

// Writes one formatted message to stdout or stderr in a single write. Those streams are unbuffered,
// so that nothing is lost when the VM ends the process, and a plain printf would then cost one
// system call per character.
int PrintMessage(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A note: what the launcher tells along the way that no one needs to act on (the banner, an item it
// takes for an argument, an optional resource that is absent). A console program writes notes only
// with _JAVA_LAUNCHER_DEBUG set, so that a tool's own output stays its own; errors always go out.
int PrintNote(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
void SetNotesQuiet(bool quiet);

// Formats the message and shows it in the "Fatal Error" box (the console variant: on stderr); returns
// what the box returned.
int ReportFatal(const char* format, ...) __attribute__((format(printf, 1, 2)));
// How many fatal messages were reported so far.
int FatalReportCount();

// Takes the fatal messages in place of the box (null restores it): a service has no one to press OK.
typedef void (*FatalSink)(const char* text);
void SetFatalSink(FatalSink sink);

// Takes every message in place of the streams (null restores them): the packer's pre-flight check
// runs the launcher's own readers and keeps what they say as findings.
typedef void (*MessageSink)(FILE* stream, const char* text);
void SetMessageSink(MessageSink sink);

// Architecture value of GetNativeSystemInfo mapped to the runtime's folder name.
const char* ArchNameForProcessor(unsigned architecture, bool wow64);
