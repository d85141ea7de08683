#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/launch_state.h"
#include "fake_platform.h"
#include "launcher/vm_options.h"

namespace {

struct CapturedCreate {
    int calls = 0;
    jint version = 0;
    jboolean ignoreUnrecognized = JNI_TRUE;
    std::vector<std::pair<std::string, void*>> options;
    jint answer = JNI_OK;
} g_captured;

jint JNICALL FakeCreateJavaVm(JavaVM** vm, void** env, void* rawArgs) {
    auto* args = static_cast<JavaVMInitArgs*>(rawArgs);
    g_captured.calls++;
    g_captured.version = args->version;
    g_captured.ignoreUnrecognized = args->ignoreUnrecognized;
    for (int i = 0; i < args->nOptions; i++) {
        g_captured.options.emplace_back(args->options[i].optionString, args->options[i].extraInfo);
    }
    *vm = reinterpret_cast<JavaVM*>(0x1234);
    *env = reinterpret_cast<void*>(0x5678);
    return g_captured.answer;
}

class VmOptionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetFakePlatformAndState();
        g_captured = CapturedCreate();
    }
};

TEST_F(VmOptionsTest, CapacityDoublesAndKeepsOrderAndExtraPointers) {
    static const char* texts[] = {"a", "b", "c", "d", "e", "f", "g", "h", "i"};
    int marker = 0;
    AddVmOption(texts[0], &marker);
    EXPECT_EQ(4, g_launch.jvmOptions.capacity);
    for (int i = 1; i < 5; i++) AddVmOption(texts[i], nullptr);
    EXPECT_EQ(8, g_launch.jvmOptions.capacity);
    for (int i = 5; i < 9; i++) AddVmOption(texts[i], nullptr);
    EXPECT_EQ(16, g_launch.jvmOptions.capacity);
    ASSERT_EQ(9, g_launch.jvmOptions.count);
    for (int i = 0; i < 9; i++) EXPECT_EQ(texts[i], g_launch.jvmOptions.options[i].optionString);
    EXPECT_EQ(&marker, g_launch.jvmOptions.options[0].extraInfo);
    EXPECT_EQ(nullptr, g_launch.jvmOptions.options[8].extraInfo);
}

TEST_F(VmOptionsTest, ClassPathOptionEvenWhenEmpty) {
    AddClassPathOption();
    EXPECT_STREQ("-Djava.class.path=", g_launch.jvmOptions.options[0].optionString);
    AppendClassPath("C:\\App\\a.jar");
    AddClassPathOption();
    EXPECT_STREQ("-Djava.class.path=;C:\\App\\a.jar", g_launch.jvmOptions.options[1].optionString);
}

TEST_F(VmOptionsTest, CreateVmPassesEverythingAndReleasesTheList) {
    int abortHook = 0, exitHook = 0;
    AddVmOption("-Dx=1", nullptr);
    AddClassPathOption();
    AddVmOption("abort", &abortHook);
    AddVmOption("exit", &exitHook);
    VmEntryPoints entryPoints = {FakeCreateJavaVm, nullptr, nullptr};
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    EXPECT_TRUE(CreateVm(entryPoints, &vm, &env));
    EXPECT_EQ(JNI_VERSION_1_2, g_captured.version);
    EXPECT_EQ(JNI_FALSE, g_captured.ignoreUnrecognized);
    ASSERT_EQ(4u, g_captured.options.size());
    EXPECT_EQ("-Dx=1", g_captured.options[0].first);
    EXPECT_EQ("-Djava.class.path=", g_captured.options[1].first);
    EXPECT_EQ(std::make_pair(std::string("abort"), static_cast<void*>(&abortHook)), g_captured.options[2]);
    EXPECT_EQ(std::make_pair(std::string("exit"), static_cast<void*>(&exitHook)), g_captured.options[3]);
    EXPECT_EQ(reinterpret_cast<JavaVM*>(0x1234), vm);
    EXPECT_EQ(nullptr, g_launch.jvmOptions.options);
    EXPECT_EQ(0, g_launch.jvmOptions.capacity);
}

TEST_F(VmOptionsTest, CreateVmReportsAnyOtherAnswerAsFailure) {
    g_captured.answer = JNI_ERR;
    AddVmOption("-Xbogus", nullptr);
    VmEntryPoints entryPoints = {FakeCreateJavaVm, nullptr, nullptr};
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    EXPECT_FALSE(CreateVm(entryPoints, &vm, &env));
    EXPECT_EQ(nullptr, g_launch.jvmOptions.options) << "released on failure too";
    g_captured.answer = 1;
    EXPECT_FALSE(CreateVm(entryPoints, &vm, &env));
}

}  // namespace
