#include "pack/file_io.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>

#ifdef _WIN32
#include <windows.h>
#endif

static std::string ErrnoText(int code) { return code != 0 ? std::string(strerror(code)) : "I/O error"; }

bool FileExists(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    fclose(f);
    return true;
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

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, std::string& error) {
    out.clear();
    errno = 0;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
        error = ErrnoText(errno);
        return false;
    }
    uint8_t buf[65536];
    size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    bool failed = ferror(f) != 0;
    int code = errno;
    fclose(f);
    if (failed) {
        // A directory opens on Linux but cannot be read.
        error = ErrnoText(code);
        return false;
    }
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
