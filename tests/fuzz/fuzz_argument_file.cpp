// quorvia-pack reading an argument file of any bytes: it is split or refused with the file and line
// named, lines only grow, and each argument it gives, written back quoted, splits to itself.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "pack/argument_file.h"

static std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (c == '\n') {
            quoted += "\\n";
        } else if (c == '\r') {
            quoted += "\\r";
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<Argument> args;
    std::string error;
    if (!SplitArgumentFile(text, "f.args", args, error)) {
        FUZZ_CHECK(error.compare(0, 7, "f.args:") == 0);
        return 0;
    }
    unsigned line = 1;
    std::string rewritten;
    for (const Argument& a : args) {
        FUZZ_CHECK(a.line >= line && a.file == "f.args");
        line = a.line;
        rewritten += Quoted(a.text) + "\n";
    }
    std::vector<Argument> again;
    FUZZ_CHECK(SplitArgumentFile(rewritten, "f.args", again, error));
    FUZZ_CHECK(again.size() == args.size());
    for (size_t i = 0; i < args.size(); i++) {
        FUZZ_CHECK(again[i].text == args[i].text);
        FUZZ_CHECK(again[i].line == i + 1);
    }
    return 0;
}
