// Reading the packer's input files, each kind with its own size limit, and all-or-nothing writes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sync/sync_index.h"

// A kind of file the packer reads, and the most it reads of one: a larger file is refused, so that
// a device, a runaway file or a hostile package cannot exhaust memory. Only regular files are read
// at all: folders, devices and pipes are refused before anything waits on them.
struct FileKind {
    const char* name;  // for the message: "larger than 512 MiB, the limit for a jar"
    size_t limit;      // bytes
};

// The exe being packed, listed or checked: the launcher, or a packed exe with its embedded jar.
inline constexpr FileKind kExeFile = {"an exe", size_t(1024) << 20};
// --classes, and every jar --check reads (class path entries, the sync folder's libs jars).
inline constexpr FileKind kJarFile = {"a jar", size_t(512) << 20};
// jvm.dll and the DLLs it imports, as --check reads them.
inline constexpr FileKind kDllFile = {"a DLL", size_t(256) << 20};
// A class file in a class path folder (a jar entry has the same bound).
inline constexpr FileKind kClassFile = {"a class file", size_t(64) << 20};
// --splash, --icon, and the splash image --check reads.
inline constexpr FileKind kImageFile = {"an image", size_t(32) << 20};
// The sync index --check DIR compares with the files: the launcher's own bound.
inline constexpr FileKind kSyncIndexFile = {"a sync index", kSyncIndexMaxBytes};
// Argument files, --raw-text values, and the configuration file and jvm.cfg --check reads.
inline constexpr FileKind kTextFile = {"a text file", size_t(1) << 20};

inline constexpr FileKind kFileKinds[] = {kExeFile,   kJarFile,       kDllFile, kClassFile,
                                          kImageFile, kSyncIndexFile, kTextFile};

// "1 MiB", "512 MiB", or a count of bytes.
std::string SizeText(uint64_t bytes);

// The whole file, when it is a regular file of at most kind.limit bytes. On failure `error` is the
// reason, e.g. "No such file or directory" or "not a regular file (a device)"; callers name the file.
bool ReadWholeFile(const std::string& path, const FileKind& kind, std::vector<uint8_t>& out, std::string& error);

// The first `limit` bytes of a regular file (all of a shorter one), as the launcher reads a header.
bool ReadFileStart(const std::string& path, size_t limit, std::vector<uint8_t>& out, std::string& error);

// Opens a regular file for reading with fopen's mode ("rb", or "r" for a text file that the
// launcher reads as Windows does); nullptr with the reason in error. `size` is its size when opened.
FILE* OpenRegularFile(const std::string& path, const char* mode, uint64_t& size, std::string& error);

// Writes to a temporary file beside `path`, then renames it over `path`, so that a failure never
// leaves a half-written output behind.
bool WriteFileReplacing(const std::string& path, const std::vector<uint8_t>& data, std::string& error);

// Whether anything (a file, folder, device or link) stands at path.
bool FileExists(const std::string& path);

// The absolute path of `path` with links resolved (on Windows: made absolute); `path` itself when
// that fails.
std::string FullPath(const std::string& path);
