// The folder an installer ships: a Windows runtime copied, extracted or jlinked into jre\, and the
// application's jars in lib\.
#pragma once

#include <string>
#include <vector>

// Copies the runtime at `source` (a folder or a .zip of a Windows JDK or JRE) to `jre`, replacing
// what is there. Refuses a runtime without an x64 bin\java.dll.
bool InstallRuntime(const std::string& source, const std::string& jre, std::string& error);

// Makes a smaller runtime in `jre` with the host's jlink over the jmods of the Windows runtime at
// `source`. `modules` is "auto" (jdeps over `jars`) or a comma-separated list. `jlinkHome` is the
// host JDK holding bin/jlink and bin/jdeps ("" for PATH). `log` receives what the tools printed.
bool LinkRuntime(const std::string& source, const std::string& modules, const std::vector<std::string>& jars,
                 const std::string& jlinkHome, const std::string& jre, std::string& log, std::string& error);

// The feature version of a version text: "17.0.2" and "17" give 17, "1.8.0_392" gives 8; 0 for none.
int JavaMajor(const std::string& version);

// Copies `jars` into `lib` (made if missing); false when two share a name or one cannot be copied.
bool CopyJars(const std::vector<std::string>& jars, const std::string& lib, std::string& error);
