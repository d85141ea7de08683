// Reading what the pre-flight check needs from a Java class file: its version, its name, and
// whether it declares the static entry points the launcher calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct EntryMethod {
    bool found = false;  // a method of that name and descriptor "([Ljava/lang/String;)V"
    bool isStatic = false;
    bool isPublic = false;
};

struct NamedEntryMethod {
    std::string name;
    EntryMethod method;
};

struct ClassFileInfo {
    uint16_t majorVersion = 0;
    uint16_t minorVersion = 0;
    std::string name;       // internal form, com/example/Main
    std::string superName;  // empty for java/lang/Object
    EntryMethod main;
    EntryMethod initSingleApplication;
    std::vector<NamedEntryMethod> stringArrayMethods;  // every method with that descriptor, such as a stop method
};

// False, with the reason in error, for anything that is not a whole, well-formed class file header,
// constant pool and member tables; never reads outside [data, data + size).
bool ReadClassFile(const uint8_t* data, size_t size, ClassFileInfo& info, std::string& error);

// The Java feature release that introduced a class-file major version (52 is Java 8), or 0 below 45.
int JavaReleaseOfClassVersion(int majorVersion);
