#include "diagnostics.h"


const char* ArchNameForProcessor(unsigned architecture, bool wow64) {
    switch (architecture) {
        case 0: return "i386";
        case 6: return "itanium64";
        case 9: return wow64 ? "i386" : "amd64";
        default: return "unknown";
    }
}
