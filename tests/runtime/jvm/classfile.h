// Reader for real class files: enough of the format to know a class's name, super types and
// methods, with the structural checks HotSpot applies before a class can be found at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rt {

constexpr uint16_t kAccPublic = 0x0001;
constexpr uint16_t kAccStatic = 0x0008;

struct MethodEntry {
    std::string name;        // modified UTF-8, as in the class file
    std::string descriptor;  // modified UTF-8
    uint16_t access = 0;
};

struct ClassFile {
    uint16_t minor = 0;
    uint16_t major = 0;
    uint16_t access = 0;
    std::string thisName;    // slashed form
    std::string superName;   // empty for java/lang/Object and module-info
    std::vector<std::string> interfaces;
    std::vector<MethodEntry> methods;
    std::vector<uint8_t> tagsSeen;  // distinct constant pool tags, for tests of the reader itself
};

enum class ClassFileError { None, Format, UnsupportedVersion };

// Newest class file version HotSpot 17 loads.
constexpr uint16_t kMaxMajorVersion = 61;

// Parses the bytes; on failure returns the kind of error and a HotSpot-like message.
ClassFileError ParseClassFile(const std::string& bytes, ClassFile* out, std::string* message);

}  // namespace rt
