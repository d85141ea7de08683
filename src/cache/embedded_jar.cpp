#include "cache/embedded_jar.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/app_paths.h"
#include "base/diagnostics.h"
#include "base/launch_state.h"
#include "base/text.h"
#include "cache/cache_edge.h"
#include "cache/cache_names.h"
#include "config/config_edge.h"
#include "config/resources.h"
#include "files/md5.h"

// ---- The embedded jar ----

// The digest text that names the file before the jar is touched: the configured one, else MD5-SUM.
// The MD5-SUM resource is read on every call, also when the configured text wins; its text is
// handed back too (null when missing), for the stale cleanup.
static char* ChooseKnownDigest(char** md5SumText) {
    size_t size = 0;
    const void* md5Sum = LoadLaunchResource(kMd5SumResource, &size, nullptr);
    if (md5Sum == nullptr) PrintNote(stderr, "Unable to load MD5-SUM Resource (Resource not found)\n");
    *md5SumText = md5Sum != nullptr ? CopyResourceText(md5Sum, size) : nullptr;
    const char* configured = g_launch.cacheDigest;
    if (configured != nullptr && configured[0] != '\0') {
        return CopyText(configured);
    }
    return *md5SumText != nullptr ? CopyResourceText(md5Sum, size) : nullptr;
}

// The digest of the jar's own bytes; the routine built in here stands in for missing system ones.
static void DigestOfJar(const void* bytes, size_t size, char text[33]) {
    char* systemDigest = Md5HexDigest(bytes, size);
    if (systemDigest != nullptr) {
        snprintf(text, 33, "%s", systemDigest);
        free(systemDigest);
        return;
    }
    unsigned char digest[16];
    ComputeMd5(bytes, size, digest);
    FormatDigestText(digest, text);
}

// A cache file the launch may use as it is: a file, not a link, and code that another account put
// there only when it holds exactly what its digest names.
static bool CacheFileUsable(const char* name, const CacheFileProbe& probe, const char* digestText) {
    if (probe.state != EntryPresent) return false;
    switch (DecideCodeEntryAction(probe.owner, IsDigestText(digestText))) {
        case UseCodeEntry:
            return true;
        case VerifyCodeDigest:
            return CacheFileHasDigest(name, digestText);
        case ReplaceCodeEntry:
            return false;
    }
    return false;
}

// Writes the jar under the name, replacing a link or a file of another account that stands there.
static bool WriteJar(const char* name, const CacheFileProbe& probe, const void* jar, size_t size) {
    bool replace = probe.state != EntryAbsent;
    if (WriteCacheFile(name, jar, size, replace)) return true;
    if (probe.state == EntryPresent) ReportForeignCode(name);
    return false;
}

const char* CacheEmbeddedJar() {
    char* md5SumText = nullptr;
    char* knownDigest = ChooseKnownDigest(&md5SumText);
    // The text that names the file, kept to verify a file that another account put there.
    char digestText[kWindowsPathSize] = "";
    // A known digest too long for a file name leaves the name unformed; the jar's digest names it then.
    const char* name = knownDigest != nullptr ? GetCacheFileName(knownDigest) : nullptr;
    if (name != nullptr) snprintf(digestText, sizeof digestText, "%s", knownDigest);
    free(knownDigest);
    CacheFileProbe probe = {EntryAbsent, OwnerUnreadable};
    if (name != nullptr) {
        RemoveStaleCacheFiles(name, md5SumText);
        probe = ProbeCacheFile(name);
        if (CacheFileUsable(name, probe, digestText)) {
            free(md5SumText);
            return name;
        }
    }

    PrintNote(stdout, "GetClassFrom REsource '%s'\n", "#1000");
    size_t size = 0;
    const void* jar = LoadLaunchResource(kClassesResource, &size, nullptr);
    if (jar == nullptr) {
        PrintMessage(stderr, "Unable to load CLASSES Resource %s (Resource not found)\n", "#1000");
        free(md5SumText);
        return nullptr;
    }
    if (name != nullptr) {
        // The name is formed once, so the jar's own digest could not change it: hashing the whole
        // jar only to drop the result would cost a first start more than writing it. A missing
        // library is still told, as on any start that writes the file.
        ReportMissingMd5Library();
    } else {
        char computedDigest[33];
        DigestOfJar(jar, size, computedDigest);
        name = GetCacheFileName(computedDigest);
        snprintf(digestText, sizeof digestText, "%s", computedDigest);
    }
    if (name == nullptr) {
        // Cache folder and base name leave no room for any digest name.
        PrintMessage(stderr, "Unable to write cache buffer\n");
        free(md5SumText);
        return nullptr;
    }
    RemoveStaleCacheFiles(name, md5SumText);
    free(md5SumText);
    probe = ProbeCacheFile(name);
    if (CacheFileUsable(name, probe, digestText)) return name;
    return WriteJar(name, probe, jar, size) ? name : nullptr;
}
