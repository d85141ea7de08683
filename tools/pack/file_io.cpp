#include "pack/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#ifdef _WIN32
typedef struct _stat64 FileStatus;
static int StatPath(const std::string& path, FileStatus& status) { return _stat64(path.c_str(), &status); }
static int StatOpenFile(FILE* file, FileStatus& status) { return _fstat64(_fileno(file), &status); }
#else
typedef struct stat FileStatus;
static int StatPath(const std::string& path, FileStatus& status) { return stat(path.c_str(), &status); }
static int StatOpenFile(FILE* file, FileStatus& status) { return fstat(fileno(file), &status); }
#endif

static std::string ErrnoText(int code) { return code != 0 ? std::string(strerror(code)) : "I/O error"; }

static std::string NotRegularText(unsigned mode) {
    if (S_ISDIR(mode)) return "a folder, not a regular file";
    if (S_ISCHR(mode)) return "a device, not a regular file";
#ifndef _WIN32
    if (S_ISBLK(mode)) return "a device, not a regular file";
    if (S_ISSOCK(mode)) return "a socket, not a regular file";
#endif
    if (S_ISFIFO(mode)) return "a pipe, not a regular file";
    return "not a regular file";
}

std::string SizeText(uint64_t bytes) {
    const uint64_t mebibyte = uint64_t(1) << 20;
    if (bytes >= mebibyte && bytes % mebibyte == 0) return std::to_string(bytes / mebibyte) + " MiB";
    return std::to_string(bytes) + " bytes";
}

std::string FullPath(const std::string& path) {
#ifdef _WIN32
    char full[1024];
    return _fullpath(full, path.c_str(), sizeof full) != nullptr ? std::string(full) : path;
#else
    char* full = realpath(path.c_str(), nullptr);
    std::string result = full != nullptr ? full : path;
    free(full);
    return result;
#endif
}

bool FileExists(const std::string& path) {
#ifdef _WIN32
    FileStatus status;
    return StatPath(path, status) == 0;
#else
    // A link counts, also one that leads nowhere: a temporary name must not be written through it.
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
#endif
}

FILE* OpenRegularFile(const std::string& path, const char* mode, uint64_t& size, std::string& error) {
    FileStatus status;
    errno = 0;
    if (StatPath(path, status) != 0) {
        error = ErrnoText(errno);
        return nullptr;
    }
    // Checked before the open: opening a pipe waits for a writer, and opening a device may act.
    if (!S_ISREG(status.st_mode)) {
        error = NotRegularText(status.st_mode);
        return nullptr;
    }
#ifdef _WIN32
    FILE* file = fopen(path.c_str(), mode);
#else
    // Without waiting, should a pipe have replaced the file since the check.
    int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    FILE* file = descriptor >= 0 ? fdopen(descriptor, mode) : nullptr;
    if (descriptor >= 0 && file == nullptr) close(descriptor);
#endif
    if (file == nullptr) {
        error = ErrnoText(errno);
        return nullptr;
    }
    if (StatOpenFile(file, status) != 0 || !S_ISREG(status.st_mode)) {
        error = NotRegularText(status.st_mode);
        fclose(file);
        return nullptr;
    }
    size = uint64_t(status.st_size);
    return file;
}

// Reads up to `most` bytes; false with the reason on a read error.
static bool ReadAtMost(FILE* file, uint64_t most, std::vector<uint8_t>& out, std::string& error) {
    uint8_t buffer[65536];
    while (out.size() < most) {
        size_t want = most - out.size() < sizeof buffer ? size_t(most - out.size()) : sizeof buffer;
        size_t got = fread(buffer, 1, want, file);
        out.insert(out.end(), buffer, buffer + got);
        if (got < want) break;
    }
    if (ferror(file) != 0) {
        error = ErrnoText(errno);
        return false;
    }
    return true;
}

bool ReadWholeFile(const std::string& path, const FileKind& kind, std::vector<uint8_t>& out, std::string& error) {
    out.clear();
    uint64_t size = 0;
    FILE* file = OpenRegularFile(path, "rb", size, error);
    if (file == nullptr) return false;
    std::string tooLarge = "larger than " + SizeText(kind.limit) + ", the limit for " + kind.name;
    if (size > kind.limit) {
        fclose(file);
        error = tooLarge;
        return false;
    }
    out.reserve(size_t(size));
    // One byte beyond the limit tells a file that grew past it from one that fits.
    bool read = ReadAtMost(file, uint64_t(kind.limit) + 1, out, error);
    fclose(file);
    if (read && out.size() > kind.limit) {
        error = tooLarge;
        read = false;
    }
    if (!read) out.clear();
    return read;
}

bool ReadFileStart(const std::string& path, size_t limit, std::vector<uint8_t>& out, std::string& error) {
    out.clear();
    uint64_t size = 0;
    FILE* file = OpenRegularFile(path, "rb", size, error);
    if (file == nullptr) return false;
    bool read = ReadAtMost(file, limit, out, error);
    fclose(file);
    return read;
}

static bool ReplaceFile(const std::string& from, const std::string& to, std::string& error) {
#ifdef _WIN32
    // rename() on Windows refuses to replace an existing file.
    if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        char buf[64];
        int n = snprintf(buf, sizeof buf, "cannot replace the file (error %lu)", GetLastError());
        error = n > 0 && size_t(n) < sizeof buf ? buf : "cannot replace the file";
        return false;
    }
#else
    if (rename(from.c_str(), to.c_str()) != 0) {
        error = ErrnoText(errno);
        return false;
    }
#endif
    return true;
}

bool WriteFileReplacing(const std::string& path, const std::vector<uint8_t>& data, std::string& error) {
    std::mt19937_64 random(uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                           uint64_t(std::random_device()()));
    std::string temp;
    for (int attempt = 0; attempt < 100 && temp.empty(); ++attempt) {
        char suffix[32];
        int n = snprintf(suffix, sizeof suffix, ".%08llx.tmp",
                         static_cast<unsigned long long>(random() & 0xFFFFFFFFu));
        if (n <= 0 || size_t(n) >= sizeof suffix) break;
        if (!FileExists(path + suffix)) temp = path + suffix;
    }
    if (temp.empty()) {
        error = "cannot choose a temporary file name";
        return false;
    }
    errno = 0;
    FILE* f = fopen(temp.c_str(), "wb");
    if (f == nullptr) {
        error = ErrnoText(errno);
        return false;
    }
    bool ok = data.empty() || fwrite(data.data(), 1, data.size(), f) == data.size();
    ok = fflush(f) == 0 && ok;
    int code = errno;
    ok = fclose(f) == 0 && ok;
    if (!ok) {
        error = ErrnoText(code);
        remove(temp.c_str());
        return false;
    }
    if (!ReplaceFile(temp, path, error)) {
        remove(temp.c_str());
        return false;
    }
    return true;
}
