#include "pack/sync_index_tool.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#endif

#include "files/sha256.h"
#include "pack/file_io.h"
#include "pack/report_text.h"
#include "pack/sha256.h"
#include "sync/sync_index.h"

static bool IsOwnFileAtRoot(const std::string& name) {
    if (name == kSyncIndexName) return true;
    size_t prefix = strlen(kSyncIndexTempPrefix);
    return name.size() > prefix + 4 && name.compare(0, prefix, kSyncIndexTempPrefix) == 0 &&
           name.compare(name.size() - 4, 4, ".tmp") == 0;
}

#ifdef _WIN32
bool ReadFileStamp(const std::string& path, uint64_t& size, uint64_t& lastWriteTime, std::string& error) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        error = "cannot read its size and time (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    lastWriteTime = (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    return true;
}

// Names in one folder: (name, is a folder to enter).
static bool ListFolder(const std::string& folder, std::vector<std::pair<std::string, bool>>& names,
                       std::string& error) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        error = "cannot list it (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        bool folderEntry = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // A link to a folder is not entered: its files would belong to another tree.
        if (folderEntry && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;
        names.emplace_back(name, folderEntry);
    } while (FindNextFileA(find, &data));
    bool whole = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(find);
    if (!whole) error = "its listing broke off";
    return whole;
}
static const char kSeparator = '\\';
#else
bool ReadFileStamp(const std::string& path, uint64_t& size, uint64_t& lastWriteTime, std::string& error) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
        error = strerror(errno);
        return false;
    }
    // FILETIME counts 100 ns from 1601; Unix seconds start 11644473600 s later.
    const int64_t kEpochDifference = 11644473600LL;
    if (status.st_mtim.tv_sec < -kEpochDifference) {
        error = "its last-write time is before 1601";
        return false;
    }
    size = uint64_t(status.st_size);
    lastWriteTime = uint64_t(status.st_mtim.tv_sec + kEpochDifference) * 10000000u + uint64_t(status.st_mtim.tv_nsec) / 100;
    return true;
}

static bool ListFolder(const std::string& folder, std::vector<std::pair<std::string, bool>>& names,
                       std::string& error) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        error = strerror(errno);
        return false;
    }
    errno = 0;
    while (struct dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat own;
        std::string path = folder + "/" + name;
        if (lstat(path.c_str(), &own) != 0) continue;
        // A link to a folder is not entered: its files would belong to another tree.
        struct stat target;
        if (S_ISDIR(own.st_mode)) {
            names.emplace_back(name, true);
        } else if (S_ISREG(own.st_mode) || (S_ISLNK(own.st_mode) && stat(path.c_str(), &target) == 0 && S_ISREG(target.st_mode))) {
            names.emplace_back(name, false);
        }
        errno = 0;
    }
    bool whole = errno == 0;
    closedir(dir);
    if (!whole) error = "its listing broke off";
    return whole;
}
static const char kSeparator = '/';
#endif

// Files whose names the index can't hold are gathered in `refused`, one line each, and left out.
static bool ListBelow(const std::string& folder, const std::string& relative, std::vector<SyncFolderFile>& files,
                      std::vector<std::string>& refused, std::string& error) {
    std::vector<std::pair<std::string, bool>> names;
    std::string reason;
    if (!ListFolder(folder, names, reason)) {
        error = PrintableText(folder) + ": " + reason;
        return false;
    }
    for (const auto& name : names) {
        if (relative.empty() && !name.second && IsOwnFileAtRoot(name.first)) continue;
        std::string path = folder + kSeparator + name.first;
        std::string childRelative = relative.empty() ? name.first : relative + "\\" + name.first;
        if (name.second) {
            if (!ListBelow(path, childRelative, files, refused, error)) return false;
            continue;
        }
        if (const char* problem = IndexPathProblem(childRelative.c_str())) {
            refused.push_back(PrintableText(path) + ": the name can't be indexed: " + problem);
            continue;
        }
        SyncFolderFile file;
        file.relativePath = childRelative;
        file.fullPath = path;
        if (!ReadFileStamp(path, file.size, file.lastWriteTime, reason)) {
            error = PrintableText(path) + ": " + reason;
            return false;
        }
        files.push_back(file);
    }
    return true;
}

