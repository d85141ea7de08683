// Names from a package as the text reports print them: nothing a terminal would obey gets through.
#include <gtest/gtest.h>

#include "pack/report_text.h"

namespace {

TEST(ReportText, EscapesControlsAndBytesThatAreNotUtf8) {
    const struct {
        std::string text, printable, quoted;
    } cases[] = {
        {"lib\\app.jar", "lib\\app.jar", "\"lib\\\\app.jar\""},
        {"a\x1b[2Jb", "a\\x1B[2Jb", "\"a\\x1B[2Jb\""},
        {"line\nFAIL  forged", "line\\x0AFAIL  forged", "\"line\\x0AFAIL  forged\""},
        {"del\x7f\t", "del\\x7F\\x09", "\"del\\x7F\\x09\""},
        {"say \"hi\"", "say \"hi\"", "\"say \\\"hi\\\"\""},
        {"Soci\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "Soci\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
         "\"Soci\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
        // C1 controls, written in UTF-8 or as single bytes; a cut sequence; an overlong "/"; a surrogate.
        {"\xC2\x9B[31m", "\\xC2\\x9B[31m", "\"\\xC2\\x9B[31m\""},
        {"\x9b[31m\xE9", "\\x9B[31m\\xE9", "\"\\x9B[31m\\xE9\""},
        {"\xE2\x82", "\\xE2\\x82", "\"\\xE2\\x82\""},
        {"\xC0\xAF", "\\xC0\\xAF", "\"\\xC0\\xAF\""},
        {"\xED\xA0\x80", "\\xED\\xA0\\x80", "\"\\xED\\xA0\\x80\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.printable, PrintableText(c.text));
        EXPECT_EQ(c.quoted, QuotedPrintableText(c.text));
    }
    EXPECT_EQ("a\\x00b", PrintableText(std::string("a\0b", 3)));
}

}  // namespace
