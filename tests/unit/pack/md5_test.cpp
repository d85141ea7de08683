#include <gtest/gtest.h>

#include <string>

#include "pack/md5_text.h"

namespace {

std::string hex(const std::string& s) { return Md5Hex(s.data(), s.size()); }

TEST(PackMd5, Rfc1321TestSuite) {
    EXPECT_EQ(hex(""), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(hex("a"), "0CC175B9C0F1B6A831C399E269772661");
    EXPECT_EQ(hex("abc"), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(hex("message digest"), "F96B697D7CB7938D525A2F31AAF161D0");
    EXPECT_EQ(hex("abcdefghijklmnopqrstuvwxyz"), "C3FCD3D76192E4007DFB496CCA67E13B");
    EXPECT_EQ(hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "D174AB98D277D9F5A5611C2C9F419D9F");
    EXPECT_EQ(hex("1234567890123456789012345678901234567890"
                  "1234567890123456789012345678901234567890"),
              "57EDF4A22BE3C955AC49DA2E2107B67A");
}

TEST(PackMd5, PaddingBoundaries) {
    // 55, 56 and 64 bytes are where the padding needs one block or two.
    EXPECT_EQ(hex(std::string(55, 'a')), "EF1772B6DFF9A122358552954AD0DF65");
    EXPECT_EQ(hex(std::string(56, 'a')), "3B0C8AC703F828B04C6C197006D17218");
    EXPECT_EQ(hex(std::string(64, 'a')), "014842D480B571495A4A0363793F7367");
}

TEST(PackMd5, MillionA) {
    std::string million(1000000, 'a');
    EXPECT_EQ(hex(million), "7707D6AE4E027C70EEA2A935C2296F21");
}

}  // namespace
