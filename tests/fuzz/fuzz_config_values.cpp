// The configuration file's values, each any text (cut by the profile reader to its buffer, as
// Windows does), read into a launch state that may already hold settings.
// Input: one selector byte, then the values of the keys below separated by NUL bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/launch_state.h"
#include "base/text.h"
#include "config/config_file.h"
#include "fake_platform.h"
#include "fuzz_input.h"

static const char* const kKeys[] = {"jre", "mainclass", "jarfile", "classpath", "vmoptions", "md5",
                                    "syncdirectory", "initialHeapPercent", "initialHeapSize",
                                    "maxHeapPercent", "maxHeapSize"};
static const size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];
static std::string g_configPath;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The reader checks that the file exists before it asks the profile for values.
    char path[] = "/tmp/quorvia-fuzz-config-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) abort();
    close(fd);
    g_configPath = path;
    return 0;
}

static std::string Cut(const std::string& value, size_t bufferSize) {
    std::string text = AsCString(value);
    return text.size() < bufferSize ? text : text.substr(0, bufferSize - 1);
}

static int BlankSeparatedWords(const std::string& text) {
    int words = 0;
    bool inWord = false;
    for (char c : text) {
        if (c != ' ' && !inWord) words++;
        inWord = c != ' ';
    }
    return words;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    ResetFakePlatformAndState();
    uint8_t selector = data[0];
    std::vector<std::string> values = SplitFields(data + 1, size - 1, kKeyCount);
    values.resize(kKeyCount);
    SetConfigFilePath(g_configPath.c_str());
    for (size_t i = 0; i < kKeyCount; i++) g_fake.profile[g_configPath + "|" + kKeys[i]] = values[i];
    // Settings given earlier, on the command line, win over the file's.
    if (selector & 1) g_launch.initialHeapPercent = 7;
    if (selector & 2) g_launch.mainClassName = "given.Main";

    FUZZ_CHECK(ReadConfigFile());

    std::string mainClass = Cut(values[1], 1024);
    if (selector & 2) {
        FUZZ_CHECK(strcmp(g_launch.mainClassName, "given.Main") == 0);
    } else if (!mainClass.empty()) {
        FUZZ_CHECK(g_launch.mainClassName != nullptr && mainClass == g_launch.mainClassName);
    }
    FUZZ_CHECK(g_launch.jvmOptions.count == BlankSeparatedWords(Cut(values[4], 1024)));
    std::string initialPercent = Cut(values[7], 1024);
    int expected = (selector & 1) ? 7 : (initialPercent.empty() ? 0 : ParseDecimal(initialPercent.c_str()));
    FUZZ_CHECK(g_launch.initialHeapPercent == expected);
    std::string maxSize = Cut(values[10], 1024);
    FUZZ_CHECK(g_launch.maxHeapSize == (maxSize.empty() ? 0 : ParseDecimal(maxSize.c_str())));
    std::string jre = Cut(values[0], 64);
    if (!jre.empty()) FUZZ_CHECK(g_launch.jreVersion != nullptr && jre == g_launch.jreVersion);
    free(g_launch.jreVersion);
    g_launch.jreVersion = nullptr;
    const GrowableString& classPath = g_launch.classPath;
    FUZZ_CHECK(classPath.text != nullptr && strlen(classPath.text) < classPath.capacity);
    return 0;
}
