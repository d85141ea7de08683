// SHA-256 from the system's bcrypt.dll, of buffers and of files read as themselves.
#include <windows.h>
#include <bcrypt.h>

#include <cstdlib>
#include <cstring>

#include "base/proc_address.h"
#include "base/system_library.h"
#include "files/entry_identity_win32.h"
#include "files/files_edge.h"

namespace {

typedef NTSTATUS(WINAPI* OpenAlgorithmFn)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
typedef NTSTATUS(WINAPI* CloseAlgorithmFn)(BCRYPT_ALG_HANDLE, ULONG);
typedef NTSTATUS(WINAPI* CreateHashFn)(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
typedef NTSTATUS(WINAPI* HashDataFn)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
typedef NTSTATUS(WINAPI* FinishHashFn)(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG);
typedef NTSTATUS(WINAPI* DestroyHashFn)(BCRYPT_HASH_HANDLE);

// bcrypt.dll is loaded from the system folder on first use, not imported: a start without an
// index never loads it, and a DLL of that name beside the exe is never the one loaded.
struct BcryptFunctions {
    bool loaded = false;
    OpenAlgorithmFn openAlgorithm = nullptr;
    CloseAlgorithmFn closeAlgorithm = nullptr;
    CreateHashFn createHash = nullptr;
    HashDataFn hashData = nullptr;
    FinishHashFn finishHash = nullptr;
    DestroyHashFn destroyHash = nullptr;
};

const BcryptFunctions& Bcrypt() {
    static BcryptFunctions functions;
    static bool tried = false;
    if (tried) return functions;
    tried = true;
    HMODULE library = LoadSystemLibrary("bcrypt.dll");
    if (library == nullptr) return functions;
    functions.openAlgorithm = GetProcAs<OpenAlgorithmFn>(library, "BCryptOpenAlgorithmProvider");
    functions.closeAlgorithm = GetProcAs<CloseAlgorithmFn>(library, "BCryptCloseAlgorithmProvider");
    functions.createHash = GetProcAs<CreateHashFn>(library, "BCryptCreateHash");
    functions.hashData = GetProcAs<HashDataFn>(library, "BCryptHashData");
    functions.finishHash = GetProcAs<FinishHashFn>(library, "BCryptFinishHash");
    functions.destroyHash = GetProcAs<DestroyHashFn>(library, "BCryptDestroyHash");
    functions.loaded = functions.openAlgorithm && functions.closeAlgorithm && functions.createHash &&
                       functions.hashData && functions.finishHash && functions.destroyHash;
    return functions;
}

// One SHA-256 computation; every step checked, the handles closed whatever happens.
struct Sha256Run {
    const BcryptFunctions& api = Bcrypt();
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = false;

    Sha256Run() {
        ok = api.loaded && BCRYPT_SUCCESS(api.openAlgorithm(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
             BCRYPT_SUCCESS(api.createHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
    }
    ~Sha256Run() {
        if (hash != nullptr) api.destroyHash(hash);
        if (algorithm != nullptr) api.closeAlgorithm(algorithm, 0);
    }
    void Add(const void* bytes, ULONG size) {
        ok = ok && BCRYPT_SUCCESS(api.hashData(hash, static_cast<PUCHAR>(const_cast<void*>(bytes)), size, 0));
    }
    bool Finish(uint8_t digest[kSha256Size]) {
        return ok && BCRYPT_SUCCESS(api.finishHash(hash, digest, kSha256Size, 0));
    }
};

}  // namespace

bool ComputeSha256(const void* bytes, size_t size, uint8_t digest[kSha256Size]) {
    Sha256Run run;
    const uint8_t* at = static_cast<const uint8_t*>(bytes);
    while (size > 0) {
        ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        run.Add(at, piece);
        at += piece;
        size -= piece;
    }
    return run.Finish(digest);
}

bool HashFileItself(const char* path, uint8_t digest[kSha256Size]) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool hashed = false;
    if (!HandleIsLinkAt(file, path)) {
        Sha256Run run;
        static char buffer[1 << 16];
        DWORD got = 0;
        bool readOk = true;
        while ((readOk = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != FALSE) && got > 0) run.Add(buffer, got);
        hashed = readOk && run.Finish(digest);
    }
    CloseHandle(file);
    return hashed;
}
