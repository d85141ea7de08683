#include "pack/sha256.h"
#include "files/sha256.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pack/file_io.h"

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#else
// The plain SHA-256 routines, not the EVP layer: EVP loads providers, which would drag dlopen and
// the network resolver into the static tool. OpenSSL 3 marks them deprecated, not removed.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>
#endif

namespace {

// One running digest over the platform's library; Add and Finish report failure through ok.
class Sha256Stream {
public:
#ifdef _WIN32
    Sha256Stream() {
        ok_ = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
              BCRYPT_SUCCESS(BCryptCreateHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0));
    }
    ~Sha256Stream() {
        if (hash_ != nullptr) BCryptDestroyHash(hash_);
        if (algorithm_ != nullptr) BCryptCloseAlgorithmProvider(algorithm_, 0);
    }
    void Add(const void* bytes, size_t size) {
        const uint8_t* at = static_cast<const uint8_t*>(bytes);
        while (ok_ && size > 0) {
            ULONG piece = size > 0x40000000u ? 0x40000000u : ULONG(size);
            ok_ = BCRYPT_SUCCESS(BCryptHashData(hash_, const_cast<PUCHAR>(at), piece, 0));
            at += piece;
            size -= piece;
        }
    }
    bool Finish(uint8_t digest[kSha256Size]) {
        return ok_ && BCRYPT_SUCCESS(BCryptFinishHash(hash_, digest, kSha256Size, 0));
    }

private:
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
#else
    Sha256Stream() { ok_ = SHA256_Init(&context_) == 1; }
    void Add(const void* bytes, size_t size) { ok_ = ok_ && SHA256_Update(&context_, bytes, size) == 1; }
    bool Finish(uint8_t digest[kSha256Size]) { return ok_ && SHA256_Final(digest, &context_) == 1; }

private:
    SHA256_CTX context_;
#endif
    bool ok_ = false;
    Sha256Stream(const Sha256Stream&) = delete;
    Sha256Stream& operator=(const Sha256Stream&) = delete;
};

}  // namespace

bool ComputeSha256(const void* bytes, size_t size, uint8_t digest[kSha256Size]) {
    Sha256Stream stream;
    stream.Add(bytes, size);
    return stream.Finish(digest);
}

bool Sha256OfFile(const std::string& path, uint8_t digest[kSha256Size], std::string& error) {
    uint64_t size = 0;
    FILE* file = OpenRegularFile(path, "rb", size, error);
    if (file == nullptr) return false;
    Sha256Stream stream;
    static char buffer[1 << 16];
    // Read up to one byte past the size it was opened with: a file that grows meanwhile has no one digest.
    uint64_t total = 0;
    size_t got = 0;
    while (total <= size && (got = fread(buffer, 1, sizeof buffer, file)) > 0) {
        stream.Add(buffer, got);
        total += got;
    }
    bool readOk = ferror(file) == 0;
    int code = errno;
    fclose(file);
    if (!readOk) {
        error = code != 0 ? strerror(code) : "I/O error";
        return false;
    }
    if (total != size) {
        error = "changed while it was read";
        return false;
    }
    if (!stream.Finish(digest)) {
        error = "the SHA-256 library failed";
        return false;
    }
    return true;
}
