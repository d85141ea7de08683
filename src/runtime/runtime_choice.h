// Which Java runtime an application accepts, and the choice among the runtimes a search found:
// the accepted versions, the order of the sources, each candidate's verdict, and the message that
// tells the user what was looked for when nothing fits. No platform calls: the search hands in
// what it found.
#pragma once

#include <cstddef>

// The major versions an application accepts: "17" is 17 or newer, "17..21" is 17 to 21 inclusive.
// highest 0 means no upper bound; lowest 0 accepts any version (no rule was packed).
struct JavaVersionRange {
    int lowest;
    int highest;
};
bool ParseJavaVersionRange(const char* text, JavaVersionRange* range);

enum RuntimeSource { kSourceBundled, kSourceRegistry, kSourceJavaHome, kSourcePath, kRuntimeSourceCount };

// The sources a search tries, in order, each at most once.
struct RuntimeSearchOrder {
    int count;
    RuntimeSource sources[kRuntimeSourceCount];
};
// "bundled,registry,java-home,path" or any non-empty subset in any order, without blanks or repeats.
bool ParseRuntimeSearchOrder(const char* text, RuntimeSearchOrder* order);
void DefaultRuntimeSearchOrder(RuntimeSearchOrder* order);
const char* RuntimeSourceName(RuntimeSource source);

// A page to offer when nothing fits: https only, without blanks or control characters.
bool IsDownloadUrl(const char* text);

enum RuntimeArch { kArchUnknown, kArchX64, kArchArm64, kArchX86 };
// The OS_ARCH line of a release file's text ("x86_64" and "amd64" both name x64).
RuntimeArch ReadReleaseArch(const char* releaseText, size_t length);

enum CandidateVerdict {
    kVerdictAccepted,
    kVerdictChosen,
    kVerdictNoRuntimeFiles,  // no bin\java.dll, lib\jvm.cfg or VM library
    kVerdictNoRelease,
    kVerdictNoVersion,
    kVerdict32Bit,
    kVerdictArm64,
    kVerdictUnknownArch,
    kVerdictTooOld,
    kVerdictTooNew,
};

const size_t kCandidateHomeSize = 1024;
const size_t kCandidateOriginSize = 128;

// One runtime home a source named, with what its files say about it.
struct RuntimeCandidate {
    RuntimeSource source;
    char home[kCandidateHomeSize];
    char origin[kCandidateOriginSize];  // where it was named: a registry key, JAVA_HOME, a PATH folder
    bool hasRuntimeFiles;
    bool hasRelease;
    int version;  // the feature version of JAVA_VERSION; 0 when unreadable
    RuntimeArch arch;
    CandidateVerdict verdict;
};

// Sets every candidate's verdict and returns the index of the chosen one, or -1: sources are tried in
// order, and within one source the newest accepted version wins (the first named on a tie).
int ChooseRuntimeCandidate(RuntimeCandidate* candidates, int count, const JavaVersionRange& range,
                           const RuntimeSearchOrder& order);

// What the application needs, as in "Java 17 to 21 (64-bit)".
bool FormatJavaNeed(char* text, size_t size, const JavaVersionRange& range);
// The message when nothing fits: the need, the sources looked in, and why each found runtime was
// refused (at most a few lines). False when it does not fit the buffer.
bool FormatNoRuntimeMessage(char* text, size_t size, const RuntimeCandidate* candidates, int count,
                            const JavaVersionRange& range, const RuntimeSearchOrder& order);
// The reason a candidate was refused, for the message and the debug output.
const char* CandidateVerdictText(CandidateVerdict verdict);

// The fixed texts of the runtime choice, in one table so that they can be translated together.
enum RuntimeChoiceText {
    kTextNeeds,          // "This application needs %s.\n"
    kTextLookedIn,       // "Looked in: "
    kTextNoneFound,      // "No Java runtime was found there.\n"
    kTextFound,          // "Found:\n"
    kTextMore,           // "  and %d more\n"
    kTextOfferDownload,  // "\nOpen the download page?\n"
    kTextDownloadAt,     // "Download Java from %s\n"
    kRuntimeChoiceTextCount,
};
const char* RuntimeChoiceTextOf(RuntimeChoiceText text);
