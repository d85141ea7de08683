#include "pack/service_options.h"

#include "config/service_settings.h"
#include "pack/report_text.h"

bool IsServiceOption(const std::string& option) { return option.compare(0, 9, "--service") == 0; }

std::string CheckServiceValue(const std::string& option, const std::string& value) {
    if (option == "--service" || option == "--service-display-name") {
        if (!IsServiceNameText(value.c_str()))
            return option + " wants 1 to 256 characters without slashes, commas or controls, not '" + value + "'";
    } else if (option == "--service-start") {
        ServiceStartKind start;
        if (!ParseServiceStart(value.c_str(), &start))
            return "--service-start wants auto, delayed or demand, not '" + value + "'";
    } else if (option == "--service-stop-timeout") {
        unsigned seconds = 0;
        if (!ParseStopTimeout(value.c_str(), &seconds))
            return "--service-stop-timeout wants whole seconds from 1 to " +
                   std::to_string(kLongestStopTimeoutSeconds) + ", not '" + value + "'";
    } else if (option == "--service-stop") {
        char className[1024], method[kServiceNameSize];
        if (!SplitStopMethod(value.c_str(), className, sizeof className, method, sizeof method))
            return "--service-stop wants a static method as package.Class.method, not '" + value + "'";
    } else if (option == "--service-depends-on") {
        char list[2048];
        if (FormDependencyList(value.c_str(), list, sizeof list) == 0)
            return "--service-depends-on wants service names separated by commas, not '" + value + "'";
    } else if (option == "--service-account") {
        if (value.empty() || value.size() >= kServiceNameSize) return "--service-account wants 1 to 256 characters";
    }
    return "";
}

// A resource's text up to its first NUL; *present false when it is absent.
static std::string ServiceText(const std::vector<Resource>& resources, const LaunchResource& wanted, bool* present) {
    *present = false;
    for (const Resource& r : resources) {
        if (!SameName(r.type, StringName(wanted.typeName))) continue;
        *present = true;
        std::string text(r.data.begin(), r.data.end());
        return text.substr(0, text.find('\0'));
    }
    return "";
}

std::string DescribeService(const std::vector<Resource>& resources) {
    bool present = false;
    std::string name = ServiceText(resources, kServiceNameResource, &present);
    if (!present) return "";
    auto line = [&](const char* label, const LaunchResource& resource, const std::string& fallback) {
        bool given = false;
        std::string text = ServiceText(resources, resource, &given);
        return std::string("  ") + label + ": " + (given ? QuotedPrintableText(text) : fallback) + "\n";
    };
    std::string out = "service: " + QuotedPrintableText(name) + "\n";
    out += line("display name", kServiceDisplayNameResource, "the service name");
    out += line("description", kServiceDescriptionResource, "none");
    out += line("start", kServiceStartResource, "auto (default)");
    out += line("account", kServiceAccountResource, std::string(kDefaultServiceAccount) + " (default)");
    out += line("depends on", kServiceDependsOnResource, "nothing");
    out += line("stop", kServiceStopResource, "the VM's exit, which runs the shutdown hooks (default)");
    out += line("stop timeout (s)", kServiceStopTimeoutResource,
                std::to_string(kDefaultStopTimeoutSeconds) + " (default)");
    return out;
}
