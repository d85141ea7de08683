// The launch's start-up cache in the cache folder: options by runtime version, the dynamic archive
// moved into place only when whole, the removal of broken, linked, foreign and stale archives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/launch_state.h"
#include "cache/cache_names.h"
#include "cache/embedded_jar.h"
#include "fake_files_edge.h"
#include "fake_platform.h"
#include "startup/cache_mechanism.h"
#include "startup/startup_cache.h"

namespace {

const char kCache[] = "C:\\PD\\cache";
const char kAppFolder[] = "C:\\PD\\cache\\App";  // the application's own folder in the cache
const char kHome[] = "C:\\App\\jre";
const char kVmLibrary[] = "C:\\App\\jre\\bin\\server\\jvm.dll";
const char kBaseArchive[] = "C:\\App\\jre\\bin\\server\\classes.jsa";
const char kDigest[] = "0123456789ABCDEF0123456789ABCDEF";
const std::string kDynamicMagic = "\xa8\xab\x0b\xf0 dynamic archive";
const std::string kStaticMagic = "\xa2\xab\x0b\xf0 AOT cache";
const std::string kZeroHeader(16, '\0');

class StartupArchiveTest : public testing::Test {
protected:
    void SetUp() override {
        ResetFakeRuntimeAndCache();
        ResetFakeFileSystem();
        g_fake.cacheFolder = kCache;
        g_fake.exePath = "C:\\App\\App.exe";
        FsAddFolder(kCache);
        FsAddFile(kBaseArchive, kStaticMagic, 1);
        AssignGrowableString(&g_launch.runtimeHome, kHome);
        g_launch.startupCacheMarked = true;
        g_launch.launchMode = EmbeddedCache;
        g_launch.mainClassName = "com.example.App";
        GetCacheFileName(kDigest);
        g_fs.ops.clear();  // the application folder is made with the jar cache's name
    }

    static std::string ReleaseText(const std::string& version) { return "JAVA_VERSION=\"" + version + "\"\n"; }
    static void Release(const std::string& version) {
        FsAddFile(std::string(kHome) + "\\release", ReleaseText(version), 1);
    }

    static std::vector<std::string> Options(std::vector<std::string> items = {}) {
        std::vector<char*> pointers;
        for (std::string& item : items) pointers.push_back(&item[0]);
        StartupCacheOptions options;
        FormLaunchStartupCacheOptions(kVmLibrary, static_cast<int>(pointers.size()), pointers.data(), &options);
        return std::vector<std::string>(options.text, options.text + options.count);
    }

