// Parsing of JavaVMInitArgs option strings with the acceptance rules of HotSpot 17 as reached
// through JNI_CreateJavaVM (not the java command's own options such as -cp, -jar or -server).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace rt {

enum class OptionOutcome {
    Ok,
    Unrecognized,  // JNI_ERR, "Unrecognized option: ..."
    Invalid,       // JNI_EINVAL, a malformed value
    InitFailure,   // accepted, but the VM would stop during initialization (process exits with 1)
};

struct ParsedOptions {
    std::map<std::string, std::string> properties;  // -D, last one wins
    std::vector<std::string> agents;                // -javaagent:<jar>[=<options>] values
    uint64_t xms = 0, xmx = 0, xss = 0;             // 0 = not given
    void* exitHook = nullptr;
    void* abortHook = nullptr;
    void* vfprintfHook = nullptr;
    std::vector<std::string> warnings;              // messages HotSpot prints and continues
    int gcSelected = 0;                             // number of -XX:+Use<collector>GC
    bool defaultGcDisabled = false;
    bool reduceSignals = false;                     // -Xrs: the VM leaves Ctrl+C to the process
    // The feature version of the runtime's release file (17 without one): a flag newer than it is
    // unknown to the VM, which then refuses to start.
    int javaVersion = 17;
    // Whether the runtime has its base class-data archive (classes.jsa beside jvm.dll), on which every
    // dynamic archive builds; a jlink image made without --generate-cds-archive has none.
    bool baseArchive = true;
    // Class-data sharing and the AOT cache: the archive to map, and the archives to write at exit.
    std::string sharedArchiveFile, archiveClassesAtExit, aotCache, aotCacheOutput;
    bool autoCreateSharedArchive = false;
};

struct OptionError {
    OptionOutcome outcome = OptionOutcome::Ok;
    std::string message;  // what HotSpot prints
};

// Applies one option to `out`. Hooks take their pointer from extraInfo.
OptionError ParseOption(const std::string& option, void* extraInfo, ParsedOptions* out);

// Checks done after all options were read (collector choice, heap bounds).
OptionError CheckCombination(const ParsedOptions& opts);

// HotSpot's memory size syntax: digits with an optional k/m/g/t suffix.
bool ParseMemorySize(const std::string& text, uint64_t* bytes);

}  // namespace rt
