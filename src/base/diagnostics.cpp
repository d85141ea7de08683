#include "base/diagnostics.h"

#include <cstdarg>
#include <cstdlib>

#include "base/base_edge.h"
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

void SetMessageSink(MessageSink sink) { g_messageSink = sink; }

int ReportFatal(const char* format, ...) {
    char local[1024];
    int length = 0;
    va_list args;
    va_start(args, format);
    char* text = FormatMessageText(local, sizeof local, &length, format, args);
    va_end(args);
    int answer = ShowFatalText(text != nullptr ? text : "");
    if (text != local) free(text);
    return answer;
}

int PrintMessage(FILE* stream, const char* format, ...) {
    char local[1024];
    int length = 0;
    va_list args;
    va_start(args, format);
    char* text = FormatMessageText(local, sizeof local, &length, format, args);
    va_end(args);
    if (text == nullptr) {
        if (length < 0) return length;
        // Without room for the whole text it still goes out, a piece at a time.
        va_start(args, format);
        length = vfprintf(stream, format, args);
        va_end(args);
        return length;
    }
    if (g_messageSink != nullptr) {
        g_messageSink(stream, text);
    } else {
        fwrite(text, 1, static_cast<size_t>(length), stream);
    }
    if (text != local) free(text);
    return length;
}
