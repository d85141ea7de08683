#include "pack/pack_refusals.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>

#include "config/resource_contract.h"
#include "pack/check_report.h"
#include "pack/file_io.h"
#include "pack/jar_reader.h"
#include "runtime/heap_sizing.h"

namespace {

constexpr uint16_t kTypeManifest = 24;

const Resource* Find(const std::vector<Resource>& resources, const LaunchResource& which) {
    ResName type = StringName(which.typeName), name = NumericName(uint16_t(which.numericName));
    for (const Resource& r : resources) {
        if (SameName(r.type, type) && SameName(r.name, name)) return &r;
    }
    return nullptr;
}

// A text resource as the launcher reads it: up to its first NUL.
std::string TextOf(const std::vector<Resource>& resources, const LaunchResource& which) {
    const Resource* r = Find(resources, which);
    if (r == nullptr) return "";
    std::string text(r->data.begin(), r->data.end());
    return text.substr(0, text.find('\0'));
}

bool IsAbsolute(const std::string& path) {
    return (path.size() >= 2 && path[1] == ':') || path[0] == '\\' || path[0] == '/';
}

std::string Slashed(std::string path) {
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

// The Main-Class of a jar's manifest (continuation lines joined); empty when it names none.
std::string ManifestMainClass(const Bytes& jar, const std::vector<JarEntry>& entries) {
    for (const JarEntry& entry : entries) {
        Bytes bytes;
        std::string error;
        if (entry.name != "META-INF/MANIFEST.MF" || !ExtractJarEntry(jar, entry, kTextFile.limit, bytes, error))
            continue;
        std::string text(bytes.begin(), bytes.end()), joined;
        for (size_t at = 0; at < text.size();) {
            size_t end = text.find_first_of("\r\n", at);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(at, end - at);
            if (!line.empty() && line[0] == ' ')
                joined += line.substr(1);
            else
                joined += "\n" + line;
            at = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        }
        joined += "\n";
        for (size_t at = 0; (at = joined.find('\n', at)) != std::string::npos; at++) {
            std::string header = joined.substr(at + 1, 11);
            for (char& c : header) c = char(tolower(static_cast<unsigned char>(c)));
            if (header != "main-class:") continue;
            std::string value = joined.substr(at + 12, joined.find('\n', at + 1) - at - 12);
            size_t begin = value.find_first_not_of(' '), last = value.find_last_not_of(' ');
            return begin == std::string::npos ? "" : value.substr(begin, last - begin + 1);
        }
    }
    return "";
}

struct GivenJar {
    std::string shown;
    Bytes bytes;
    std::vector<JarEntry> entries;
};

// A jar beside the output that the packer can read; false when it is not there (yet) or no jar.
bool ReadJarBeside(const std::string& hostPath, const std::string& shown, std::vector<GivenJar>& jars) {
    struct stat status;
    if (stat(hostPath.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    GivenJar jar{shown, {}, {}};
    std::string error;
    if (!ReadWholeFile(hostPath, kJarFile, jar.bytes, error) || !ReadJarDirectory(jar.bytes, jar.entries, error))
        return false;
    jars.push_back(std::move(jar));
    return true;
}

// The jars the package names that can be read here: the CLASSES jar, the JAR-PATH jar and the
// class path entries beside the exe. The CLASSES jar leads; refuses one that is not a jar.
void CollectGivenJars(const std::vector<Resource>& resources, const PackInputs& inputs, std::vector<GivenJar>& jars,
                      PackReview& review, std::string& jarPathShown) {
    if (const Resource* classes = Find(resources, kClassesResource)) {
        GivenJar jar{inputs.classesFile.empty() ? "the CLASSES jar" : inputs.classesFile, classes->data, {}};
        std::string error;
        if (!ReadJarDirectory(jar.bytes, jar.entries, error)) {
            review.refusal = jar.shown + " is not a jar (" + error + "): the VM cannot load classes from it";
            review.refusalStatus = 1;
        } else {
            jars.push_back(std::move(jar));
        }
    }
    std::string jarPath = TextOf(resources, kJarPathResource);
    if (!jarPath.empty()) {
        jarPathShown = jarPath;
        std::string host = IsAbsolute(jarPath) ? Slashed(jarPath) : inputs.outFolder + "/" + Slashed(jarPath);
        if (!ReadJarBeside(host, jarPath, jars)) jarPathShown.clear();
    }
    std::string classPath = TextOf(resources, kClassPathResource);
    for (size_t at = 0; at <= classPath.size();) {
        size_t end = classPath.find(';', at);
        if (end == std::string::npos) end = classPath.size();
        std::string entry = classPath.substr(at, end - at);
        if (entry.size() > 1 && entry[0] == '#') {
            size_t skip = entry[1] == '/' || entry[1] == '\\' ? 2 : 1;
            ReadJarBeside(inputs.outFolder + "/" + Slashed(entry.substr(skip)), entry, jars);
        }
        at = end + 1;
    }
}

bool HasNonAscii(const std::string& text) {
    for (unsigned char c : text) {
        if (c >= 0x80) return true;
    }
    return false;
}

bool RunsInUtf8(const std::vector<Resource>& resources) {
    for (const Resource& r : resources) {
        if (r.type.isString || r.type.id != kTypeManifest) continue;
        std::string manifest(r.data.begin(), r.data.end());
        size_t codePage = manifest.find("activeCodePage");
        if (codePage != std::string::npos && manifest.find("UTF-8", codePage) != std::string::npos) return true;
    }
    return false;
}

// The texts a Western PC would read mangled: non-ASCII without the UTF-8 code page.
std::vector<std::string> NonAsciiTexts(const std::vector<Resource>& resources) {
    std::vector<std::string> names;
    if (RunsInUtf8(resources)) return names;
    for (const LaunchResource* which : {&kClassPathResource, &kVmOptionsResource}) {
        if (HasNonAscii(TextOf(resources, *which))) names.push_back(which->typeName);
    }
    return names;
}

std::string NonAsciiProblem(const std::string& name) {
    return name +
           " holds non-ASCII letters, and the exe does not run in the UTF-8 code page: a PC in "
           "another code page reads them mangled (Bibliothèque as BibliothÃ¨que)";
}

const char kNonAsciiFix[] = "Pack with --utf8.";
const char kHeapFix[] = "Pack both --init-heap-percent and --max-heap-percent, the initial one at most the maximum.";

}  // namespace

bool CarriesLauncherMark(const std::vector<Resource>& resources) {
    return Find(resources, kLauncherMarkResource) != nullptr;
}

std::string HeapPercentProblem(const std::vector<Resource>& resources) {
    const Resource* initial = Find(resources, kInitHeapPercentResource);
    const Resource* maximum = Find(resources, kMaxHeapPercentResource);
    if (initial == nullptr && maximum == nullptr) return "";
    std::string initText = TextOf(resources, kInitHeapPercentResource),
                maxText = TextOf(resources, kMaxHeapPercentResource);
    int init = atoi(initText.c_str()), max = atoi(maxText.c_str());
    if (HeapPercentagesApply(init, max)) return "";
    std::string what =
        initial == nullptr || init <= 0  ? "a maximum heap percentage (" + maxText + ") without an initial one"
        : maximum == nullptr || max <= 0 ? "an initial heap percentage (" + initText + ") without a maximum one"
        : max > 100                      ? "the maximum heap percentage " + maxText + " above 100"
                                         : "the initial heap percentage " + initText + " above the maximum " + maxText;
    return what + ": the launcher then adds no heap option at all";
}

PackReview ReviewPackage(std::vector<Resource>& resources, const PackInputs& inputs) {
    PackReview review;
    std::vector<GivenJar> jars;
    std::string jarPathRead;
    CollectGivenJars(resources, inputs, jars, review, jarPathRead);
    if (!review.refusal.empty()) return review;
    // A configuration file may name the main class, the jar or the sync folder at launch.
    bool configured = Find(resources, kConfigPathResource) != nullptr;
    if (!configured && Find(resources, kClassesResource) == nullptr && Find(resources, kJarPathResource) == nullptr &&
        Find(resources, kSyncPathResource) == nullptr) {
        review.refusal = "no application jar: give --classes JAR, --jar-path PATH or --sync-path FOLDER";
        review.refusalStatus = 2;
        return review;
    }
    std::string mainClass = TextOf(resources, kMainClassResource);
    if (mainClass.empty() && !configured) {
        // The application jar's manifest, as java -jar would read it.
        bool fromClasses = Find(resources, kClassesResource) != nullptr && !jars.empty();
        const GivenJar* jar = fromClasses ? &jars[0] : nullptr;
        for (const GivenJar& given : jars) {
            if (jar == nullptr && given.shown == jarPathRead) jar = &given;
        }
        mainClass = jar != nullptr ? ManifestMainClass(jar->bytes, jar->entries) : "";
        if (mainClass.empty()) {
            review.refusal =
                "no main class: give --main-class NAME, or a --classes jar whose manifest names its "
                "Main-Class";
            review.refusalStatus = 1;
            return review;
        }
        Resource r;
        r.type = StringName(kMainClassResource.typeName);
        r.name = NumericName(uint16_t(kMainClassResource.numericName));
        r.lang = NumericName(1033);
        r.data.assign(mainClass.begin(), mainClass.end());
        r.data.push_back(0);
        PutResource(resources, std::move(r));
        review.notes.push_back("main class " + mainClass + ", the Main-Class of " + jar->shown);
    }
    std::string classEntry = mainClass, names;
    for (char& c : classEntry) c = c == '.' ? '/' : c;
    classEntry += ".class";
    bool found = false;
    for (const GivenJar& jar : jars) {
        names += (names.empty() ? "" : ", ") + jar.shown;
        for (const JarEntry& entry : jar.entries) found = found || entry.name == classEntry;
    }
    if (!mainClass.empty() && !jars.empty() && !found)
        review.warnings.push_back("main class " + mainClass + " is in none of the jars given: " + names);
    std::string heap = HeapPercentProblem(resources);
    if (!heap.empty()) review.warnings.push_back(heap);
    for (const std::string& name : NonAsciiTexts(resources))
        review.warnings.push_back(NonAsciiProblem(name) + "; pack with --utf8");
    return review;
}

void DescribePackageRisks(check::Report& report, const std::vector<Resource>& resources) {
    if (!CarriesLauncherMark(resources))
        report.Fail(check::kResources, "the exe is not a Quorvia launcher: it carries no QUORVIA-LAUNCHER mark",
                    "Pack launcher.exe or launcher-console.exe of a Quorvia Launcher release.");
    for (const std::string& name : NonAsciiTexts(resources))
        report.Warn(check::kResources, NonAsciiProblem(name), kNonAsciiFix);
}

namespace check {
bool DescribeHeapProblem(Report& report, const std::vector<Resource>& resources) {
    std::string heap = HeapPercentProblem(resources);
    if (!heap.empty()) report.Warn(kResources, heap, kHeapFix);
    return !heap.empty();
}
}  // namespace check
