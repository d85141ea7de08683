// The service options of the packer: their checks when packing and the lines --show prints.
#pragma once

#include <string>
#include <vector>

#include "pack/pe_image.h"

// Whether the option is one of --service and --service-*.
bool IsServiceOption(const std::string& option);
// Why the value cannot be packed for that option, or empty when it can.
std::string CheckServiceValue(const std::string& option, const std::string& value);

// The service settings with their defaults filled in, one per line; empty for an exe that is not
// a service launcher.
std::string DescribeService(const std::vector<Resource>& resources);
