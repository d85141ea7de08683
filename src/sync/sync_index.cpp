#include "sync/sync_index.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/text.h"

static const char kHeaderLine[] = "quorvia-sync-index 1";

static int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;  // upper case is not written, so it is not read either: one text per digest
}

bool ParseDigestHex(const char* text, uint8_t digest[kSha256Size]) {
    for (size_t i = 0; i < kSha256Size; i++) {
        int high = HexValue(text[2 * i]);
        if (high < 0) return false;
        int low = HexValue(text[2 * i + 1]);
        if (low < 0) return false;
        digest[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return true;
}

void FormatDigestHex(const uint8_t digest[kSha256Size], char text[2 * kSha256Size + 1]) {
    static const char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < kSha256Size; i++) {
        text[2 * i] = kDigits[digest[i] >> 4];
        text[2 * i + 1] = kDigits[digest[i] & 0xF];
    }
    text[2 * kSha256Size] = '\0';
}

// A decimal without sign or leading zero that fits 64 bits; *end is the first character after it.
static bool ParseDecimal(const char* text, uint64_t* value, const char** end) {
    if (text[0] < '0' || text[0] > '9' || (text[0] == '0' && text[1] >= '0' && text[1] <= '9')) return false;
    uint64_t result = 0;
    const char* at = text;
    for (; *at >= '0' && *at <= '9'; at++) {
        unsigned digit = static_cast<unsigned>(*at - '0');
        if (result > (UINT64_MAX - digit) / 10) return false;
        result = result * 10 + digit;
    }
    *value = result;
    *end = at;
    return true;
}

// "\" sorts before every other character, so that a folder's files follow it directly.
static char FoldForOrder(char c) { return c == '\\' ? '\x01' : FoldAsciiCase(c); }

int CompareIndexPaths(const char* left, const char* right) {
    for (;; left++, right++) {
        unsigned char l = static_cast<unsigned char>(FoldForOrder(*left));
        unsigned char r = static_cast<unsigned char>(FoldForOrder(*right));
        if (l != r) return l < r ? -1 : 1;
        if (l == '\0') return 0;
    }
}

// Windows reads a part as a device when the name before its first dot, trailing blanks dropped, is
// one ("nul.jar", "Com1 .log"), whatever the letter case.
static bool IsReservedDeviceName(const char* part, size_t length) {
    static const struct {
        char stem[4];
        bool numbered;  // followed by one digit 1-9
    } kDevices[] = {{"CON", false}, {"PRN", false}, {"AUX", false}, {"NUL", false}, {"COM", true}, {"LPT", true}};
    size_t base = 0;
    while (base < length && part[base] != '.') base++;
    while (base > 0 && part[base - 1] == ' ') base--;
    bool numbered = base == 4 && part[3] >= '1' && part[3] <= '9';
    if (base != 3 && !numbered) return false;
    for (const auto& device : kDevices) {
        if (device.numbered == numbered && FoldAsciiCase(part[0]) == device.stem[0] &&
            FoldAsciiCase(part[1]) == device.stem[1] && FoldAsciiCase(part[2]) == device.stem[2]) {
            return true;
        }
    }
    return false;
}

const char* IndexPathProblem(const char* path) {
    size_t length = strlen(path);
    if (length == 0 || length >= kSyncIndexPathSize) return "the path is empty or too long for the index";
    const char* part = path;
    for (const char* at = path;; at++) {
        if (*at == '\\' || *at == '\0') {
            size_t partLength = static_cast<size_t>(at - part);
            if (partLength == 0) return "a part of the path is empty";
            // Windows drops a trailing dot or blank, so such a name would become another file.
            if (part[partLength - 1] == '.' || part[partLength - 1] == ' ') {
                return "a part ends in a dot or a space, which Windows drops";
            }
            if (IsReservedDeviceName(part, partLength)) {
                return "a part is a device name on Windows (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9)";
            }
            if (*at == '\0') return nullptr;
            part = at + 1;
            continue;
        }
        unsigned char c = static_cast<unsigned char>(*at);
        if (c < 0x20 || c == 0x7F || strchr("<>:\"/|?*", c) != nullptr) {
            return "a control character or one of <>:\"/|?*, which Windows does not allow";
        }
    }
}

bool IsIndexPath(const char* path) { return IndexPathProblem(path) == nullptr; }

void ReleaseSyncIndex(SyncIndex* index) {
    free(index->text);
    free(index->entries);
    *index = SyncIndex();
}

// The next line at *at within text[0, size): NUL-terminated in place; false when no "\n" ends it.
static bool TakeLine(char* text, size_t size, size_t* at, char** line) {
    if (*at >= size) return false;
    char* start = text + *at;
    char* newline = static_cast<char*>(memchr(start, '\n', size - *at));
    if (newline == nullptr) return false;
    *newline = '\0';
    // A NUL inside a line would cut it silently: such a file is damaged.
    if (strlen(start) != static_cast<size_t>(newline - start)) return false;
    *at = static_cast<size_t>(newline - text) + 1;
    *line = start;
    return true;
}

static bool ParseEntryLine(char* line, SyncIndexEntry* entry) {
    if (strlen(line) < 2 * kSha256Size + 1 || !ParseDigestHex(line, entry->digest) || line[2 * kSha256Size] != ' ') {
        return false;
    }
    const char* at = line + 2 * kSha256Size + 1;
    if (!ParseDecimal(at, &entry->size, &at) || *at++ != ' ') return false;
    if (!ParseDecimal(at, &entry->lastWriteTime, &at) || *at++ != ' ') return false;
    if (!IsIndexPath(at)) return false;
    entry->path = at;
    return true;
}

SyncIndexVerdict ParseSyncIndex(const void* bytes, size_t size, SyncIndex* index) {
    *index = SyncIndex();
    if (size > kSyncIndexMaxBytes) return SyncIndexTooLarge;
    index->text = static_cast<char*>(malloc(size + 1));
    if (index->text == nullptr) return SyncIndexNoMemory;
    if (size > 0) memcpy(index->text, bytes, size);
    index->text[size] = '\0';
    char* text = index->text;
    size_t at = 0;
    char* line = nullptr;

    if (!TakeLine(text, size, &at, &line) || strcmp(line, kHeaderLine) != 0) return SyncIndexDamaged;
    if (!TakeLine(text, size, &at, &line) || strncmp(line, "generation ", 11) != 0 ||
        strlen(line) != 11 + 2 * kSha256Size || !ParseDigestHex(line + 11, index->generation)) {
        return SyncIndexDamaged;
    }
    uint64_t count = 0;
    const char* end = nullptr;
    if (!TakeLine(text, size, &at, &line) || strncmp(line, "entries ", 8) != 0 ||
        !ParseDecimal(line + 8, &count, &end) || *end != '\0') {
        return SyncIndexDamaged;
    }
    if (count > kSyncIndexMaxEntries) return SyncIndexTooLarge;
    // Every entry line takes more than 64 bytes: a count the rest of the file can't hold is damage,
    // found before the array for it is allocated.
    if (count > (size - at) / (2 * kSha256Size)) return SyncIndexDamaged;
    if (count > 0) {
        index->entries = static_cast<SyncIndexEntry*>(calloc(static_cast<size_t>(count), sizeof(SyncIndexEntry)));
        if (index->entries == nullptr) return SyncIndexNoMemory;
    }
    index->entryBlockOffset = at;
    for (size_t i = 0; i < count; i++) {
        if (!TakeLine(text, size, &at, &line) || !ParseEntryLine(line, &index->entries[i])) return SyncIndexDamaged;
        if (i > 0) {
            const char* previous = index->entries[i - 1].path;
            if (CompareIndexPaths(previous, index->entries[i].path) >= 0) return SyncIndexDamaged;
            // A file can't also be a folder: "a" then "a\b" comes next to each other in this order.
            size_t previousLength = strlen(previous);
            if (strlen(index->entries[i].path) > previousLength &&
                index->entries[i].path[previousLength] == '\\') {
                char head[kSyncIndexPathSize];
                memcpy(head, index->entries[i].path, previousLength);
                head[previousLength] = '\0';
                if (CompareIndexPaths(head, previous) == 0) return SyncIndexDamaged;
            }
        }
        index->count = i + 1;
    }
    index->entryBlockLength = at - index->entryBlockOffset;
    if (!TakeLine(text, size, &at, &line) || strcmp(line, "end") != 0 || at != size) return SyncIndexDamaged;
    return SyncIndexParsed;
}

bool ReadSyncIndexGeneration(const void* head, size_t size, uint8_t generation[kSha256Size]) {
    static const char kPrefix[] = "quorvia-sync-index 1\ngeneration ";
    const size_t prefixLength = sizeof kPrefix - 1;
    const char* text = static_cast<const char*>(head);
    return size >= prefixLength + 2 * kSha256Size + 1 && memcmp(text, kPrefix, prefixLength) == 0 &&
           text[prefixLength + 2 * kSha256Size] == '\n' && ParseDigestHex(text + prefixLength, generation);
}

bool SyncIndexGenerationHolds(const SyncIndex& index, const void* bytes, size_t size) {
    if (index.entryBlockOffset > size || index.entryBlockLength > size - index.entryBlockOffset) return false;
    uint8_t digest[kSha256Size];
    if (!ComputeSha256(static_cast<const uint8_t*>(bytes) + index.entryBlockOffset, index.entryBlockLength, digest)) {
        return false;
    }
    return memcmp(digest, index.generation, kSha256Size) == 0;
}

bool FormatIndexEntryLine(char* buffer, size_t size, const SyncIndexEntry& entry) {
    char hex[2 * kSha256Size + 1];
    FormatDigestHex(entry.digest, hex);
    int written = snprintf(buffer, size, "%s %llu %llu %s\n", hex, static_cast<unsigned long long>(entry.size),
                           static_cast<unsigned long long>(entry.lastWriteTime), entry.path);
    return written > 0 && static_cast<size_t>(written) < size;
}

bool FormatIndexHeader(char* buffer, size_t size, const uint8_t generation[kSha256Size], size_t count) {
    char hex[2 * kSha256Size + 1];
    FormatDigestHex(generation, hex);
    int written = snprintf(buffer, size, "%s\ngeneration %s\nentries %zu\n", kHeaderLine, hex, count);
    return written > 0 && static_cast<size_t>(written) < size;
}
