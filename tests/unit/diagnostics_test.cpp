// Messages go out whole, in one piece, whatever their length; the processor folder names.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/diagnostics.h"

namespace {

// What a stream received: written to a temporary file and read back.
class StreamCapture {
public:
    StreamCapture() : file_(tmpfile()) {}
    ~StreamCapture() {
        if (file_ != nullptr) fclose(file_);
    }
    FILE* file() const { return file_; }
    std::string Text() {
        fflush(file_);
        rewind(file_);
        std::string text;
        char chunk[4096];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, file_)) > 0) text.append(chunk, got);
        return text;
    }

private:
    FILE* file_;
};

TEST(PrintMessage, WritesTheFormattedTextAndReturnsItsLength) {
    StreamCapture capture;
    ASSERT_NE(nullptr, capture.file());
    EXPECT_EQ(41, PrintMessage(capture.file(), "Unable to load %s (%lu)\n", "SYNC-PATH Resource", 1813ul));
    EXPECT_EQ(0, PrintMessage(capture.file(), "%s", ""));
    EXPECT_EQ("Unable to load SYNC-PATH Resource (1813)\n", capture.Text());
}

TEST(PrintMessage, TextLongerThanItsLocalBufferGoesOutWhole) {
    StreamCapture capture;
    ASSERT_NE(nullptr, capture.file());
    for (size_t length : {1022u, 1023u, 1024u, 1025u, 5000u}) {
        std::string entry(length, 'x');
        entry.back() = 'E';
        std::string before = capture.Text();
        fseek(capture.file(), 0, SEEK_END);
        EXPECT_EQ(static_cast<int>(length) + 3, PrintMessage(capture.file(), "(%s)\n", entry.c_str()));
        EXPECT_EQ(before + "(" + entry + ")\n", capture.Text()) << length;
    }
}

TEST(ProcessorFolder, NamesFollowTheArchitectureAndWow64) {
    EXPECT_STREQ("amd64", ArchNameForProcessor(9, false));
    EXPECT_STREQ("i386", ArchNameForProcessor(9, true));
    EXPECT_STREQ("i386", ArchNameForProcessor(0, false));
    EXPECT_STREQ("itanium64", ArchNameForProcessor(6, false));
    EXPECT_STREQ("unknown", ArchNameForProcessor(12, false));
}

}  // namespace