    // Where this start's archive lies, as a start on a cache without it names it.
    static std::string Archive() {
        std::vector<std::string> options = Options();
        EXPECT_FALSE(options.empty());
        std::string path = options.empty() ? "" : options.back().substr(options.back().find('=') + 1);
        size_t temp = path.find(".jsa.");
        return temp == std::string::npos ? path : path.substr(0, temp + 4);
    }
};

TEST_F(StartupArchiveTest, WithoutTheMarkNothingIsReadAndNoOptionIsAdded) {
    Release("17");
    g_launch.startupCacheMarked = false;
    EXPECT_TRUE(Options().empty());
    EXPECT_TRUE(g_fs.ops.empty()) << g_fs.ops[0];
}

TEST_F(StartupArchiveTest, EachRuntimeVersionGetsTheOptionsOfItsMechanism) {
    EXPECT_TRUE(Options().empty()) << "no release file";
    Release("11.0.22");
    EXPECT_TRUE(Options().empty());

    Release("21.0.5");
    std::string auto21 = Archive();
    EXPECT_EQ(Options(), (std::vector<std::string>{"-XX:+AutoCreateSharedArchive", "-XX:SharedArchiveFile=" + auto21}));
    FsAddFile(auto21, kDynamicMagic, 2);
    EXPECT_EQ(Options(), (std::vector<std::string>{"-XX:+AutoCreateSharedArchive", "-XX:SharedArchiveFile=" + auto21}));

    Release("25");
    std::string aot = Archive();
    EXPECT_EQ(Options(), std::vector<std::string>{"-XX:AOTCacheOutput=" + aot});
    FsAddFile(aot, kStaticMagic, 3);
    EXPECT_EQ(Options(), std::vector<std::string>{"-XX:AOTCache=" + aot});
    EXPECT_EQ(aot.rfind(std::string(kAppFolder) + "\\App." + kDigest + ".25-", 0), 0u) << "beside the jar cache, by its digest";
    EXPECT_EQ(aot.substr(aot.size() - 4), ".aot");
    // A class path the archive was not made for (a moved installation) gets a name of its own.
    AppendClassPath("D:\\Moved\\lib\\extra.jar");
    EXPECT_NE(Archive(), aot);
}

TEST_F(StartupArchiveTest, WithoutTheBaseArchiveBesideJvmDllJava13To18GetNoOptionsAndLaterVersionsKeepTheirs) {
    FsRemove(kBaseArchive);
    FsAddFile(std::string(kHome) + "\\lib\\server\\classes.jsa", kStaticMagic, 1);  // where Linux keeps it
    const struct {
        const char* version;
        std::vector<std::string> options;  // the option names
    } cases[] = {
        {"13", {}},
        {"17.0.9", {}},
        {"18.0.2", {}},
        {"19", {"-XX:+AutoCreateSharedArchive", "-XX:SharedArchiveFile"}},  // warns, starts
        {"24", {"-XX:+AutoCreateSharedArchive", "-XX:SharedArchiveFile"}},
        {"25", {"-XX:AOTCacheOutput"}},  // the AOT cache needs no base archive
    };
    for (const auto& c : cases) {
        Release(c.version);
        std::vector<std::string> names;
        for (const std::string& option : Options()) names.push_back(option.substr(0, option.find('=')));
        EXPECT_EQ(names, c.options) << "Java " << c.version;
    }
    FsAddFile(kBaseArchive, kStaticMagic, 1);
    Release("17.0.9");
    EXPECT_EQ(Options().size(), 1u) << "with the base archive";
}

TEST_F(StartupArchiveTest, Java17ArchiveIsWrittenUnderATempNameAndMovedIntoPlaceOnlyWhenWhole) {
    Release("17.0.9");
    std::string archive = Archive();
    std::string firstTemp = archive + ".4242.tmp";
    EXPECT_EQ(Options(), std::vector<std::string>{"-XX:ArchiveClassesAtExit=" + firstTemp});

    // A temp whose writer still runs is left alone, and this start writes its own.
    FsAddFile(firstTemp, kZeroHeader, 2);
    g_fs.runningProcesses.insert(4242);
    g_fs.ownProcessId = 4300;
    EXPECT_EQ(Options(), std::vector<std::string>{"-XX:ArchiveClassesAtExit=" + archive + ".4300.tmp"});
    EXPECT_TRUE(FsExists(firstTemp));

    // Its writer ended with the header still zero: a torn archive, removed and never mapped.
    g_fs.runningProcesses.clear();
    g_fs.ownProcessId = 4301;
    EXPECT_EQ(Options(), std::vector<std::string>{"-XX:ArchiveClassesAtExit=" + archive + ".4301.tmp"});
    EXPECT_FALSE(FsExists(firstTemp));
    EXPECT_FALSE(FsExists(archive));

    // Whole: moved into place and used from then on.
    FsAddFile(archive + ".4301.tmp", kDynamicMagic, 3);
    g_fs.ownProcessId = 4302;
    EXPECT_EQ(Options(), std::vector<std::string>{"-XX:SharedArchiveFile=" + archive});
    ASSERT_TRUE(FsExists(archive));
    EXPECT_EQ(FsNode(archive)->content, kDynamicMagic);
    EXPECT_FALSE(FsExists(archive + ".4301.tmp"));
}

TEST_F(StartupArchiveTest, ArchiveWithoutMagicIsRemovedWithTheTrainingLeftoverAndWrittenAgain) {
    Release("25");
    std::string aot = Archive();
    FsAddFile(aot, kZeroHeader, 2);  // an AOT training run killed before its header
    FsAddFile(aot + ".config", std::string(64, 'c'), 2);
    EXPECT_EQ(Options(), std::vector<std::string>{"-XX:AOTCacheOutput=" + aot});
    EXPECT_FALSE(FsExists(aot));
    EXPECT_FALSE(FsExists(aot + ".config"));
    // A file held by a VM that maps it is in use, not torn: it stays and is used.
    FsAddFile(aot, kZeroHeader, 3);
    FsNode(aot)->heldOpen = true;
    EXPECT_EQ(Options(), std::vector<std::string>{"-XX:AOTCache=" + aot});
    EXPECT_TRUE(FsExists(aot));
}

TEST_F(StartupArchiveTest, LinkOrForeignArchiveIsNeitherUsedNorWrittenThrough) {
    Release("21");
    std::string archive = Archive();
    const std::string outside = "C:\\Users\\other\\archive.jsa";
    FsAddFile(outside, kDynamicMagic, 1);
    FsAddLink(archive, outside, false);
    g_fs.linksStayPut = true;
    EXPECT_TRUE(Options().empty());
    g_fs.linksStayPut = false;
    EXPECT_EQ(Options().size(), 2u);
    EXPECT_FALSE(FsExists(archive)) << "the link itself went";
    EXPECT_EQ(FsNode(outside)->content, kDynamicMagic);

    FsAddFile(archive, kDynamicMagic, 2);
    FsNode(archive)->foreignOwner = true;
    FsNode(archive)->undeletable = true;
    EXPECT_TRUE(Options().empty());
    FsNode(archive)->undeletable = false;
    EXPECT_EQ(Options().size(), 2u);
    EXPECT_FALSE(FsExists(archive)) << "replaced by the VM's own, not mapped";

    // The AOT training file is written by the VM too: a link there that stays means no training.
    Release("25");
    std::string aot = Archive();
    FsAddLink(aot + ".config", outside, false);
    g_fs.linksStayPut = true;
    EXPECT_TRUE(Options().empty());
    EXPECT_EQ(FsNode(outside)->content, kDynamicMagic);
}

TEST_F(StartupArchiveTest, ArchiveOfSystemOrAdministratorsIsUsedAndOneOfAnUnreadableOwnerIsRemoved) {
    const struct {
        EntryOwner owner;
        bool trusted;
    } cases[] = {{OwnerSystem, true}, {OwnerAdministrators, true}, {OwnerUnreadable, false}, {OwnerOther, false}};
    for (const auto& c : cases) {
        SetUp();
        Release("25");
        std::string aot = Archive();
        FsAddFile(aot, kStaticMagic, 2);
        FsNode(aot)->owner = c.owner;
        EXPECT_EQ(Options(), std::vector<std::string>{(c.trusted ? "-XX:AOTCache=" : "-XX:AOTCacheOutput=") + aot})
            << c.owner;
        EXPECT_EQ(FsExists(aot), c.trusted) << c.owner;
    }
}

TEST_F(StartupArchiveTest, StaleArchivesOfThisExecutableGoAndOtherFilesStay) {
    Release("25");
    std::string current = Archive();
    // "...{digest}.{runtime}.{exe path key}.aot": this exe's key, and that of an App.exe elsewhere.
    const std::string ours = current.substr(current.size() - 12, 8);
    const std::string theirs = ours == "89abcdef" ? "01234567" : "89abcdef";
    std::string folder = std::string(kAppFolder) + "\\";
    const std::vector<std::string> stale = {
        "App.FEDCBA9876543210FEDCBA9876543210.25-0011223344556677." + ours + ".aot",
        "app.0123456789abcdef0123456789abcdef.17-0011223344556677." + ours + ".jsa",
        "App.0123456789ABCDEF0123456789ABCDEF.21-8899aabbccddeeff." + ours + ".jsa",
        "App.0123456789ABCDEF0123456789ABCDEF.25-8899aabbccddeeff." + ours + ".aot.config",
        "App.0123456789ABCDEF0123456789ABCDEF.17-8899aabbccddeeff." + ours + ".jsa.77.tmp",
        "App.0123456789ABCDEF0123456789ABCDEF.25-0011223344556677.aot",  // an earlier launcher's: no path
        "App.0123456789ABCDEF0123456789ABCDEF.17-8899aabbccddeeff.jsa.77.tmp",
    };
    const std::vector<std::string> kept = {
        "App.0123456789ABCDEF0123456789ABCDEF.dat",                       // the jar cache
        "App.Tool.0123456789ABCDEF0123456789ABCDEF.25-0011223344556677." + ours + ".aot",  // App.Tool.exe's
        "AppTool.0123456789ABCDEF0123456789ABCDEF.25-0011223344556677." + ours + ".aot",   // AppTool.exe's
        "App.0123456789ABCDEF0123456789ABCDEF.17-8899aabbccddeeff." + ours + ".jsa.78.tmp",  // its writer runs
        // An App.exe in another folder: its archives, even of another digest or runtime, are its own.
        "App.FEDCBA9876543210FEDCBA9876543210.25-0011223344556677." + theirs + ".aot",
        "App.0123456789ABCDEF0123456789ABCDEF.17-8899aabbccddeeff." + theirs + ".jsa.77.tmp",
        "App.notes.txt",
    };
    for (const std::string& name : stale) FsAddFile(folder + name, kStaticMagic, 1);
    for (const std::string& name : kept) FsAddFile(folder + name, kStaticMagic, 1);
    FsAddFile(current, kStaticMagic, 1);
    g_fs.runningProcesses.insert(78);
    EXPECT_EQ(Options(), std::vector<std::string>{"-XX:AOTCache=" + current});
    for (const std::string& name : stale) EXPECT_FALSE(FsExists(folder + name)) << name;
    for (const std::string& name : kept) EXPECT_TRUE(FsExists(folder + name)) << name;
    EXPECT_TRUE(FsExists(current));
}

TEST_F(StartupArchiveTest, TwoExesOfOneNameInDifferentFoldersEachKeepTheirArchive) {
    // Two installations of App.exe, each with a runtime build of its own.
    const std::string release = std::string(kHome) + "\\release";
    struct Installation {
        const char* exe;
        const char* release;
        std::string archive;
    } installations[] = {{"C:\\One\\App.exe", "JAVA_VERSION=\"25\"\nJAVA_RUNTIME_VERSION=\"25+36\"\n", ""},
                         {"D:\\Two\\App.exe", "JAVA_VERSION=\"25\"\nJAVA_RUNTIME_VERSION=\"25.0.1+8\"\n", ""}};
    for (Installation& installation : installations) {
        g_fake.exePath = installation.exe;
        FsAddFile(release, installation.release, 1);
        installation.archive = Archive();
        FsAddFile(installation.archive, kStaticMagic, 2);  // what its first start trained
    }
    EXPECT_NE(installations[0].archive, installations[1].archive);
    for (const Installation& installation : installations) {
        g_fake.exePath = installation.exe;
        FsAddFile(release, installation.release, 1);
        EXPECT_EQ(Options(), std::vector<std::string>{"-XX:AOTCache=" + installation.archive}) << installation.exe;
    }
    EXPECT_TRUE(FsExists(installations[0].archive));
    EXPECT_TRUE(FsExists(installations[1].archive));
}

TEST_F(StartupArchiveTest, WithoutAJarDigestTheArchiveFollowsMainClassAndClassPathJars) {
    Release("25");
    g_launch.launchMode = JarPath;
    AppendClassPath("C:\\App\\app.jar");
    FsAddFile("C:\\App\\app.jar", "jar", 100);
    auto name = []() {
        std::vector<std::string> options = Options();
        EXPECT_EQ(options.size(), 1u);
        return options.empty() ? std::string() : options[0];
    };
    std::string first = name();
    EXPECT_EQ(first.find(kDigest), std::string::npos) << "the embedded jar's digest is not this jar's";
    EXPECT_EQ(name(), first) << "the same application, the same archive";
    FsNode("C:\\App\\app.jar")->lastWriteTime = 200;  // a new jar at the same path
    std::string replaced = name();
    EXPECT_NE(replaced, first);
    g_launch.mainClassName = "com.example.Other";
    EXPECT_NE(name(), replaced);
}

TEST_F(StartupArchiveTest, NoArchiveWithAFolderOnTheClassPathOrTheUsersOwnArchiveOptions) {
    Release("25");
    ASSERT_EQ(Options({"-Xmx64m", "-XX:+UseG1GC"}).size(), 1u);
    EXPECT_TRUE(Options({"-Xmx64m", "-XX:SharedArchiveFile=C:\\my.jsa"}).empty());
    AddVmOption("-Xshare:off", nullptr);  // from the command line or the configuration file
    EXPECT_TRUE(Options().empty());
    SetUp();
    Release("17");
    AppendClassPath("C:\\App\\classes");
    FsAddFile("C:\\App\\classes\\A.class", "class", 1);
    EXPECT_TRUE(Options().empty());
}

}  // namespace
