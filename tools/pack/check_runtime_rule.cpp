// The runtime rule as quorvia-pack --show and --check tell it: what the exe accepts, where it looks,
// and, offline, which bundled runtime it would choose.
#include <algorithm>

#include "base/launch_state.h"
#include "launcher/launch_settings.h"
#include "pack/check_platform.h"
#include "pack/check_report.h"
#include "pack/pack_tool.h"
#include "runtime/runtime_search.h"

namespace {

std::string TextOf(const std::vector<Resource>& resources, const LaunchResource& resource) {
    for (const Resource& r : resources) {
        if (SameName(r.type, StringName(resource.typeName))) {
            std::string text(r.data.begin(), r.data.end());
            return text.substr(0, text.find('\0'));
        }
    }
    return "";
}

std::string Need(const JavaVersionRange& range) {
    char need[64] = "";
    FormatJavaNeed(need, sizeof need, range);
    return need;
}

std::string Sources(const RuntimeSearchOrder& order, bool withoutBundled) {
    std::string names;
    for (int i = 0; i < order.count; i++) {
        if (withoutBundled && order.sources[i] == kSourceBundled) continue;
        names += std::string(names.empty() ? "" : ", ") + RuntimeSourceName(order.sources[i]);
    }
    return names;
}

}  // namespace

std::string DescribeRuntimeRule(const std::vector<Resource>& resources) {
    std::string version = TextOf(resources, kJavaVersionResource);
    std::string search = TextOf(resources, kRuntimeSearchResource);
    std::string page = TextOf(resources, kDownloadUrlResource);
    if (version.empty() && search.empty() && page.empty()) return "";
    JavaVersionRange range = {0, 0};
    RuntimeSearchOrder order;
    DefaultRuntimeSearchOrder(&order);
    ParseJavaVersionRange(version.c_str(), &range);
    ParseRuntimeSearchOrder(search.c_str(), &order);
    return "runtime rule: " + Need(range) + ", looked for in " + Sources(order, false) +
           (IsDownloadUrl(page.c_str()) ? "; download page " + page : "") + "\n";
}

namespace check {

bool FindRuledRuntime(Report& report, RuntimeChoice& runtime, char* home, size_t homeSize) {
    RuntimeRule rule;
    RuntimeRulePacked(&rule);
    runtime.lowestAccepted = rule.range.lowest;
    ChooseLaunchMode();
    runtime.found = FindLaunchRuntimeHome(home, homeSize);
    // The verdicts are reported below, one finding each; the search's own lines are not warnings.
    std::vector<std::string>& messages = g_checkPlatform.messages;
    messages.erase(std::remove_if(messages.begin(), messages.end(),
                                  [](const std::string& m) { return StartsWith(m, "Runtime "); }),
                   messages.end());
    g_checkPlatform.fatalMessages.clear();
    ReportLauncherMessages(report, kRuntime);
    report.Ok(kRuntime, "runtime rule: " + Need(rule.range) + ", looked for in " + Sources(rule.order, false));
    int count = 0;
    const RuntimeCandidate* candidates = LastRuntimeCandidates(&count);
    for (int i = 0; i < count; i++) {
        const RuntimeCandidate& c = candidates[i];
        if (c.verdict == kVerdictChosen) continue;
        report.Warn(kRuntime,
                    "the bundled runtime " + std::string(c.home) +
                        " is refused: " + (c.version > 0 ? "Java " + std::to_string(c.version) + ", " : "") +
                        CandidateVerdictText(c.verdict),
                    "Ship a 64-bit runtime the rule accepts, with its release file, or change --java-version.");
    }
    if (runtime.found) {
        runtime.home = home;
        report.Ok(kRuntime, "the bundled runtime " + runtime.home + " would be chosen");
        return true;
    }
    std::string elsewhere = Sources(rule.order, true);
    if (elsewhere.empty()) {
        report.Fail(kRuntime,
                    "no bundled runtime fits, and the rule looks nowhere else: the exe cannot start "
                    "(the launcher ends with status 2)",
                    "Ship a runtime the rule accepts, or add registry, java-home or path to --runtime-search.");
    } else {
        report.Ok(kRuntime, "on a PC without a bundled runtime, the newest " + Need(rule.range) + " found in " +
                                elsewhere + " will be used (the PC's registry and environment cannot be seen here)");
    }
    return false;
}

}  // namespace check
