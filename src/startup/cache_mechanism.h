// The start-up cache's rules: the class-data or AOT mechanism a runtime version offers, the VM
// options that use it, and the archive's name and key.
#pragma once

#include <cstddef>

enum StartupCacheMechanism {
    StartupCacheNone,          // before 13, or version unknown
    StartupCacheDynamicArchive,  // 13-18: written at exit by a start without one, then used
    StartupCacheAutoArchive,     // 19+: the VM creates and refreshes the archive itself
    StartupCacheAotCache,        // 25+: trained by a start without one, then used
};

StartupCacheMechanism ChooseStartupCacheMechanism(int javaVersion);

// Whether the mechanism builds on the runtime's base class-data archive: Java 13 to 18 refuse to
// create the VM with -XX:ArchiveClassesAtExit when none is loaded ("DynamicDumpSharedSpaces is
// unsupported when base CDS archive is not loaded"), so such a runtime gets no options at all. 19 to
// 24 only warn and run on without an archive; the AOT cache of 25 needs none.
bool MechanismNeedsBaseArchive(StartupCacheMechanism mechanism);

// The base archive HotSpot maps by default: classes.jsa beside the VM library (bin\server on
// Windows). A jlink image made without --generate-cds-archive has none. False, with buffer emptied,
// when it would not fit.
bool FormatBaseArchivePath(char* buffer, size_t size, const char* vmLibraryPath);

// The mechanism a runtime with this release file would get, and a short description of a mechanism
// for reports ("AOT cache", ...): what the packer shows and checks.
StartupCacheMechanism ChooseMechanismForRelease(const char* releaseText, size_t length);
const char* DescribeStartupCacheMechanism(StartupCacheMechanism mechanism);

// FNV-1a over the bytes, continuing from hash (start with kStartupHashSeed): tells builds and
// applications apart in file names, no security rests on it.
const unsigned long long kStartupHashSeed = 14695981039346656037ull;
unsigned long long HashStartupBytes(unsigned long long hash, const void* bytes, size_t length);

// "{version}-{16 hex digits}": the runtime's version, and a hash of its whole release file and of the
// class path, so that another build of the runtime, or a class path the archive was not made for
// (the installation moved, CLASS-PATH changed), gets an archive of its own: the VM rejects a
// mismatched one on every start and then runs without any class-data sharing at all. False, with
// buffer emptied, when it would not fit.
bool FormatArchiveKey(char* buffer, size_t size, const char* releaseText, size_t length, const char* classPath);

// 8 hex digits hashed from the exe's full path, letter case folded as Windows compares paths: two exes
// of one base name in different folders share the cache folder but each keeps its own archive.
const size_t kExePathKeyLength = 8;
bool FormatExePathKey(char* buffer, size_t size, const char* exePath);

// Forms "{folder}\{base}.{digest}.{archiveKey}.{exePathKey}.jsa", or ".aot" for the AOT cache; false,
// with buffer emptied, when it would not fit or the mechanism has no archive.
bool FormatStartupArchiveName(char* buffer, size_t size, const char* folder, const char* baseName,
                              const char* digestText, const char* archiveKey, const char* exePathKey,
                              StartupCacheMechanism mechanism);

const int kMaxStartupCacheOptions = 2;
const size_t kStartupCacheOptionSize = 300;  // the longest option name and a 260-byte path

struct StartupCacheOptions {
    int count;
    char text[kMaxStartupCacheOptions][kStartupCacheOptionSize];
};

// The VM options of the mechanism for this archive; whether the archive exists decides between
// writing and using it where the VM does not do both. False, with no options, when a path would be
// cut.
bool FormStartupCacheOptions(StartupCacheMechanism mechanism, const char* archivePath, bool archiveExists,
                             StartupCacheOptions* options);

// Whether an archive's first bytes carry the VM's archive magic (static or dynamic, little-endian).
// The VM writes the header last, so a write cut short leaves zeros there; the VM then starts without
// any class-data sharing and never rewrites the file, so such an archive is to be removed.
bool HasStartupArchiveMagic(const unsigned char* firstBytes, size_t length);
