// The jar reader on zip64 directories: more than 65,535 entries, and sizes and offsets moved into
// the zip64 extra field. The archives are written here field by field from the format.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pack/jar_reader.h"
#include "test_support.h"

namespace {

using packtest::Bytes;

void Put(Bytes& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; i++) out.push_back(uint8_t(value >> (8 * i)));
}

struct StoredEntry {
    std::string name;
    std::string data;
    bool zip64Fields = false;   // sizes and offset only in the zip64 extra field
    uint16_t zip64Id = 0x0001;  // the id of that field
};

// Stored entries, their directory, and the zip64 end record and locator before the classic end
// record, whose count says 0xFFFF as zip64 writers leave it.
Bytes Zip64Archive(const std::vector<StoredEntry>& entries) {
    Bytes file, directory;
    for (const StoredEntry& e : entries) {
        uint64_t offset = file.size();
        Put(file, 0x04034b50, 4);
        Put(file, 20, 2), Put(file, 0, 2), Put(file, 0, 2), Put(file, 0, 4), Put(file, 0, 4);
        Put(file, e.data.size(), 4), Put(file, e.data.size(), 4);
        Put(file, e.name.size(), 2), Put(file, 0, 2);
        file.insert(file.end(), e.name.begin(), e.name.end());
        file.insert(file.end(), e.data.begin(), e.data.end());

        uint32_t small = e.zip64Fields ? 0xFFFFFFFFu : uint32_t(e.data.size());
        Put(directory, 0x02014b50, 4);
        Put(directory, 45, 2), Put(directory, 45, 2), Put(directory, 0, 2), Put(directory, 0, 2);
        Put(directory, 0, 4), Put(directory, 0, 4);
        Put(directory, small, 4), Put(directory, small, 4);
        Put(directory, e.name.size(), 2), Put(directory, e.zip64Fields ? 4 + 4 + 24 : 0, 2), Put(directory, 0, 2);
        Put(directory, 0, 2), Put(directory, 0, 2), Put(directory, 0, 4);
        Put(directory, e.zip64Fields ? 0xFFFFFFFFu : offset, 4);
        directory.insert(directory.end(), e.name.begin(), e.name.end());
        if (e.zip64Fields) {
            Put(directory, 0xCAFE, 2), Put(directory, 0, 2);  // another extra field first
            Put(directory, e.zip64Id, 2), Put(directory, 24, 2);
            Put(directory, e.data.size(), 8), Put(directory, e.data.size(), 8), Put(directory, offset, 8);
        }
    }
    uint64_t directoryOffset = file.size();
    file.insert(file.end(), directory.begin(), directory.end());
    uint64_t record = file.size();
    Put(file, 0x06064b50, 4), Put(file, 44, 8), Put(file, 45, 2), Put(file, 45, 2), Put(file, 0, 4), Put(file, 0, 4);
    Put(file, entries.size(), 8), Put(file, entries.size(), 8), Put(file, directory.size(), 8);
    Put(file, directoryOffset, 8);
    Put(file, 0x07064b50, 4), Put(file, 0, 4), Put(file, record, 8), Put(file, 1, 4);
    Put(file, 0x06054b50, 4), Put(file, 0, 2), Put(file, 0, 2), Put(file, 0xFFFF, 2), Put(file, 0xFFFF, 2);
    Put(file, 0xFFFFFFFFu, 4), Put(file, 0xFFFFFFFFu, 4), Put(file, 0, 2);
    return file;
}

TEST(JarReader, ReadsAZip64DirectoryPastTheClassicLimitOfEntries) {
    std::vector<StoredEntry> entries;
    for (int i = 0; i < 70000; i++) entries.push_back({"r/" + std::to_string(i), "", false});
    entries.push_back({"com/example/Main.class", "main class bytes", true});
    Bytes jar = Zip64Archive(entries);
    std::vector<JarEntry> read;
    std::string error;
    ASSERT_TRUE(ReadJarDirectory(jar, read, error)) << error;
    ASSERT_EQ(70001u, read.size());
    EXPECT_EQ("r/69999", read[69999].name);
    const JarEntry& main = read.back();
    EXPECT_EQ("com/example/Main.class", main.name);
    EXPECT_EQ(16u, main.size);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ExtractJarEntry(jar, main, 64, bytes, error)) << error;
    EXPECT_EQ("main class bytes", std::string(bytes.begin(), bytes.end()));

    // A locator naming no zip64 record, and an entry whose sizes are nowhere.
    Bytes badLocator = jar;
    badLocator[badLocator.size() - 22 - 20 + 8] ^= 0x01;
    Bytes noExtra = Zip64Archive({{"a", "x", true, 0x0002}});
    for (const auto& [damaged, message] : {std::pair<Bytes, std::string>{badLocator, "zip64 end record is damaged"},
                                           {noExtra, "entry a lacks its zip64 sizes"}}) {
        EXPECT_FALSE(ReadJarDirectory(damaged, read, error));
        EXPECT_EQ(message, error);
    }
}

}  // namespace
