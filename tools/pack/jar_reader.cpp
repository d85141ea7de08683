#include "pack/jar_reader.h"

#include <zlib.h>

#include <cstring>

#include "pack/byte_order.h"

static const uint32_t kEndOfDirectory = 0x06054b50;
static const uint32_t kZip64EndOfDirectory = 0x06064b50;
static const uint32_t kZip64Locator = 0x07064b50;
static const uint32_t kDirectoryEntry = 0x02014b50;
static const uint32_t kLocalHeader = 0x04034b50;
static const uint16_t kZip64ExtraField = 0x0001;
static const size_t kEndRecordSize = 22;
static const size_t kZip64EndRecordSize = 56;
static const size_t kZip64LocatorSize = 20;
static const size_t kDirectoryEntrySize = 46;
static const size_t kLocalHeaderSize = 30;
// A 32-bit size or offset holding this says the value is in the zip64 extra field.
static const uint32_t kZip64Marker32 = 0xFFFFFFFFu;

static uint64_t Read64(const uint8_t* p) { return uint64_t(Read32(p)) | uint64_t(Read32(p + 4)) << 32; }

namespace {

// Where the central directory lies and how many entries it holds.
struct Directory {
    uint64_t count = 0, size = 0, offset = 0;
    size_t end = 0;  // where the directory must end: the first end record
};

bool FindDirectory(const std::vector<uint8_t>& jar, Directory& directory, std::string& error) {
    if (jar.size() < kEndRecordSize) {
        error = "too small for a jar";
        return false;
    }
    // The end record sits in the last 22 bytes plus a comment of at most 65535.
    size_t end = jar.size() - kEndRecordSize, lowest = end > 65535 ? end - 65535 : 0;
    while (Read32(&jar[end]) != kEndOfDirectory) {
        if (end == lowest) {
            error = "no zip directory (not a jar)";
            return false;
        }
        end--;
    }
    directory.count = Read16(&jar[end + 10]);
    directory.size = Read32(&jar[end + 12]);
    directory.offset = Read32(&jar[end + 16]);
    directory.end = end;
    // A zip64 file says so with a locator just before the end record, naming the zip64 end record.
    if (end >= kZip64LocatorSize && Read32(&jar[end - kZip64LocatorSize]) == kZip64Locator) {
        size_t locator = end - kZip64LocatorSize;
        uint64_t record = Read64(&jar[locator + 8]);
        if (record > locator || locator - record < kZip64EndRecordSize ||
            Read32(&jar[record]) != kZip64EndOfDirectory) {
            error = "zip64 end record is damaged";
            return false;
        }
        const uint8_t* p = &jar[size_t(record)];
        directory.count = Read64(p + 32);
        directory.size = Read64(p + 40);
        directory.offset = Read64(p + 48);
        directory.end = size_t(record);
    }
    if (directory.offset > directory.end || directory.size > directory.end - directory.offset) {
        error = "zip directory lies outside the file";
        return false;
    }
    if (directory.count > directory.size / kDirectoryEntrySize) {
        error = "zip directory is damaged";
        return false;
    }
    return true;
}

// Sizes and offset too large for their 32-bit fields, from the entry's zip64 extra field, in the
// order the format gives them.
bool ReadZip64Fields(const uint8_t* extra, size_t length, JarEntry& entry) {
    uint64_t* fields[] = {&entry.size, &entry.compressedSize, &entry.localHeaderOffset};
    bool wanted[] = {entry.size == kZip64Marker32, entry.compressedSize == kZip64Marker32,
                     entry.localHeaderOffset == kZip64Marker32};
    if (!wanted[0] && !wanted[1] && !wanted[2]) return true;
    for (size_t at = 0; length - at >= 4;) {
        uint16_t id = uint16_t(Read16(extra + at)), size = uint16_t(Read16(extra + at + 2));
        if (size > length - at - 4) return false;
        if (id == kZip64ExtraField) {
            size_t field = at + 4, fieldEnd = field + size;
            for (int i = 0; i < 3; i++) {
                if (!wanted[i]) continue;
                if (fieldEnd - field < 8) return false;
                *fields[i] = Read64(extra + field);
                field += 8;
            }
            return true;
        }
        at += 4 + size_t(size);
    }
    return false;
}

}  // namespace

