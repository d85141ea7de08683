// A runtime's release file and the packed rule's texts, from any bytes: the first field is a version
// range, the second a search list, the third a page, the rest a release file.
#include <cstdint>

#include "fuzz_input.h"
#include "runtime/release_file.h"
#include "runtime/runtime_choice.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> fields = SplitFields(data, size, 4);
    while (fields.size() < 4) fields.push_back("");
    JavaVersionRange range = {0, 0};
    if (ParseJavaVersionRange(fields[0].c_str(), &range)) {
        FUZZ_CHECK(range.lowest >= 1 && range.lowest <= 999);
        FUZZ_CHECK(range.highest == 0 || (range.highest >= range.lowest && range.highest <= 999));
    }
    RuntimeSearchOrder order;
    if (ParseRuntimeSearchOrder(fields[1].c_str(), &order)) {
        FUZZ_CHECK(order.count >= 1 && order.count <= kRuntimeSourceCount);
        for (int i = 0; i < order.count; i++) {
            for (int j = 0; j < i; j++) FUZZ_CHECK(order.sources[i] != order.sources[j]);
        }
    }
    if (IsDownloadUrl(fields[2].c_str())) FUZZ_CHECK(strpbrk(fields[2].c_str(), " \t\r\n\"") == nullptr);

    // Exact-size copy: a read past the release text's end is caught.
    std::vector<char> release(fields[3].begin(), fields[3].end());
    int version = ReadReleaseJavaVersion(release.data(), release.size());
    FUZZ_CHECK(version >= 0 && version <= 9999);
    RuntimeArch arch = ReadReleaseArch(release.data(), release.size());
    FUZZ_CHECK(arch >= kArchUnknown && arch <= kArchX86);

    // One candidate from what was read, through the choice and the message.
    RuntimeCandidate candidate = {};
    candidate.source = kSourcePath;
    snprintf(candidate.home, sizeof candidate.home, "%s", fields[2].c_str());
    candidate.hasRuntimeFiles = candidate.hasRelease = true;
    candidate.version = version;
    candidate.arch = arch;
    RuntimeSearchOrder all;
    DefaultRuntimeSearchOrder(&all);
    int chosen = ChooseRuntimeCandidate(&candidate, 1, range, all);
    FUZZ_CHECK(chosen == (candidate.verdict == kVerdictChosen ? 0 : -1));
    char message[512];
    if (FormatNoRuntimeMessage(message, sizeof message, &candidate, 1, range, all)) {
        FUZZ_CHECK(strlen(message) < sizeof message);
    }
    return 0;
}
