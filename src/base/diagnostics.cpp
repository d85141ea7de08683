#include "base/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "base/base_edge.h"
#include "base/log_file.h"
#include "base/text.h"

const char* ArchNameForProcessor(unsigned architecture, bool wow64) {
    switch (architecture) {
        case 0: return "i386";
        case 6: return "itanium64";
        case 9: return wow64 ? "i386" : "amd64";
        default: return "unknown";
    }
}

static MessageSink g_messageSink = nullptr;
static int g_fatalReports = 0;

void SetMessageSink(MessageSink sink) { g_messageSink = sink; }

static FatalSink g_fatalSink = nullptr;

void SetFatalSink(FatalSink sink) { g_fatalSink = sink; }

int ReportFatal(const char* format, ...) {
    char local[1024];
    int length = 0;
    va_list args;
    va_start(args, format);
    char* text = FormatMessageText(local, sizeof local, &length, format, args);
    va_end(args);
    const char* shown = text != nullptr ? text : "";
    g_fatalReports++;
    // Without a console the log file is where the details are: the box says so, and the log
    // keeps the message too.
    char withLog[1536];
    if (LogFilePath() != nullptr && !IsConsoleProgram()) {
        PrintMessage(stderr, "%s", shown);
        int written = snprintf(withLog, sizeof withLog, "%s\nThe log file %s holds the details.\n", shown, LogFilePath());
        if (written > 0 && static_cast<size_t>(written) < sizeof withLog) shown = withLog;
    }
    int answer = 1;  // IDOK
    if (g_fatalSink != nullptr) g_fatalSink(shown);
    else answer = ShowFatalText(shown);
    if (text != local) free(text);
    return answer;
}

int FatalReportCount() { return g_fatalReports; }

static int PrintMessageV(FILE* stream, const char* format, va_list args) {
    char local[1024];
    int length = 0;
    va_list again;
    va_copy(again, args);
    char* text = FormatMessageText(local, sizeof local, &length, format, args);
    if (text == nullptr) {
        // Without room for the whole text it still goes out, a piece at a time.
        if (length >= 0) length = vfprintf(stream, format, again);
        va_end(again);
        return length;
    }
    va_end(again);
    if (g_messageSink != nullptr) {
        g_messageSink(stream, text);
    } else {
        fwrite(text, 1, static_cast<size_t>(length), stream);
    }
    if (text != local) free(text);
    return length;
}

int PrintMessage(FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int length = PrintMessageV(stream, format, args);
    va_end(args);
    return length;
}

static bool g_notesQuiet = false;

void SetNotesQuiet(bool quiet) { g_notesQuiet = quiet; }

int PrintNote(FILE* stream, const char* format, ...) {
    if (g_notesQuiet) return 0;
    va_list args;
    va_start(args, format);
    int length = PrintMessageV(stream, format, args);
    va_end(args);
    return length;
}
