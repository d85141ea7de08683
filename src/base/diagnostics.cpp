#include "base/diagnostics.h"

#include <cstdarg>
#include <cstdlib>

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

int PrintMessage(FILE* stream, const char* format, ...) {
    char local[1024];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = vsnprintf(local, sizeof local, format, args);
    va_end(args);
    if (length < 0) {
        va_end(again);
        return length;
    }
    char* text = local;
    if (static_cast<size_t>(length) >= sizeof local) {
        text = static_cast<char*>(malloc(static_cast<size_t>(length) + 1));
        if (text == nullptr) {
            // Without room for the whole text it still goes out, a piece at a time.
            length = vfprintf(stream, format, again);
            va_end(again);
            return length;
        }
        vsnprintf(text, static_cast<size_t>(length) + 1, format, again);
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
