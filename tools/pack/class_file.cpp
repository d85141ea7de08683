#include "pack/class_file.h"

#include <cstring>
#include <vector>

namespace {

// A bounded big-endian reader: a read past the end sets `failed` and yields 0.
struct ClassReader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool failed = false;

    bool Has(size_t count) {
        if (failed || count > size - at) failed = true;
        return !failed;
    }
    uint16_t U2() {
        if (!Has(2)) return 0;
        uint16_t value = uint16_t(data[at] << 8 | data[at + 1]);
        at += 2;
        return value;
    }
    uint32_t U4() {
        uint32_t high = U2();
        return high << 16 | U2();
    }
    void Skip(size_t count) {
        if (Has(count)) at += count;
    }
};

const char kStringArrayVoid[] = "([Ljava/lang/String;)V";
const uint16_t kAccPublic = 0x0001;
const uint16_t kAccStatic = 0x0008;

struct Utf8Entry {
    size_t offset = 0;
    uint16_t length = 0;
    bool present = false;
};

bool Utf8Equals(const ClassReader& r, const std::vector<Utf8Entry>& pool, uint16_t index, const char* text) {
    if (index >= pool.size() || !pool[index].present) return false;
    size_t length = strlen(text);
    return pool[index].length == length && memcmp(r.data + pool[index].offset, text, length) == 0;
}

// Skips the attributes of a class, field or method.
void SkipAttributes(ClassReader& r) {
    uint16_t count = r.U2();
    for (uint16_t i = 0; i < count && !r.failed; i++) {
        r.U2();
        r.Skip(r.U4());
    }
}

// The constant pool's UTF-8 entries and class entries (by index); false with the reason in error.
bool ReadConstantPool(ClassReader& r, std::vector<Utf8Entry>& utf8, std::vector<uint16_t>& classNameIndex,
                      std::string& error) {
    uint16_t poolCount = r.U2();
    utf8.assign(poolCount, Utf8Entry());
    classNameIndex.assign(poolCount, 0);
    for (uint16_t i = 1; i < poolCount && !r.failed; i++) {
        uint8_t tag = r.Has(1) ? r.data[r.at++] : 0;
        switch (tag) {
            case 1: {
                uint16_t length = r.U2();
                if (!r.Has(length)) break;
                utf8[i] = Utf8Entry{r.at, length, true};
                r.Skip(length);
                break;
            }
            case 7: classNameIndex[i] = r.U2(); break;
            case 8: case 16: case 19: case 20: r.Skip(2); break;
            case 15: r.Skip(3); break;
            case 3: case 4: case 9: case 10: case 11: case 12: case 17: case 18: r.Skip(4); break;
            case 5: case 6:  // eight bytes that take two pool slots
                r.Skip(8);
                i++;
                break;
            default:
                if (!r.failed) {
                    error = "unknown constant pool tag " + std::to_string(tag);
                    return false;
                }
        }
    }
    return true;
}

// The name of a class entry of the pool; empty when the index names none.
std::string ClassEntryName(const ClassReader& r, const std::vector<Utf8Entry>& utf8,
                           const std::vector<uint16_t>& classNameIndex, uint16_t classIndex) {
    uint16_t nameIndex = classIndex < classNameIndex.size() ? classNameIndex[classIndex] : 0;
    if (nameIndex == 0 || nameIndex >= utf8.size() || !utf8[nameIndex].present) return "";
    return std::string(reinterpret_cast<const char*>(r.data + utf8[nameIndex].offset), utf8[nameIndex].length);
}

// The fields and methods tables: main and initSingleApplication with the launcher's descriptor.
void ReadEntryMethods(ClassReader& r, const std::vector<Utf8Entry>& utf8, ClassFileInfo& info) {
    for (int table = 0; table < 2 && !r.failed; table++) {  // fields, then methods
        uint16_t count = r.U2();
        for (uint16_t i = 0; i < count && !r.failed; i++) {
            uint16_t flags = r.U2(), nameIndex = r.U2(), descriptorIndex = r.U2();
            SkipAttributes(r);
            if (table == 0 || !Utf8Equals(r, utf8, descriptorIndex, kStringArrayVoid)) continue;
            if (nameIndex < utf8.size() && utf8[nameIndex].present) {
                EntryMethod any{true, (flags & kAccStatic) != 0, (flags & kAccPublic) != 0};
                info.stringArrayMethods.push_back(
                    {std::string(reinterpret_cast<const char*>(r.data + utf8[nameIndex].offset), utf8[nameIndex].length),
                     any});
            }
            EntryMethod* method = Utf8Equals(r, utf8, nameIndex, "main")                    ? &info.main
                                  : Utf8Equals(r, utf8, nameIndex, "initSingleApplication") ? &info.initSingleApplication
                                                                                             : nullptr;
            if (method == nullptr) continue;
            method->found = true;
            method->isStatic = (flags & kAccStatic) != 0;
            method->isPublic = (flags & kAccPublic) != 0;
        }
    }
}

}  // namespace

bool ReadClassFile(const uint8_t* data, size_t size, ClassFileInfo& info, std::string& error) {
    info = ClassFileInfo();
    ClassReader r{data, size};
    if (r.U4() != 0xCAFEBABE) {
        error = "not a class file (no CAFEBABE)";
        return false;
    }
    info.minorVersion = r.U2();
    info.majorVersion = r.U2();
    std::vector<Utf8Entry> utf8;
    std::vector<uint16_t> classNameIndex;
    if (!ReadConstantPool(r, utf8, classNameIndex, error)) return false;
    r.U2();  // access flags
    uint16_t thisClass = r.U2();
    uint16_t superClass = r.U2();
    r.Skip(size_t(r.U2()) * 2);
    if (r.failed) {
        error = "class file is cut short";
        return false;
    }
    info.name = ClassEntryName(r, utf8, classNameIndex, thisClass);
    if (info.name.empty()) {
        error = "class file names no class of its own";
        return false;
    }
    info.superName = ClassEntryName(r, utf8, classNameIndex, superClass);
    ReadEntryMethods(r, utf8, info);
    if (r.failed) {
        error = "class file is cut short";
        return false;
    }
    return true;
}

int JavaReleaseOfClassVersion(int majorVersion) {
    if (majorVersion < 45) return 0;
    // 45 to 48 are the 1.1 to 1.4 releases; from 49 (Java 5) on, release = major - 44.
    return majorVersion <= 48 ? 1 : majorVersion - 44;
}
