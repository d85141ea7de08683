// The packer's reads: regular files only, never waiting on a pipe, and never more than the limit of
// the file's kind.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "pack/file_io.h"
#include "pack/sha256.h"
#include "test_support.h"

namespace {

using namespace packtest;

TEST(FileIo, ReadsRegularFilesWithinTheLimitOfTheirKindOnly) {
    TempDir dir;
    const FileKind eightBytes = {"a test file", 8};
    write_bytes(dir.path("eight"), Bytes(8, 'x'));
    write_bytes(dir.path("nine"), Bytes(9, 'x'));
    ASSERT_EQ(0, mkdir(dir.path("folder").c_str(), 0755));
    ASSERT_EQ(0, mkfifo(dir.path("pipe").c_str(), 0600));  // no writer: an open that waits would hang here
    const struct {
        std::string path;
        std::string error;
    } refused[] = {
        {dir.path("nine"), "larger than 8 bytes, the limit for a test file"},
        {dir.path("folder"), "a folder, not a regular file"},
        {dir.path("pipe"), "a pipe, not a regular file"},
        {"/dev/zero", "a device, not a regular file"},
        {dir.path("missing"), "No such file or directory"},
    };
    std::vector<uint8_t> bytes;
    std::string error;
    for (const auto& c : refused) {
        EXPECT_FALSE(ReadWholeFile(c.path, eightBytes, bytes, error)) << c.path;
        EXPECT_EQ(c.error, error);
        EXPECT_TRUE(bytes.empty());
    }
    ASSERT_TRUE(ReadWholeFile(dir.path("eight"), eightBytes, bytes, error)) << error;
    EXPECT_EQ(Bytes(8, 'x'), bytes);
    // A header read takes the start of a longer file, and only of a regular one.
    ASSERT_TRUE(ReadFileStart(dir.path("nine"), 4, bytes, error)) << error;
    EXPECT_EQ(Bytes(4, 'x'), bytes);
    EXPECT_FALSE(ReadFileStart("/dev/zero", 4, bytes, error));
    uint8_t digest[kSha256Size];
    EXPECT_FALSE(Sha256OfFile(dir.path("pipe"), digest, error));
    EXPECT_EQ("a pipe, not a regular file", error);
}

}  // namespace
