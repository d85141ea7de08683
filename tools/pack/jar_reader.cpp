#include "pack/jar_reader.h"

#include <zlib.h>

#include <cstring>

#include "pack/byte_order.h"

static const uint32_t kEndOfDirectory = 0x06054b50;
static const uint32_t kDirectoryEntry = 0x02014b50;
static const uint32_t kLocalHeader = 0x04034b50;
static const size_t kEndRecordSize = 22;
static const size_t kDirectoryEntrySize = 46;
static const size_t kLocalHeaderSize = 30;

bool ReadJarDirectory(const std::vector<uint8_t>& jar, std::vector<JarEntry>& entries, std::string& error) {
    entries.clear();
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
    uint32_t count = Read16(&jar[end + 10]), directorySize = Read32(&jar[end + 12]), at = Read32(&jar[end + 16]);
    if (at > end || directorySize > end - at) {
        error = "zip directory lies outside the file";
        return false;
    }
    for (uint32_t i = 0; i < count; i++) {
        if (jar.size() - at < kDirectoryEntrySize || Read32(&jar[at]) != kDirectoryEntry) {
            error = "zip directory is damaged";
            return false;
        }
        const uint8_t* p = &jar[at];
        size_t nameLength = Read16(p + 28), extraLength = Read16(p + 30), commentLength = Read16(p + 32);
        size_t recordSize = kDirectoryEntrySize + nameLength + extraLength + commentLength;
        if (jar.size() - at < recordSize) {
            error = "zip directory is damaged";
            return false;
        }
        JarEntry entry;
        entry.method = uint16_t(Read16(p + 10));
        entry.compressedSize = Read32(p + 20);
        entry.size = Read32(p + 24);
        entry.localHeaderOffset = Read32(p + 42);
        entry.name.assign(reinterpret_cast<const char*>(p + kDirectoryEntrySize), nameLength);
        entries.push_back(entry);
        at += uint32_t(recordSize);
    }
    return true;
}

bool ExtractJarEntry(const std::vector<uint8_t>& jar, const JarEntry& entry, size_t maxSize, std::vector<uint8_t>& out,
                     std::string& error) {
    out.clear();
    size_t at = entry.localHeaderOffset;
    if (at > jar.size() || jar.size() - at < kLocalHeaderSize || Read32(&jar[at]) != kLocalHeader) {
        error = "entry " + entry.name + " has no local header";
        return false;
    }
    size_t dataStart = at + kLocalHeaderSize + Read16(&jar[at + 26]) + Read16(&jar[at + 28]);
    if (dataStart > jar.size() || jar.size() - dataStart < entry.compressedSize) {
        error = "entry " + entry.name + " lies outside the file";
        return false;
    }
    if (entry.size > maxSize) {
        error = "entry " + entry.name + " is too large (" + std::to_string(entry.size) + " bytes)";
        return false;
    }
    const uint8_t* data = jar.data() + dataStart;
    if (entry.method == 0) {
        if (entry.compressedSize != entry.size) {
            error = "stored entry " + entry.name + " has two sizes";
            return false;
        }
        out.assign(data, data + entry.size);
        return true;
    }
    if (entry.method != 8) {
        error = "entry " + entry.name + " uses compression method " + std::to_string(entry.method);
        return false;
    }
    out.resize(entry.size);
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        error = "zlib cannot start";
        return false;
    }
    // One byte of room beyond the recorded size tells a stream that inflates to more from one that fits.
    uint8_t spare = 0;
    stream.next_in = const_cast<uint8_t*>(data);
    stream.avail_in = entry.compressedSize;
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