bool ReadJarDirectory(const std::vector<uint8_t>& jar, std::vector<JarEntry>& entries, std::string& error) {
    entries.clear();
    Directory directory;
    if (!FindDirectory(jar, directory, error)) return false;
    entries.reserve(size_t(directory.count));
    size_t at = size_t(directory.offset), end = size_t(directory.offset + directory.size);
    for (uint64_t i = 0; i < directory.count; i++) {
        if (end - at < kDirectoryEntrySize || Read32(&jar[at]) != kDirectoryEntry) {
            error = "zip directory is damaged";
            return false;
        }
        const uint8_t* p = &jar[at];
        size_t nameLength = Read16(p + 28), extraLength = Read16(p + 30), commentLength = Read16(p + 32);
        size_t recordSize = kDirectoryEntrySize + nameLength + extraLength + commentLength;
        if (end - at < recordSize) {
            error = "zip directory is damaged";
            return false;
        }
        JarEntry entry;
        entry.method = uint16_t(Read16(p + 10));
        entry.compressedSize = Read32(p + 20);
        entry.size = Read32(p + 24);
        entry.localHeaderOffset = Read32(p + 42);
        entry.name.assign(reinterpret_cast<const char*>(p + kDirectoryEntrySize), nameLength);
        if (!ReadZip64Fields(p + kDirectoryEntrySize + nameLength, extraLength, entry)) {
            error = "entry " + entry.name + " lacks its zip64 sizes";
            return false;
        }
        entries.push_back(std::move(entry));
        at += recordSize;
    }
    return true;
}

bool ExtractJarEntry(const std::vector<uint8_t>& jar, const JarEntry& entry, size_t maxSize, std::vector<uint8_t>& out,
                     std::string& error) {
    out.clear();
    if (entry.localHeaderOffset > jar.size() || jar.size() - entry.localHeaderOffset < kLocalHeaderSize ||
        Read32(&jar[size_t(entry.localHeaderOffset)]) != kLocalHeader) {
        error = "entry " + entry.name + " has no local header";
        return false;
    }
    size_t at = size_t(entry.localHeaderOffset);
    size_t dataStart = at + kLocalHeaderSize + Read16(&jar[at + 26]) + Read16(&jar[at + 28]);
    if (dataStart > jar.size() || jar.size() - dataStart < entry.compressedSize) {
        error = "entry " + entry.name + " lies outside the file";
        return false;
    }
    if (entry.size > maxSize || entry.compressedSize > 0xFFFFFFFFu) {
        error = "entry " + entry.name + " is too large (" + std::to_string(entry.size) + " bytes)";
        return false;
    }
    const uint8_t* data = jar.data() + dataStart;
    if (entry.method == 0) {
        if (entry.compressedSize != entry.size) {
            error = "stored entry " + entry.name + " has two sizes";
            return false;
        }
        out.assign(data, data + size_t(entry.size));
        return true;
    }
    if (entry.method != 8) {
        error = "entry " + entry.name + " uses compression method " + std::to_string(entry.method);
        return false;
    }
    out.resize(size_t(entry.size));
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        error = "zlib cannot start";
        return false;
    }
    // One byte of room beyond the recorded size tells a stream that inflates to more from one that fits.
    uint8_t spare = 0;
    stream.next_in = const_cast<uint8_t*>(data);
    stream.avail_in = uInt(entry.compressedSize);
    stream.next_out = out.empty() ? &spare : out.data();
    stream.avail_out = out.empty() ? 1 : uInt(out.size());
    int status = inflate(&stream, Z_FINISH);
    size_t produced = out.empty() ? 1 - stream.avail_out : out.size() - stream.avail_out;
    inflateEnd(&stream);
    if (status != Z_STREAM_END || produced != entry.size) {
        error = "entry " + entry.name + " does not inflate to its recorded size";
        out.clear();
        return false;
    }
    return true;
}
