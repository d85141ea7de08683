#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/launch_state.h"
#include "fake_platform.h"
#include "runtime/heap_sizing.h"

namespace {

const uint64_t kEightGiB = 8ull << 30;

std::vector<std::string> VmOptionTexts() {
    std::vector<std::string> texts;
    for (int i = 0; i < g_launch.jvmOptions.count; i++) texts.push_back(g_launch.jvmOptions.options[i].optionString);
    return texts;
}

class HeapSizingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetFakePlatformAndState();
        g_fake.availablePhysical = kEightGiB;
    }
    std::vector<std::string> Apply() {
        testing::internal::CaptureStderr();
        ApplyHeapSizing();
        err = testing::internal::GetCapturedStderr();
        return VmOptionTexts();
    }
    std::string err;
};

TEST(HeapOptionMegabytes, ArithmeticAndLimits) {
    EXPECT_EQ(819, HeapOptionMegabytes(0, 10, kEightGiB, "amd64"));
    EXPECT_EQ(4096, HeapOptionMegabytes(0, 50, kEightGiB, "amd64"));
    EXPECT_EQ(1024, HeapOptionMegabytes(0, 50, kEightGiB, "i386"));
    EXPECT_EQ(819, HeapOptionMegabytes(0, 10, kEightGiB, "i386"));
    EXPECT_EQ(2000, HeapOptionMegabytes(2000, 10, kEightGiB, "amd64"));
    EXPECT_EQ(9830, HeapOptionMegabytes(2048, 120, kEightGiB, "amd64"));
    EXPECT_EQ(0, HeapOptionMegabytes(0, 0, kEightGiB, "amd64"));
    EXPECT_EQ(256, HeapOptionMegabytes(256, -20, kEightGiB, "amd64")) << "a negative percentage counts as none";
    EXPECT_EQ(0, HeapOptionMegabytes(-5, -20, kEightGiB, "amd64"));
    // 100% of a huge machine stays a valid positive number.
    EXPECT_EQ(0x7fffffff, HeapOptionMegabytes(0, 100, ~0ull / 100, "amd64"));
    // One byte more and the product passes 2^64 by 84: it must saturate, not wrap to 84 bytes.
    EXPECT_EQ(0x7fffffff, HeapOptionMegabytes(0, 100, ~0ull / 100 + 1, "amd64"));
}

TEST_F(HeapSizingTest, PercentagesGiveBothOptions) {
    g_launch.initialHeapPercent = 10;
    g_launch.maxHeapPercent = 50;
    EXPECT_EQ((std::vector<std::string>{"-Xms819m", "-Xmx4096m"}), Apply());
    EXPECT_EQ("", err) << "percentages set by options: no resource is looked up";
}

TEST_F(HeapSizingTest, I386CapsAt1024) {
    g_fake.archName = "i386";
    g_launch.initialHeapPercent = 10;
    g_launch.maxHeapPercent = 50;
    EXPECT_EQ((std::vector<std::string>{"-Xms819m", "-Xmx1024m"}), Apply());
}

TEST_F(HeapSizingTest, SizesDecideAndResourcesAreStillLookedUp) {
    g_launch.initialHeapSize = 256;
    g_launch.maxHeapSize = 2048;
    EXPECT_EQ((std::vector<std::string>{"-Xms256m", "-Xmx2048m"}), Apply());
    EXPECT_EQ(
        "Unable to load INIT-HEAP-PERC Resource (Resource not found) errno <1813>\n"
        "Unable to load MAX-HEAP-PERCENT Resource (Resource not found) 1813\n",
        err);
}

TEST_F(HeapSizingTest, InconsistentValuesAddNothing) {
    g_launch.maxHeapPercent = 120;
    g_launch.initialHeapPercent = 10;
    EXPECT_TRUE(Apply().empty());
    ResetFakePlatformAndState();
    g_launch.initialHeapPercent = 30;
    g_launch.maxHeapPercent = 20;
    EXPECT_TRUE(Apply().empty());
}

TEST_F(HeapSizingTest, Above100PercentWithSizesTakesTheLarger) {
    g_launch.initialHeapSize = 256;
    g_launch.maxHeapSize = 2048;
    g_launch.maxHeapPercent = 120;
    EXPECT_EQ((std::vector<std::string>{"-Xms256m", "-Xmx9830m"}), Apply());
}

TEST_F(HeapSizingTest, ResourcesFillUnsetPercentages) {
    SetFakeResource("VM-INIT-HEAP-PERC", 11000, "10");
    SetFakeResource("VM-MAX-HEAP-PERC", 11100, std::string("50\0", 3));
    EXPECT_EQ((std::vector<std::string>{"-Xms819m", "-Xmx4096m"}), Apply());
    EXPECT_EQ("", err);
}

TEST_F(HeapSizingTest, OverlongPercentageResourceIsIgnoredSilently) {
    SetFakeResource("VM-INIT-HEAP-PERC", 11000, "10" + std::string(1022, ' '));
    SetFakeResource("VM-MAX-HEAP-PERC", 11100, "50");
    EXPECT_TRUE(Apply().empty());
    EXPECT_EQ("", err);
    EXPECT_EQ(0, g_launch.initialHeapPercent);
}

TEST_F(HeapSizingTest, ZeroBoundAddsNoOption) {
    g_launch.initialHeapSize = 100;
    g_launch.maxHeapSize = 100;
    g_fake.availablePhysical = 0;
    EXPECT_EQ((std::vector<std::string>{"-Xms100m", "-Xmx100m"}), Apply());
    ResetFakePlatformAndState();
    g_launch.initialHeapPercent = 10;
    g_launch.maxHeapPercent = 50;
    g_fake.availablePhysical = 1ull << 20;  // 10% of 1 MiB is 0 MB
    EXPECT_TRUE(Apply().empty());
}

}  // namespace
