#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "fake_runtime_search_edge.h"
#include "runtime/runtime_search.h"

namespace {

class RuntimeSearchTest : public testing::Test {
protected:
    void SetUp() override { ResetFakeRuntimeSearch(); }
    // A runtime with its files; release null leaves the release file out.
    void Runtime(const std::string& home, const char* release) {
        for (const char* file : {"\\bin\\java.dll", "\\lib\\jvm.cfg", "\\bin\\server\\jvm.dll"}) {
            g_fakeRuntime.existingPaths.insert(home + file);
        }
        if (release != nullptr) g_fakeSearch.files[home + "\\release"] = release;
    }
    void Value(const std::string& key, const char* name, const std::string& data) {
        g_fakeRuntime.registryStrings[key][name] = data;
    }
    std::vector<std::string> Collect(const char* sources) {
        RuntimeSearchOrder order;
        EXPECT_TRUE(ParseRuntimeSearchOrder(sources, &order));
        RuntimeCandidate found[8];
        int count = CollectRuntimeCandidates(order, false, found, 8);
        std::vector<std::string> listed;
        for (int i = 0; i < count; i++) listed.push_back(std::string(found[i].home) + " <" + found[i].origin + ">");
        return listed;
    }
    bool Find(const char* version, const char* url) {
        SetFakeResource("JAVA-VERSION", 13000, std::string(version) + '\0');
        if (url != nullptr) SetFakeResource("DOWNLOAD-URL", 13020, url);
        RuntimeRule rule;
        EXPECT_TRUE(RuntimeRulePacked(&rule));
        testing::internal::CaptureStdout();
        bool found = FindRuntimeByRule(rule, false, home_, sizeof home_);
        out_ = testing::internal::GetCapturedStdout();
        return found;
    }
    char home_[1024] = "";
    std::string out_;
};

TEST_F(RuntimeSearchTest, RegistryLayoutsOfTodaysInstallersNameTheirHomes) {
    struct Case {
        const char* name;
        std::vector<std::vector<std::string>> values;  // key, value name, data
        std::vector<std::string> homes;
    } const cases[] = {
        {"Temurin MSI per user, trailing backslash",
         {{"HKCU\\SOFTWARE\\Eclipse Adoptium\\JDK\\21.0.4.7\\hotspot\\MSI", "Path", "C:\\U\\jdk-21\\"}},
         {"C:\\U\\jdk-21 <HKCU\\SOFTWARE\\Eclipse Adoptium>"}},
        {"Inno Setup EXE and Semeru's openj9, any case",
         {{"HKLM\\software\\microsoft\\jdk\\17.0.11.9\\hotspot\\EXE", "Path", "C:\\ms-17"},
          {"HKLM\\SOFTWARE\\Semeru\\JRE\\17.0.10.0\\openj9\\MSI", "Path", "C:\\semeru-17\\"}},
         {"C:\\ms-17 <HKLM\\SOFTWARE\\Microsoft>", "C:\\semeru-17 <HKLM\\SOFTWARE\\Semeru>"}},
        {"JavaSoft major and full keys name one home",
         {{"HKLM\\SOFTWARE\\JavaSoft\\JDK", "CurrentVersion", "21"},
          {"HKLM\\SOFTWARE\\JavaSoft\\JDK\\21", "JavaHome", "C:\\jdk-21"},
          {"HKLM\\SOFTWARE\\JavaSoft\\JDK\\21.0.4.7", "JavaHome", "C:\\jdk-21\\"},
          {"HKLM\\SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.8.0.212", "JavaHome", "C:\\jre8"}},
         {"C:\\jdk-21 <HKLM\\SOFTWARE\\JavaSoft\\JDK>",
          "C:\\jre8 <HKLM\\SOFTWARE\\JavaSoft\\Java Runtime Environment>"}},
        {"Zulu's own key",
         {{"HKLM\\SOFTWARE\\Azul Systems\\Zulu\\zulu-17", "InstallationPath", "C:\\zulu-17\\"}},
         {"C:\\zulu-17 <HKLM\\SOFTWARE\\Azul Systems\\Zulu>"}},
        {"32-bit view, per-user JavaSoft and a flag named JavaHome are not homes",
         {{"HKLM\\SOFTWARE\\WOW6432Node\\JavaSoft\\JDK\\17", "JavaHome", "C:\\x86"},
          {"HKCU\\SOFTWARE\\JavaSoft\\JDK\\17", "JavaHome", "C:\\user"},
          {"HKLM\\SOFTWARE\\Eclipse Adoptium\\JDK\\17.0.2.8\\hotspot\\MSI", "JavaHome", "1"}},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetFakeRuntimeSearch();
        for (const auto& v : c.values) Value(v[0], v[1].c_str(), v[2]);
        EXPECT_EQ(Collect("registry"), c.homes);
        EXPECT_EQ(g_fakeRuntime.openRegistryKeys, 0);
    }
}

TEST_F(RuntimeSearchTest, EnvironmentSourcesNameTheHomeAboveBin) {
    g_fakeSearch.environment["Java_Home"] = "\"C:\\Corretto\\jdk11\\\"";
    g_fakeSearch.environment["PATH"] =
        "C:\\Windows;\"C:\\Oracle\\javapath\";C:\\jdk-17\\bin\\;;C:\\Corretto\\jdk11\\bin";
    g_fakeRuntime.existingPaths = {"C:\\Oracle\\javapath\\java.exe", "C:\\jdk-17\\bin\\java.exe",
                                   "C:\\Corretto\\jdk11\\bin\\java.exe"};
    g_fakeSearch.finalPaths["C:\\Oracle\\javapath\\java.exe"] = "C:\\jdk-21\\bin\\java.exe";
    EXPECT_EQ(Collect("java-home,path"),
              (std::vector<std::string>{"C:\\Corretto\\jdk11 <JAVA_HOME>", "C:\\jdk-21 <PATH>", "C:\\jdk-17 <PATH>"}));
}

TEST_F(RuntimeSearchTest, RangePicksTheRegisteredTemurinOverCorretto) {
    Value("HKLM\\SOFTWARE\\Eclipse Adoptium\\JDK\\21.0.4.7\\hotspot\\MSI", "Path", "C:\\temurin-21\\");
    Value("HKLM\\SOFTWARE\\JavaSoft\\JDK\\11.0.4", "JavaHome", "C:\\corretto-11");
    Value("HKLM\\SOFTWARE\\JavaSoft\\JDK\\17", "JavaHome", "C:\\arm-17");
    Runtime("C:\\temurin-21", "JAVA_VERSION=\"21.0.4\"\nOS_ARCH=\"x86_64\"\n");
    Runtime("C:\\corretto-11", "JAVA_VERSION=\"11.0.4\"\nOS_ARCH=\"amd64\"\n");
    Runtime("C:\\arm-17", "JAVA_VERSION=\"17.0.2\"\nOS_ARCH=\"aarch64\"\n");
    ASSERT_TRUE(Find("17..21", nullptr));
    EXPECT_STREQ(home_, "C:\\temurin-21");
    EXPECT_NE(out_.find("Runtime C:\\corretto-11 (HKLM\\SOFTWARE\\JavaSoft\\JDK): Java 11, too old\n"),
              std::string::npos);
    EXPECT_NE(out_.find("Runtime C:\\arm-17 (HKLM\\SOFTWARE\\JavaSoft\\JDK): Java 17, ARM64\n"), std::string::npos);
    EXPECT_TRUE(g_fake.fatalTexts.empty());
}

TEST_F(RuntimeSearchTest, NothingFitsOffersThePageOnceOrWritesItOnTheConsole) {
    const char* url = "https://adoptium.net/";
    Value("HKLM\\SOFTWARE\\JavaSoft\\JDK\\11.0.4", "JavaHome", "C:\\corretto-11");
    Runtime("C:\\corretto-11", "JAVA_VERSION=\"11.0.4\"\nOS_ARCH=\"amd64\"\n");
    const std::string message =
        "This application needs Java 17 to 21 (64-bit).\n"
        "Looked in: the application folder, the registry, JAVA_HOME, PATH.\n"
        "Found:\n  C:\\corretto-11 (HKLM\\SOFTWARE\\JavaSoft\\JDK): Java 11, too old\n";
    g_fakeSearch.answerYes = true;
    EXPECT_FALSE(Find("17..21", url));
    EXPECT_EQ(g_fakeSearch.questions, std::vector<std::string>{message + "\nOpen the download page?\n"});
    EXPECT_EQ(g_fakeSearch.openedPages, std::vector<std::string>{url});
    EXPECT_TRUE(g_fake.fatalTexts.empty());

    g_fakeSearch.questions.clear();
    g_fakeSearch.openedPages.clear();
    g_fake.consoleProgram = true;
    EXPECT_FALSE(Find("17..21", url));
    EXPECT_EQ(g_fake.fatalTexts, std::vector<std::string>{message + "Download Java from https://adoptium.net/\n"});
    EXPECT_TRUE(g_fakeSearch.questions.empty() && g_fakeSearch.openedPages.empty());
}

}  // namespace
