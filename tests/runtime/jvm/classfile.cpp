#include "classfile.h"

#include <algorithm>

namespace rt {

namespace {

class Reader {
public:
    explicit Reader(const std::string& b) : b_(b) {}
    bool U1(uint8_t* v) {
        if (pos_ + 1 > b_.size()) return false;
        *v = static_cast<uint8_t>(b_[pos_++]);
        return true;
    }
    bool U2(uint16_t* v) {
        uint8_t a, c;
        if (!U1(&a) || !U1(&c)) return false;
        *v = static_cast<uint16_t>((a << 8) | c);
        return true;
    }
    bool U4(uint32_t* v) {
        uint16_t a, c;
        if (!U2(&a) || !U2(&c)) return false;
        *v = (static_cast<uint32_t>(a) << 16) | c;
        return true;
    }
    bool Bytes(size_t n, std::string* out) {
        if (n > b_.size() - pos_) return false;
        if (out) *out = b_.substr(pos_, n);
        pos_ += n;
        return true;
    }
    bool AtEnd() const { return pos_ == b_.size(); }

private:
    const std::string& b_;
    size_t pos_ = 0;
};

struct CpEntry {
    uint8_t tag = 0;
    uint16_t a = 0;  // first index (Class/String/MethodType/Module/Package name, ref class, NaT name)
    std::string utf8;
};

}  // namespace

ClassFileError ParseClassFile(const std::string& bytes, ClassFile* out, std::string* message) {
    Reader r(bytes);
    auto fail = [&](const std::string& why) {
        *message = why;
        return ClassFileError::Format;
    };
    uint32_t magic;
    if (!r.U4(&magic) || magic != 0xCAFEBABE) return fail("Incompatible magic value in class file");
    ClassFile cf;
    if (!r.U2(&cf.minor) || !r.U2(&cf.major)) return fail("Truncated class file");
    if (cf.major < 45 || cf.major > kMaxMajorVersion ||
        (cf.major >= 56 && cf.minor != 0 && cf.minor != 0xFFFF)) {
        *message = "class file version " + std::to_string(cf.major) + "." + std::to_string(cf.minor) +
                   " is not supported by this runtime (up to " + std::to_string(kMaxMajorVersion) + ".0)";
        return ClassFileError::UnsupportedVersion;
    }
    uint16_t cpCount;
    if (!r.U2(&cpCount) || cpCount == 0) return fail("Truncated class file");
    std::vector<CpEntry> cp(cpCount);
    for (uint16_t i = 1; i < cpCount; ++i) {
        CpEntry& e = cp[i];
        if (!r.U1(&e.tag)) return fail("Truncated class file");
        uint16_t x;
        uint8_t kind;
        switch (e.tag) {
            case 1: {
                uint16_t len;
                if (!r.U2(&len) || !r.Bytes(len, &e.utf8)) return fail("Truncated class file");
                break;
            }
            case 3:
            case 4:
                if (!r.Bytes(4, nullptr)) return fail("Truncated class file");
                break;
            case 5:
            case 6:
                // Eight-byte constants take two slots.
                if (!r.Bytes(8, nullptr) || i + 1 >= cpCount) return fail("Invalid constant pool entry");
                ++i;
                break;
            case 7:
            case 8:
            case 16:
            case 19:
            case 20:
                if (!r.U2(&e.a)) return fail("Truncated class file");
                if (e.tag == 16 && cf.major < 51) return fail("Class file version does not support constant tag 16");
                if ((e.tag == 19 || e.tag == 20) && cf.major < 53) return fail("Illegal constant pool tag in class file");
                break;
            case 9:
            case 10:
            case 11:
            case 12:
            case 17:
            case 18:
                if (!r.U2(&e.a) || !r.U2(&x)) return fail("Truncated class file");
                if (e.tag == 18 && cf.major < 51) return fail("Class file version does not support constant tag 18");
                if (e.tag == 17 && cf.major < 55) return fail("Class file version does not support constant tag 17");
                break;
            case 15:
                if (!r.U1(&kind) || !r.U2(&e.a)) return fail("Truncated class file");
                if (kind < 1 || kind > 9) return fail("Bad method handle kind");
                if (cf.major < 51) return fail("Class file version does not support constant tag 15");
                break;
            default:
                return fail("Unknown constant tag " + std::to_string(e.tag) + " in class file");
        }
        if (std::find(cf.tagsSeen.begin(), cf.tagsSeen.end(), e.tag) == cf.tagsSeen.end()) cf.tagsSeen.push_back(e.tag);
    }
    auto utf8At = [&](uint16_t idx, std::string* s) {
        if (idx == 0 || idx >= cpCount || cp[idx].tag != 1) return false;
        *s = cp[idx].utf8;
        return true;
    };
    auto classAt = [&](uint16_t idx, std::string* s) {
        if (idx == 0 || idx >= cpCount || cp[idx].tag != 7) return false;
        return utf8At(cp[idx].a, s);
    };
    // Every index the pool itself holds must point at an entry of the right kind.
    for (uint16_t i = 1; i < cpCount; ++i) {
        const CpEntry& e = cp[i];
        std::string tmp;
        if ((e.tag == 7 || e.tag == 8 || e.tag == 16 || e.tag == 19 || e.tag == 20) && !utf8At(e.a, &tmp))
            return fail("Invalid constant pool index " + std::to_string(e.a) + " in class file");
        if ((e.tag == 9 || e.tag == 10 || e.tag == 11) && (e.a == 0 || e.a >= cpCount || cp[e.a].tag != 7))
            return fail("Invalid constant pool index " + std::to_string(e.a) + " in class file");
    }

    uint16_t thisIdx, superIdx, count;
    if (!r.U2(&cf.access) || !r.U2(&thisIdx) || !r.U2(&superIdx)) return fail("Truncated class file");
    if (!classAt(thisIdx, &cf.thisName)) return fail("Invalid this class index " + std::to_string(thisIdx));
    if (superIdx != 0 && !classAt(superIdx, &cf.superName)) return fail("Invalid superclass index " + std::to_string(superIdx));
    if (superIdx == 0 && cf.thisName != "java/lang/Object" && !(cf.access & 0x8000))
        return fail("Invalid superclass index 0 in class file " + cf.thisName);
    if (!r.U2(&count)) return fail("Truncated class file");
    for (uint16_t i = 0; i < count; ++i) {
        uint16_t idx;
        std::string name;
        if (!r.U2(&idx) || !classAt(idx, &name)) return fail("Interface name has bad constant pool index");
        cf.interfaces.push_back(name);
    }
    // Fields and methods share one layout; only the methods are kept.
    for (int table = 0; table < 2; ++table) {
        if (!r.U2(&count)) return fail("Truncated class file");
        for (uint16_t i = 0; i < count; ++i) {
            MethodEntry m;
            uint16_t nameIdx, descIdx, attrs;
            if (!r.U2(&m.access) || !r.U2(&nameIdx) || !r.U2(&descIdx) || !r.U2(&attrs)) return fail("Truncated class file");
            if (!utf8At(nameIdx, &m.name) || !utf8At(descIdx, &m.descriptor))
                return fail("Illegal constant pool index in member of class " + cf.thisName);
            for (uint16_t a = 0; a < attrs; ++a) {
                uint16_t an;
                uint32_t len;
                std::string ignored;
                if (!r.U2(&an) || !r.U4(&len) || !r.Bytes(len, nullptr)) return fail("Truncated class file");
                if (!utf8At(an, &ignored)) return fail("Invalid attribute name index in class file");
            }
            if (table == 1) cf.methods.push_back(m);
        }
    }
    if (!r.U2(&count)) return fail("Truncated class file");
    for (uint16_t a = 0; a < count; ++a) {
        uint16_t an;
        uint32_t len;
        if (!r.U2(&an) || !r.U4(&len) || !r.Bytes(len, nullptr)) return fail("Truncated class file");
    }
    if (!r.AtEnd()) return fail("Extra bytes at the end of class file " + cf.thisName);
    *out = std::move(cf);
    message->clear();
    return ClassFileError::None;
}

}  // namespace rt