bool ListSyncFolder(const std::string& folder, std::vector<SyncFolderFile>& files, std::string& error) {
    files.clear();
    std::vector<std::string> refused;
    if (!ListBelow(folder, "", files, refused, error)) return false;
    if (!refused.empty()) {
        std::sort(refused.begin(), refused.end());
        error.clear();
        for (const std::string& line : refused) error += (error.empty() ? "" : "\n") + line;
        return false;
    }
    std::sort(files.begin(), files.end(), [](const SyncFolderFile& a, const SyncFolderFile& b) {
        return CompareIndexPaths(a.relativePath.c_str(), b.relativePath.c_str()) < 0;
    });
    for (size_t i = 1; i < files.size(); i++) {
        if (CompareIndexPaths(files[i - 1].relativePath.c_str(), files[i].relativePath.c_str()) == 0) {
            error = PrintableText(files[i].fullPath) + ": differs from " + PrintableText(files[i - 1].fullPath) +
                    " only in letter case";
            return false;
        }
    }
    if (files.size() > kSyncIndexMaxEntries) {
        error = PrintableText(folder) + ": more than " + std::to_string(kSyncIndexMaxEntries) + " files";
        return false;
    }
    return true;
}

void PrintToolErrors(FILE* err, const std::string& error) {
    for (size_t at = 0; at <= error.size();) {
        size_t end = error.find('\n', at);
        if (end == std::string::npos) end = error.size();
        fprintf(err, "quorvia-pack: %s\n", error.substr(at, end - at).c_str());
        at = end + 1;
    }
}

int WriteSyncIndex(const std::string& folder, FILE* out, FILE* err) {
    std::vector<SyncFolderFile> files;
    std::string error;
    if (!ListSyncFolder(folder, files, error)) {
        PrintToolErrors(err, error);
        return 1;
    }
    std::string entries;
    for (const SyncFolderFile& file : files) {
        SyncIndexEntry entry = {file.relativePath.c_str(), file.size, file.lastWriteTime, {}};
        if (!Sha256OfFile(file.fullPath, entry.digest, error)) {
            fprintf(err, "quorvia-pack: %s: %s\n", PrintableText(file.fullPath).c_str(), error.c_str());
            return 1;
        }
        // A file written while it was read would give a digest of neither version.
        uint64_t size = 0, lastWriteTime = 0;
        if (!ReadFileStamp(file.fullPath, size, lastWriteTime, error) || size != file.size ||
            lastWriteTime != file.lastWriteTime) {
            fprintf(err, "quorvia-pack: %s: changed while it was indexed; run --index again\n",
                    PrintableText(file.fullPath).c_str());
            return 1;
        }
        char line[2 * kSha256Size + 64 + kSyncIndexPathSize];
        if (!FormatIndexEntryLine(line, sizeof line, entry)) {
            fprintf(err, "quorvia-pack: %s: the entry does not fit\n", PrintableText(file.fullPath).c_str());
            return 1;
        }
        entries += line;
    }
    uint8_t generation[kSha256Size];
    char header[256];
    if (!ComputeSha256(entries.data(), entries.size(), generation) ||
        !FormatIndexHeader(header, sizeof header, generation, files.size())) {
        fprintf(err, "quorvia-pack: the SHA-256 library failed\n");
        return 1;
    }
    std::string text = std::string(header) + entries + kSyncIndexEndLine;
    if (text.size() > kSyncIndexMaxBytes) {
        fprintf(err, "quorvia-pack: %s: the index would exceed %zu bytes\n", folder.c_str(), kSyncIndexMaxBytes);
        return 1;
    }
    std::string indexPath = folder + kSeparator + kSyncIndexName;
    if (!WriteFileReplacing(indexPath, std::vector<uint8_t>(text.begin(), text.end()), error)) {
        fprintf(err, "quorvia-pack: %s: %s\n", indexPath.c_str(), error.c_str());
        return 1;
    }
    char hex[2 * kSha256Size + 1];
    FormatDigestHex(generation, hex);
    fprintf(out, "%s: %zu files, generation %s\n", indexPath.c_str(), files.size(), hex);
    return 0;
}
